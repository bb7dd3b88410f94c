// The manual folder choice driven through the real SETUP dialog, the way a player uses it: each
// case runs ChooseTargetFolder in a child with its own install.env and product key, and the
// test reads the proposal, types into the field, presses the buttons and answers the notices.
#include "game/manual_choice.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "child.h"
#include "driver.h"
#include "product_key_fixture.h"
#include "scratch.h"
#include "settings/settings.h"
#include "base/settings_file.h"
#include "settings_fixture.h"
#include "target_fixture.h"

namespace {

const char* kGlobal = "UpdaterTestChoose";
const char* kSetupCaption = "アップデート先のフォルダの指定";
const int kFolderField = 1000;
const int kBrowseButton = 1021;
const std::string kNetwork = "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。";
const std::string kRoot = "ルートには適応できません";
const std::string kTooLong = "フォルダのパスが長すぎます。\n短いパスを指定してください。";

// args: the settings file, the report file.
TEST_CHILD(Choose)
{
    CoInitialize(nullptr);  // the folder browser is a shell dialog, as at the updater's start
    LoadSettings(args[0].c_str());
    Report report;
    ReportFolderSearch(report, ChooseTargetFolder);
    WriteReport(args[1], report);
    CoUninitialize();
    return 0;
}

struct Outcome {
    std::string proposal;  // the field when the dialog opened
    std::vector<std::string> notices;
    int result = 99;
    bool untouched = false;
    std::string buffer;
};

HWND WaitForSetup(const driver::Process& child)
{
    return driver::WaitForWindow(child.Id(), driver::kDialogClass, kSetupCaption);
}

// Runs the child; `drive` works the SETUP dialog and fills in what it saw.
Outcome RunChoose(const SettingLines& settings, const std::function<void(driver::Process&, Outcome&)>& drive)
{
    ScratchFolder work("choose");
    WriteSettingsFile(work / "install.env", settings);
    driver::Process child = StartChild("Choose", {work / "install.env", work / "report.txt"}, work.Path());
    Outcome outcome;
    drive(child, outcome);
    EXPECT_EQ(child.WaitForExit(), 0u);
    Report report = ReadReport(work / "report.txt");
    EXPECT_EQ(report["before"], work.Path());
    EXPECT_EQ(report["after"], report["before"]) << "the current folder was not restored";
    outcome.result = std::stoi(report["result"]);
    outcome.untouched = report["untouched"] == "1";
    outcome.buffer = report["buffer"];
    return outcome;
}

// Types `typed` (unless null) into the field, presses 次へ and answers one notice per button.
Outcome ChooseTyped(const SettingLines& settings, const char* typed, const std::vector<int>& buttons)
{
    return RunChoose(settings, [&](driver::Process& child, Outcome& outcome) {
        HWND setup = WaitForSetup(child);
        outcome.proposal = driver::ControlText(setup, kFolderField);
        if (typed != nullptr)
            SetDlgItemTextA(setup, kFolderField, typed);
        driver::Press(setup, IDOK);
        // SETUP's unaddressed controls carry ID -1 too, so it would pass for a message box.
        driver::WaitForWindowGone(setup);
        for (int button : buttons)
            outcome.notices.push_back(driver::AnswerBox(child.Id(), button).text);
    });
}

SettingLines ProductKeySettings(const std::string& local, SettingLines more = {})
{
    SettingLines settings = {{"TITLEBAR", "テスト|ゲーム"}, {"REG_GLOBAL", kGlobal}, {"REG_LOCAL", local}};
    settings.insert(settings.end(), more.begin(), more.end());
    return settings;
}

std::string CancelledProposal(const SettingLines& settings)
{
    Outcome outcome = RunChoose(settings, [](driver::Process& child, Outcome& seen) {
        HWND setup = WaitForSetup(child);
        seen.proposal = driver::ControlText(setup, kFolderField);
        driver::Press(setup, IDCANCEL);
    });
    EXPECT_EQ(outcome.result, -1);
    EXPECT_TRUE(outcome.untouched);
    return outcome.proposal;
}

TEST(ManualChoice, ProposalIsBuiltOrRegistered)
{
    struct Case {
        const char* name;
        SettingLines more;
        const char* isInst;  // nullptr: no values registered
        const char* instTo;  // nullptr: no "InstTo"
        std::string proposal;
    };
    const Case cases[] = {
        {"Defaults", {}, nullptr, nullptr, "C:\\Program Files\\VUVORI_DIV"},
        {"MakerProduct", {{"INSTFOL", "Maker"}, {"INSTTO", "Product"}}, nullptr, nullptr,
         "C:\\Program Files\\Maker\\Product"},
        {"Registered", {}, "1", "D:\\Games\\Product", "D:\\Games\\Product"},
        {"RegisteredWithoutFolder", {{"INSTTO", "Product"}}, "1", nullptr, "C:\\Program Files\\Product"},
        {"RegisteredEmptyFolder", {}, "1", "", ""},
        {"NotRegistered", {}, "0", "D:\\Games\\Product", "C:\\Program Files\\VUVORI_DIV"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        if (c.isInst != nullptr)
            key.SetMachineText("IsInst", c.isInst);
        if (c.instTo != nullptr)
            key.SetMachineText("InstTo", c.instTo);
        EXPECT_EQ(CancelledProposal(ProductKeySettings(c.name, c.more)), c.proposal);
    }
}

struct TypedCase {
    const char* name;
    SettingLines more;
    std::string typed;
    std::vector<int> buttons;
    std::vector<std::string> notices;
    int result;
    std::string buffer;  // when the result is 0
};

TEST(ManualChoice, TypedTextIsNormalisedCheckedAndConfirmed)
{
    const SettingLines make = {{"INSTMAKEFOL", "1"}, {"INSTFOL", "Maker"}, {"INSTTO", "Product"}};
    const std::string omote = "D:\\表";
    const TypedCase cases[] = {
        {"ForwardSlashes", {}, "D:/Games/Product/", {IDYES}, {UpdateQuestion("D:\\Games\\Product")}, 0, "D:\\Games\\Product"},
        {"DriveRelative", {}, "Games\\Product", {IDYES}, {UpdateQuestion("C:\\Games\\Product")}, 0, "C:\\Games\\Product"},
        {"LeadingBackslash", {}, "\\Games\\Product", {IDYES}, {UpdateQuestion("C:\\Games\\Product")}, 0,
         "C:\\Games\\Product"},
        {"DriveWithoutSeparator", {}, "D:Games", {IDYES}, {UpdateQuestion("D:\\Games")}, 0, "D:\\Games"},
        {"DoubleByteTrailBackslash", {}, omote + "\\", {IDYES}, {UpdateQuestion(omote)}, 0, omote},
        {"MakeFolder", make, "D:\\Games", {IDYES}, {UpdateQuestion("D:\\Games\\Maker\\Product")}, 0,
         "D:\\Games\\Maker\\Product"},
        {"MakeFolderKeepsProduct", make, "D:\\Games\\Product", {IDYES}, {UpdateQuestion("D:\\Games\\Product")}, 0,
         "D:\\Games\\Product"},
        {"MakeFolderOnRoot", make, "D:\\", {IDYES}, {UpdateQuestion("D:\\Maker\\Product")}, 0, "D:\\Maker\\Product"},
        {"Declined", {}, "D:\\Games", {IDNO}, {UpdateQuestion("D:\\Games")}, -1, ""},
        {"NetworkPath", {}, "\\\\server\\share", {IDOK}, {kNetwork}, -1, ""},
        {"DoubleBackslashInside", {}, "D:\\Games\\\\Product", {IDOK}, {kNetwork}, -1, ""},
        {"Root", {}, "D:\\", {IDRETRY}, {kRoot}, -1, ""},
        {"DriveOnly", {}, "D:", {IDRETRY}, {kRoot}, -1, ""},
        {"EmptyField", {}, "", {IDRETRY}, {kRoot}, -1, ""},
        {"TooLongAfterMakeFolder", make, "D:\\" + std::string(250, 'g'), {IDOK}, {kTooLong}, -1, ""},
    };
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        Outcome outcome = ChooseTyped(ProductKeySettings(c.name, c.more), c.typed.c_str(), c.buttons);
        EXPECT_EQ(outcome.notices, c.notices);
        EXPECT_EQ(outcome.result, c.result);
        if (c.result == 0)
            EXPECT_EQ(outcome.buffer, c.buffer);
        else
            EXPECT_TRUE(outcome.untouched);
    }
}

TEST(ManualChoice, KeyFileAndVersionGateAreTestedInTheChosenFolder)
{
    ScratchFolder installed("installed");
    WriteFileBytes(installed / "game.exe", "MZ");
    ScratchFolder empty("empty");
    TestProductKey key(kGlobal, "KeyFile");
    const SettingLines keyFile = ProductKeySettings("KeyFile", {{"KEYFILE", "game.exe"}});

    Outcome missing = ChooseTyped(keyFile, empty.Path().c_str(), {IDOK});
    EXPECT_EQ(missing.notices,
              std::vector<std::string>{"指定されたフォルダには [ テスト ゲーム ] 本体は発見できませんでした"});
    EXPECT_EQ(missing.result, -1);

    Outcome found = ChooseTyped(keyFile, (installed.Path() + "\\").c_str(), {IDYES});
    EXPECT_EQ(found.notices, std::vector<std::string>{UpdateQuestion(installed.Path())});
    EXPECT_EQ(found.result, 0);
    EXPECT_EQ(found.buffer, installed.Path());

    key.SetUserText("Version", "110");
    SettingLines gated = keyFile;
    gated.insert(gated.end(), {{"CHKREG", "Version"}, {"CHKREGVER", "100"}, {"CHKREGVERHIGH", "109"}});
    Outcome refused = ChooseTyped(gated, installed.Path().c_str(), {IDOK});
    EXPECT_EQ(refused.notices, std::vector<std::string>{kAlreadyApplied});
    EXPECT_EQ(refused.result, -1);
    EXPECT_TRUE(refused.untouched);
}

TEST(ManualChoice, ProposalAccepted)
{
    TestProductKey key(kGlobal, "Accepted");
    Outcome outcome = ChooseTyped(ProductKeySettings("Accepted", {{"INSTFOL", "Maker"}, {"INSTTO", "Product"}}), nullptr,
                                  {IDYES});
    EXPECT_EQ(outcome.proposal, "C:\\Program Files\\Maker\\Product");
    EXPECT_EQ(outcome.notices, std::vector<std::string>{UpdateQuestion("C:\\Program Files\\Maker\\Product")});
    EXPECT_EQ(outcome.buffer, "C:\\Program Files\\Maker\\Product");
}

// A proposal too long to show opens the dialog with an empty field: the player can still type or
// pick the folder.
TEST(ManualChoice, ProposalThatWouldPass259BytesLeavesTheFieldEmpty)
{
    ScratchFolder installed("installed");
    WriteFileBytes(installed / "game.exe", "MZ");
    TestProductKey key(kGlobal, "LongProposal");
    const SettingLines settings = ProductKeySettings(
        "LongProposal", {{"INSTFOL", std::string(127, 'm')}, {"INSTTO", std::string(127, 'p')}, {"KEYFILE", "game.exe"}});
    Outcome outcome = RunChoose(settings, [&](driver::Process& child, Outcome& seen) {
        HWND setup = WaitForSetup(child);
        seen.proposal = driver::ControlText(setup, kFolderField);
        SetDlgItemTextA(setup, kFolderField, installed.Path().c_str());
        driver::Press(setup, IDOK);
        driver::WaitForWindowGone(setup);
        seen.notices.push_back(driver::AnswerBox(child.Id(), IDYES).text);
    });
    EXPECT_EQ(outcome.proposal, "");
    EXPECT_EQ(outcome.notices, std::vector<std::string>{UpdateQuestion(installed.Path())});
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.buffer, installed.Path());
}

