// The automatic location and the version gate against Wine's real registry and file system.
// Settings are process-wide and read once, so every case runs in a child of its own with its
// own install.env and product key; the notices are read and answered from outside.
#include "game/target_location.h"
#include "game/installed_game.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

const char* kGlobal = "UpdaterTestLocate";
const std::string kTooOld = "アップデート元のバージョンが不適合です";
const std::string kNotInstalled = "本体がインストールされていません";
const std::string kNoFolder = "インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください";

// args: what to call ("locate" or "gate"), the settings file, the report file.
TEST_CHILD(Locate)
{
    LoadSettings(args[1].c_str());
    Report report;
    ReportFolderSearch(report, [&](char* buffer) {
        return args[0] == "gate" ? (CheckVersionGate() ? 1 : 0) : LocateTargetFolder(buffer);
    });
    WriteReport(args[2], report);
    return 0;
}

struct Outcome {
    std::vector<std::string> notices;
    int result = 99;
    bool untouched = false;
    std::string buffer;
};

// Runs the child, answers one notice per button in order, and checks that the current folder
// came back; an unexpected further notice keeps the child from ending and fails the wait.
Outcome RunLocate(const std::string& mode, const SettingLines& settings, const std::vector<int>& buttons)
{
    ScratchFolder work("locate");
    WriteSettingsFile(work / "install.env", settings);
    driver::Process child = StartChild("Locate", {mode, work / "install.env", work / "report.txt"}, work.Path());
    Outcome outcome;
    for (int button : buttons)
        outcome.notices.push_back(driver::AnswerBox(child.Id(), button).text);
    EXPECT_EQ(child.WaitForExit(), 0u);
    Report report = ReadReport(work / "report.txt");
    EXPECT_EQ(report["before"], work.Path());
    EXPECT_EQ(report["after"], report["before"]) << "the current folder was not restored";
    outcome.result = std::stoi(report["result"]);
    outcome.untouched = report["untouched"] == "1";
    outcome.buffer = report["buffer"];
    return outcome;
}

SettingLines ProductKeySettings(const std::string& local, SettingLines more = {})
{
    SettingLines settings = {{"TITLEBAR", "Locate|Test"}, {"REG_GLOBAL", kGlobal}, {"REG_LOCAL", local}};
    settings.insert(settings.end(), more.begin(), more.end());
    return settings;
}

struct GateCase {
    const char* name;
    SettingLines gate;
    const char* storedVersion;  // nullptr: no value
    const std::string* notice;  // nullptr: the gate passes
};

TEST(VersionGate, RefusesOutsideTheInclusiveBoundsBeforeReadingTheMachineKey)
{
    const SettingLines bounds = {{"CHKREG", "Version"}, {"CHKREGVER", "100"}, {"CHKREGVERHIGH", "109"}};
    const GateCase cases[] = {
        {"BelowLow", bounds, "99", &kTooOld},
        {"Low", bounds, "100", nullptr},
        {"High", bounds, "109", nullptr},
        {"AboveHigh", bounds, "110", &kAlreadyApplied},
        {"NumberWithText", bounds, "105 build 3", nullptr},
        {"ValueMissing", bounds, nullptr, &kTooOld},
        {"NotANumber", bounds, "abc", &kTooOld},
        {"NoHighBound", {{"CHKREG", "Version"}}, "1", &kAlreadyApplied},
        {"NoHighBoundZero", {{"CHKREG", "Version"}}, "0", nullptr},
        {"NoHighBoundValueMissing", {{"CHKREG", "Version"}}, nullptr, nullptr},
        {"NoChkReg", {{"CHKREGVER", "100"}, {"CHKREGVERHIGH", "109"}}, "999", nullptr},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        ScratchFolder installed("installed");
        key.SetInstalled(installed.Path().c_str());
        if (c.storedVersion != nullptr)
            key.SetUserText("Version", c.storedVersion);

        // A gate that passes leads on to the question, answered No: -2 either way, but only
        // a refusal shows the gate's notice and nothing after it.
        Outcome outcome = RunLocate("locate", ProductKeySettings(c.name, c.gate), {c.notice ? IDOK : IDNO});
        const std::string expected = c.notice ? *c.notice : UpdateQuestion(installed.Path());
        EXPECT_EQ(outcome.notices, std::vector<std::string>{expected});
        EXPECT_EQ(outcome.result, LOCATE_STOP);
        EXPECT_TRUE(outcome.untouched);
    }
}