// A registered product whose key file has gone missing comes here from the automatic location;
// its registered folder is shown, so a built proposal too long to show must not stop it; where
// nothing is registered the field starts empty.
TEST(ManualChoice, LongBuiltProposalIsRefusedOnlyWhereItIsShownOrUsed)
{
    ScratchFolder registered("registered");  // short, and without the key file
    const std::string missingKeyFile = "指定されたフォルダには [ テスト ゲーム ] 本体は発見できませんでした";
    const SettingLines longNames = {
        {"INSTFOL", std::string(127, 'm')}, {"INSTTO", std::string(127, 'p')}, {"KEYFILE", "game.exe"}};
    struct Case {
        const char* name;
        const char* instTo;  // nullptr: IsInst 1 without "InstTo"
        const char* makeFolder;
        std::string proposal;
        std::string notice;  // empty: the dialog is cancelled
    };
    const Case cases[] = {
        {"RegisteredWithoutFolder", nullptr, "0", "", ""},
        {"RegisteredFolderShown", registered.Path().c_str(), "0", registered.Path(), missingKeyFile},
        // The product folder appended to the chosen text is used: that text is refused.
        {"RegisteredFolderMadeLonger", registered.Path().c_str(), "1", registered.Path(), kTooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        key.SetInstalled(c.instTo);
        SettingLines more = longNames;
        more.push_back({"INSTMAKEFOL", c.makeFolder});
        Outcome outcome = RunChoose(ProductKeySettings(c.name, more), [&](driver::Process& child, Outcome& seen) {
            HWND setup = WaitForSetup(child);
            seen.proposal = driver::ControlText(setup, kFolderField);
            driver::Press(setup, c.notice.empty() ? IDCANCEL : IDOK);
            driver::WaitForWindowGone(setup);
            if (!c.notice.empty())
                seen.notices.push_back(driver::AnswerBox(child.Id(), IDOK).text);
        });
        EXPECT_EQ(outcome.proposal, c.proposal);
        EXPECT_EQ(outcome.notices, c.notice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.notice});
        EXPECT_EQ(outcome.result, -1);
        EXPECT_TRUE(outcome.untouched);
    }
}

HWND WaitForBrowser(DWORD processId, HWND setup)
{
    HWND browser = nullptr;
    driver::WaitUntil("the folder browser (a second dialog of process " + std::to_string(processId) + ")", [&] {
        for (const driver::TopWindow& window : driver::VisibleWindows(processId)) {
            if (window.window != setup && window.className == driver::kDialogClass) {
                browser = window.window;
                return true;
            }
        }
        return false;
    }, 10000);
    return browser;
}

TEST(ManualChoice, BrowseThenCancelPutsBackTheLastSetText)
{
    TestProductKey key(kGlobal, "Browse");
    Outcome outcome = RunChoose(ProductKeySettings("Browse"), [](driver::Process& child, Outcome& seen) {
        HWND setup = WaitForSetup(child);
        seen.proposal = driver::ControlText(setup, kFolderField);
        SetDlgItemTextA(setup, kFolderField, "E:\\Typed\\Folder");
        ASSERT_EQ(driver::ControlText(setup, kFolderField), "E:\\Typed\\Folder");
        driver::Press(setup, kBrowseButton);
        HWND browser = WaitForBrowser(child.Id(), setup);
        driver::Press(browser, IDCANCEL);
        driver::WaitForWindowGone(browser);
        driver::WaitUntil("the folder field to show the proposal again",
                          [&] { return driver::ControlText(setup, kFolderField) == seen.proposal; }, 2000);
        driver::Press(setup, IDCANCEL);
    });
    EXPECT_EQ(outcome.proposal, "C:\\Program Files\\VUVORI_DIV");
    EXPECT_EQ(outcome.notices, std::vector<std::string>{});
    EXPECT_EQ(outcome.result, -1);
}

TEST(ManualChoice, CloseBoxCancels)
{
    TestProductKey key(kGlobal, "CloseBox");
    Outcome outcome = RunChoose(ProductKeySettings("CloseBox"), [](driver::Process& child, Outcome&) {
        driver::Close(WaitForSetup(child));
    });
    EXPECT_EQ(outcome.result, -1);
    EXPECT_TRUE(outcome.untouched);
}

TEST(ManualChoice, CancelOnTheRootNoticeEndsTheProcess)
{
    TestProductKey key(kGlobal, "RootCancel");
    ScratchFolder work("choose");
    WriteSettingsFile(work / "install.env", ProductKeySettings("RootCancel"));
    driver::Process child = StartChild("Choose", {work / "install.env", work / "report.txt"}, work.Path());
    HWND setup = WaitForSetup(child);
    SetDlgItemTextA(setup, kFolderField, "D:\\");
    driver::Press(setup, IDOK);
    // SETUP's unaddressed controls carry ID -1 too, so it would pass for a message box.
    driver::WaitForWindowGone(setup);
    EXPECT_EQ(driver::AnswerBox(child.Id(), IDCANCEL).text, kRoot);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_FALSE(FileExists(work / "report.txt"));
}

}  // namespace