TEST(VersionGate, OnItsOwnPassesSilentlyOrRefusesWithOneNotice)
{
    TestProductKey key(kGlobal, "GateAlone");
    key.SetUserText("Version", "5");
    Outcome pass = RunLocate("gate", ProductKeySettings("GateAlone"), {});
    EXPECT_EQ(pass.result, 1);

    Outcome refuse = RunLocate("gate", ProductKeySettings("GateAlone", {{"CHKREG", "Version"}, {"CHKREGVER", "6"}}), {IDOK});
    EXPECT_EQ(refuse.notices, std::vector<std::string>{kTooOld});
    EXPECT_EQ(refuse.result, 0);

    // A non-text version counts as 0.
    const DWORD version = 5;
    key.SetUserRaw("Version", REG_DWORD, std::string((const char*)&version, sizeof version));
    Outcome dword = RunLocate("gate", ProductKeySettings("GateAlone", {{"CHKREG", "Version"}, {"CHKREGVER", "1"}}), {IDOK});
    EXPECT_EQ(dword.notices, std::vector<std::string>{kTooOld});
}

TEST(LocateTargetFolder, ProductNotInstalled)
{
    struct Case {
        const char* name;
        DWORD type;     // 0: no value
        std::string bytes;
    };
    const DWORD one = 1;
    const Case cases[] = {
        {"IsInstMissing", 0, ""},
        {"IsInstZero", REG_SZ, std::string("0\0", 2)},
        {"IsInstNotANumber", REG_SZ, std::string("yes\0", 4)},
        {"IsInstDword", REG_DWORD, std::string((const char*)&one, sizeof one)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        ScratchFolder installed("installed");
        key.SetMachineText("InstTo", installed.Path());
        if (c.type != 0)
            key.SetMachineRaw("IsInst", c.type, c.bytes);
        Outcome outcome = RunLocate("locate", ProductKeySettings(c.name), {IDOK});
        EXPECT_EQ(outcome.notices, std::vector<std::string>{kNotInstalled});
        EXPECT_EQ(outcome.result, LOCATE_NOT_FOUND);
        EXPECT_TRUE(outcome.untouched);
    }
}

TEST(LocateTargetFolder, InstalledFolderThatFailsItsTests)
{
    ScratchFolder installed("installed");
    struct Case {
        const char* name;
        const char* instTo;  // nullptr: no value
        SettingLines more;
    };
    const std::string missingFolder = installed / "missing";
    const std::string tooLong = installed.Path() + "\\" + std::string(300, 'x');
    const Case cases[] = {
        {"InstToMissing", nullptr, {}},
        {"InstToEmpty", "", {}},
        {"FolderMissing", missingFolder.c_str(), {}},
        {"KeyFileMissing", installed.Path().c_str(), {{"KEYFILE", "game.exe"}}},
        {"InstToCutTo259", tooLong.c_str(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        key.SetInstalled(c.instTo);
        Outcome outcome = RunLocate("locate", ProductKeySettings(c.name, c.more), {IDOK});
        EXPECT_EQ(outcome.notices, std::vector<std::string>{kNoFolder});
        EXPECT_EQ(outcome.result, LOCATE_NOT_FOUND);
        EXPECT_TRUE(outcome.untouched);
    }
}

TEST(LocateTargetFolder, FoundFolderIsConfirmedOrDeclined)
{
    ScratchFolder installed("installed");
    WriteFileBytes(installed / "game.exe", "MZ");
    TestProductKey key(kGlobal, "Found");
    key.SetInstalled(installed.Path().c_str());
    const SettingLines settings = ProductKeySettings("Found", {{"KEYFILE", "game.exe"}});

    Outcome yes = RunLocate("locate", settings, {IDYES});
    EXPECT_EQ(yes.notices, std::vector<std::string>{UpdateQuestion(installed.Path())});
    EXPECT_EQ(yes.result, LOCATE_FOUND);
    EXPECT_EQ(yes.buffer, installed.Path());

    Outcome no = RunLocate("locate", settings, {IDNO});
    EXPECT_EQ(no.notices, std::vector<std::string>{UpdateQuestion(installed.Path())});
    EXPECT_EQ(no.result, LOCATE_STOP);
    EXPECT_TRUE(no.untouched);
}

TEST(LocateTargetFolder, StoredFolderIsUsedAsItStands)
{
    ScratchFolder installed("installed");
    // 表 ends in 0x5C: the folder must be entered with its last byte intact.
    const std::string omote = installed / "表";
    ASSERT_TRUE(CreateDirectoryA(omote.c_str(), nullptr));
    WriteFileBytes(omote + "\\game.exe", "MZ");
    const std::string withBackslash = installed.Path() + "\\";

    struct Case {
        const char* name;
        std::string stored;
        SettingLines more;
    };
    const Case cases[] = {
        {"TrailingBackslashStays", withBackslash, {}},
        {"DoubleByteFolderWithKeyFile", omote, {{"KEYFILE", "game.exe"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestProductKey key(kGlobal, c.name);
        key.SetInstalled(c.stored.c_str());
        Outcome outcome = RunLocate("locate", ProductKeySettings(c.name, c.more), {IDYES});
        EXPECT_EQ(outcome.notices, std::vector<std::string>{UpdateQuestion(c.stored)});
        EXPECT_EQ(outcome.result, LOCATE_FOUND);
        EXPECT_EQ(outcome.buffer, c.stored);
    }
}

}  // namespace
