// The update run from end to end against a prepared installation: each run is a child process
// with its own settings, package, product key and target folder, driven from outside through
// its notices and dialogs as a player would.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <stdio.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "child.h"
#include "import_hook.h"
#include "extraction/extraction.h"
#include "package/package_writer.h"
#include "product_key_fixture.h"
#include "pseudo_random.h"
#include "scratch.h"
#include "base/action_file.h"
#include "settings/action_lists.h"
#include "settings/settings.h"
#include "base/settings_file.h"
#include "base/notices.h"
#include "ui/end_dialog.h"
#include "update/update_run.h"
#include "update_fixture.h"

using driver::AnswerBox;
using driver::Box;
using update_fixture::EndAction;
using update_fixture::Section;

namespace {

// ---- The child: one update run with hooks that record what it asked of the platform.

std::string recordFile;
int iniWrites = 0;

void Record(const std::string& line)
{
    FILE* file = fopen(recordFile.c_str(), "ab");
    if (file != nullptr) {
        fprintf(file, "%s\n", line.c_str());
        fclose(file);
    }
}

// The readme is only recorded, so no viewer is started under Wine.
BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOA* info)
{
    Record(std::string("open=") + (info->lpVerb ? info->lpVerb : "") + "|" + (info->lpFile ? info->lpFile : "") + "|" +
           CurrentFolder());
    return TRUE;
}

using IniWriter = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, LPCSTR);
IniWriter realIniWriter;

BOOL WINAPI CountingIniWriter(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    ++iniWrites;
    return realIniWriter(section, key, value, file);
}

}  // namespace

// args: the package file, the record file. Started in the work folder that holds install.env.
TEST_CHILD(Run)
{
    recordFile = args.at(1);
    if (HookImport("shell32.dll", "ShellExecuteExA", reinterpret_cast<void*>(RecordingShellExecute)) == nullptr)
        return 201;
    realIniWriter = reinterpret_cast<IniWriter>(
        HookImport("kernel32.dll", "WritePrivateProfileStringA", reinterpret_cast<void*>(CountingIniWriter)));
    if (realIniWriter == nullptr)
        return 202;
    LoadSettings("install.env");
    LoadActionLists("install.env");
    HWND owner = CreateWindowExA(0, "STATIC", GetTitleText(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    SetOwnerWindow(owner);
    SetPackageFilePath(args.at(0).c_str());

    int result = RunUpdate();

    Record("result=" + std::to_string(result));
    Record("cwd=" + CurrentFolder());
    Record("flag=" + std::to_string(GetReadmeFlag()));
    Record("iniwrites=" + std::to_string(iniWrites));
    return result;
}

namespace {

// ---- The test side.

const char kAbort[] = "アップデートを中止しました";
const char kSetupCaption[] = "アップデート先のフォルダの指定";
const DWORD kAbandoned = 0xFFFFFFFFu;

std::multimap<std::string, std::string> ReadRecord(const std::string& path)
{
    std::multimap<std::string, std::string> record;
    if (!FileExists(path))
        return record;
    std::string text = ReadFileBytes(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            record.emplace(line.substr(0, equals), line.substr(equals + 1));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return record;
}

std::string One(const std::multimap<std::string, std::string>& record, const std::string& key)
{
    auto found = record.find(key);
    return found == record.end() ? "<none>" : found->second;
}

std::string Unslashed(std::string path)
{
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    CharLowerA(&path[0]);
    return path;
}

uint64_t Time(int index)
{
    return 132223104000000000ull + static_cast<uint64_t>(index) * 86400ull * 10000000ull;  // 2020-01-01 on
}

// What the package carries besides install.env. The settings file and the title image are removed
// again after the run; everything else must be in place with its bytes and time.
std::vector<PackageFileEntry> Payload(const std::string& readmeName)
{
    return {
        {"insttscr.rct", "title picture bytes", Time(1)},
        {readmeName, "お読みください\r\n", Time(2)},
        {"game.dat", kit::RandomBytes(300000, 7), Time(3)},  // two whole blocks and a tail
        {"empty.dat", "", Time(4)},
        {"data\\", "", 0, true},
        {"data\\sub\\", "", 0, true},
        {"data\\sub\\deep.bin", kit::RandomBytes(1000, 9), Time(5)},
        {"表\\", "", 0, true},
        {"表\\ソフト.txt", "表の中身", Time(6)},
    };
}

// One prepared installation: registry, target folder with the key file, work folder with
// install.env and the package file.
class Installation {
public:
    explicit Installation(const std::string& name, const std::string& regGlobal = "UpdRunTest")
        : work_("runwork"), target_("runtarget"),
          key_(regGlobal, name + "_" + std::to_string(GetCurrentProcessId()))
    {
        WriteFileBytes(target_ / "game.exe", "installed program");
        WriteFileBytes(target_ / "game.dat", "old contents to be replaced");
    }

    const std::string& Target() const { return target_.Path(); }
    const std::string& Work() const { return work_.Path(); }
    TestProductKey& Key() { return key_; }
    std::string RecordPath() const { return work_ / "record.txt"; }

    void Register(const std::string& folder)
    {
        key_.SetMachineText("IsInst", "1");
        key_.SetMachineText("InstTo", folder);
    }

    // The title and the key file are always set; the product key components are the test's own.
    void Write(std::vector<std::pair<std::string, std::string>> keys, const std::vector<Section>& sections,
               const std::string& readmeName = "readme.txt")
    {
        keys.insert(keys.begin(), {{"TITLEBAR", "Upd|Run|Test"}, {"KEYFILE", "game.exe"}, {"REG_LOCAL", key_.Local()}});
        settings_ = update_fixture::SettingsText(keys, sections);
        WriteFileBytes(work_ / "install.env", settings_);
        payload_ = Payload(readmeName);
        std::vector<PackageFileEntry> entries = payload_;
        entries.insert(entries.begin(), {"install.env", settings_, Time(0)});
        std::vector<unsigned char> image(4096, 0x90);
        image[0] = 'M';
        image[1] = 'Z';
        std::vector<unsigned char> file = BuildPackageFile(image, entries);
        WriteFileBytes(work_ / "update.bin", std::string(file.begin(), file.end()));
    }

    driver::Process Start() const
    {
        return StartChild("Run", {work_ / "update.bin", RecordPath()}, work_.Path());
    }

    void ExpectEverythingInPlace() const
    {
        for (const PackageFileEntry& entry : payload_) {
            SCOPED_TRACE(entry.name);
            if (entry.folder) {
                EXPECT_TRUE(FolderExists(target_ / entry.name));
            } else if (entry.name == "insttscr.rct") {
                EXPECT_FALSE(FileExists(target_ / entry.name));
            } else {
                ASSERT_TRUE(FileExists(target_ / entry.name));
                EXPECT_EQ(ReadFileBytes(target_ / entry.name), entry.contents);
                EXPECT_EQ(LastWriteTime(target_ / entry.name), entry.lastWriteTime);
            }
        }
        EXPECT_FALSE(FileExists(target_ / "install.env"));
        EXPECT_EQ(ReadFileBytes(target_ / "game.exe"), "installed program");
    }

    void ExpectNothingCopied() const
    {
        EXPECT_EQ(ReadFileBytes(target_ / "game.dat"), "old contents to be replaced");
        for (const char* name : {"install.env", "insttscr.rct", "readme.txt", "empty.dat", "data", "表"})
            EXPECT_FALSE(FileExists(target_ / name) || FolderExists(target_ / name)) << name;
    }

private:
    ScratchFolder work_;
    ScratchFolder target_;
    TestProductKey key_;
    std::string settings_;
    std::vector<PackageFileEntry> payload_;
};

std::string Confirmation(const std::string& folder)
{
    return "[" + folder + "]をアップデートします";
}

std::vector<std::string> IniSection(const std::string& file, const std::string& section)
{
    char buffer[8192] = "";
    DWORD length = GetPrivateProfileSectionA(section.c_str(), buffer, sizeof buffer, file.c_str());
    std::vector<std::string> lines;
    for (DWORD i = 0; i < length;) {
        std::string line = buffer + i;
        if (line.empty())
            break;
        lines.push_back(line);
        i += static_cast<DWORD>(line.size()) + 1;
    }
    return lines;
}

// Exactly one shell call: the verb "open", the readme's name as configured, and the target
// folder current at that moment.
void ExpectOpened(const std::multimap<std::string, std::string>& record, const std::string& name,
                  const std::string& folder)
{
    ASSERT_EQ(record.count("open"), 1u);
    std::string prefix = "open|" + name + "|";
    std::string seen = One(record, "open");
    ASSERT_EQ(seen.substr(0, prefix.size()), prefix);
    EXPECT_EQ(Unslashed(seen.substr(prefix.size())), Unslashed(folder));
}

std::string Sz(const std::string& text)
{
    return std::string(text.c_str(), text.size() + 1);
}

const std::vector<std::string> kIniLines = {
    "Path=REP_INSTALL\\save",
    "no equals sign here",
    "Name=ゲーム",
};
const std::vector<std::string> kRegLines = {
    "[HKEY_CURRENT_USER\\Software\\Whatever]",
    "\"Dir\"=\"REP_INSTALL\"",
    "\"Count\"=dword:00000001",
    "\"Path\"=\"C:\\\\Games\\\\\\\"Demo\\\"\"",
    "\"Version\"=\"110\"",
};
const std::vector<std::string> kRemovals = {"install.env", "insttscr.rct"};

TEST(UpdateRun, CompleteRunCopiesWritesRemovesAndOpensTheReadmeFromTheTarget)
{
    Installation installation("Complete");
    ScratchFolder iniFolder("runini");
    std::string iniFile = iniFolder / "game.ini";
    installation.Register(installation.Target());
    installation.Key().SetUserText("Version", "105");
    installation.Write({{"REG_GLOBAL", installation.Key().Global()},
                        {"INI_FILE", iniFile},
                        {"INI_SECTION", "Game"},
                        {"CHKREG", "Version"},
                        {"CHKREGVER", "100"},
                        {"CHKREGVERHIGH", "109"},
                        {"INSTREADME", "お読みください"},
                        {"INSTREADMEFL", "manual.txt"}},
                       {{"[ini]", kIniLines}, {"[reg]", kRegLines}, {"[delfiles_afterinst]", kRemovals}}, "manual.txt");

    driver::Process child = installation.Start();
    Box question = AnswerBox(child.Id(), IDYES);
    EXPECT_EQ(question.text, Confirmation(installation.Target()));
    EXPECT_EQ(question.caption, "Upd Run Test アップデータ");
    update_fixture::EndDialogSeen end = update_fixture::DriveEndDialog(child.Id(), EndAction::CheckThenOk);
    ASSERT_EQ(child.WaitForExit(), 0u);

    EXPECT_TRUE(end.hasCheckBox);
    EXPECT_EQ(end.checkText, "お読みください");
    installation.ExpectEverythingInPlace();
    EXPECT_EQ(IniSection(iniFile, "Game"),
              (std::vector<std::string>{"Path=" + installation.Target() + "\\save", "Name=ゲーム"}));
    EXPECT_EQ(installation.Key().UserValue("Dir").data, Sz(installation.Target()));
    EXPECT_EQ(installation.Key().UserValue("Path").data, Sz("C:\\Games\\\"Demo\""));
    EXPECT_EQ(installation.Key().UserValue("Version").data, Sz("110"));
    EXPECT_FALSE(installation.Key().UserValue("Count").present);

    auto record = ReadRecord(installation.RecordPath());
    EXPECT_EQ(One(record, "result"), "0");
    EXPECT_EQ(Unslashed(One(record, "cwd")), Unslashed(installation.Target()));
    EXPECT_EQ(One(record, "iniwrites"), "2");
    ExpectOpened(record, "manual.txt", installation.Target());
}

// Every other way through: which settings, how the player leaves the end dialog, and what
// must (not) have been written or opened.
struct RunCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> keys;  // REG_GLOBAL is added unless listed
    bool trailingBackslash;
    EndAction action;
    bool longTemplate;
    const char* opened;  // nullptr: nothing opened
};

TEST(UpdateRun, SettingsDecideWhatIsWrittenAndTheEndDialogWhatIsOpened)
{
    const std::string windowsIni = "upd_run_" + std::to_string(GetCurrentProcessId()) + ".ini";
    char windowsFolder[MAX_PATH] = "";
    GetWindowsDirectoryA(windowsFolder, MAX_PATH);
    const std::string windowsIniPath = std::string(windowsFolder) + "\\" + windowsIni;
    struct Cleanup {
        std::string path;
        ~Cleanup() { DeleteFileA(path.c_str()); }
    } cleanup{windowsIniPath};
    DeleteFileA(windowsIniPath.c_str());

    const RunCase cases[] = {
        {"nothing configured: no INI, no registry, short end dialog, Enter",
         {{"REG_GLOBAL", "-"}}, false, EndAction::EnterKey, false, nullptr},
        {"INI and REG_GLOBAL explicitly unused, readme box left unticked",
         {{"REG_GLOBAL", "-"}, {"INI_FILE", "-"}, {"INI_SECTION", "Game"}, {"INSTREADME", "readme"}},
         false, EndAction::Ok, true, nullptr},
        {"INI file without a folder lands in the Windows folder; Esc after ticking",
         {{"INI_FILE", windowsIni}, {"INI_SECTION", "Game"}, {"INSTREADME", "readme"}},
         false, EndAction::CheckThenEscapeKey, true, nullptr},
        {"close box after ticking opens nothing",
         {{"INSTREADME", "readme"}}, false, EndAction::CheckThenCloseBox, true, nullptr},
        {"the short dialog opens nothing whatever the readme file",
         {{"INSTREADME", "-"}, {"INSTREADMEFL", "readme.txt"}}, false, EndAction::Ok, false, nullptr},
        {"registered folder with a trailing backslash keeps it; default readme name",
         {{"INSTREADME", "readme"}}, true, EndAction::CheckThenEnterKey, true, "readme.txt"},
    };
    int index = 0;
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        bool unusedRegistry = false;
        std::vector<std::pair<std::string, std::string>> keys = c.keys;
        for (const auto& key : keys)
            unusedRegistry = unusedRegistry || (key.first == "REG_GLOBAL" && key.second[0] == '-');
        Installation installation("Case" + std::to_string(index++), unusedRegistry ? "-" : "UpdRunTest");
        if (!unusedRegistry)
            keys.push_back({"REG_GLOBAL", installation.Key().Global()});
        std::string registered = installation.Target() + (c.trailingBackslash ? "\\" : "");
        installation.Register(registered);
        installation.Write(keys, {{"[ini]", kIniLines}, {"[reg]", kRegLines}, {"[delfiles_afterinst]", kRemovals}});

        driver::Process child = installation.Start();
        EXPECT_EQ(AnswerBox(child.Id(), IDYES).text, Confirmation(registered));
        update_fixture::EndDialogSeen end = update_fixture::DriveEndDialog(child.Id(), c.action);
        ASSERT_EQ(child.WaitForExit(), 0u);

        EXPECT_EQ(end.hasCheckBox, c.longTemplate);
        installation.ExpectEverythingInPlace();
        auto record = ReadRecord(installation.RecordPath());
        EXPECT_EQ(Unslashed(One(record, "cwd")), Unslashed(installation.Target()));
        if (c.opened == nullptr) {
            EXPECT_EQ(record.count("open"), 0u);
        } else {
            ExpectOpened(record, c.opened, installation.Target());
        }
        bool iniUsed = false;
        for (const auto& key : keys)
            iniUsed = iniUsed || (key.first == "INI_FILE" && key.second[0] != '-');
        EXPECT_EQ(One(record, "iniwrites"), iniUsed ? "2" : "0");
        if (iniUsed) {
            EXPECT_EQ(IniSection(windowsIniPath, "Game"),
                      (std::vector<std::string>{"Path=" + registered + "\\save", "Name=ゲーム"}));
        }
        EXPECT_EQ(installation.Key().UserValue("Dir").present, !unusedRegistry);
        if (!unusedRegistry) {
            EXPECT_EQ(installation.Key().UserValue("Dir").data, Sz(registered));
        }
    }
}

// Abandoned runs: exactly these notices in this order, result -1, nothing copied or written.
struct Step {
    enum Kind { Notice, SetupCancel, SetupEnter } kind;
    std::string text;  // the notice's text, or the folder typed into SETUP
    int button;
};

struct AbandonCase {
    const char* name;
    std::function<void(Installation&)> prepare;
    std::vector<std::pair<std::string, std::string>> extraKeys;
    std::function<std::vector<Step>(const Installation&)> steps;
};

const char kNotInstalled[] = "本体がインストールされていません";
const char kAskManual[] = "[ Upd Run Test ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？";

void Perform(const driver::Process& child, const Step& step)
{
    if (step.kind == Step::Notice) {
        EXPECT_EQ(AnswerBox(child.Id(), step.button).text, step.text);
        return;
    }
    HWND setup = driver::WaitForWindow(child.Id(), driver::kDialogClass, kSetupCaption);
    if (step.kind == Step::SetupEnter) {
        SendMessageA(GetDlgItem(setup, 1000), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.text.c_str()));
        driver::Press(setup, IDOK);
    } else {
        driver::Press(setup, IDCANCEL);
    }
    driver::WaitForWindowGone(setup);
}

TEST(UpdateRun, EachAbandonedPathShowsItsNoticesAndCopiesNothing)
{
    const AbandonCase cases[] = {
        {"version gate refused",
         [](Installation& i) {
             i.Register(i.Target());
             i.Key().SetUserText("Version", "99");
         },
         {{"CHKREG", "Version"}, {"CHKREGVER", "100"}, {"CHKREGVERHIGH", "109"}},
         [](const Installation&) {
             return std::vector<Step>{{Step::Notice, "アップデート元のバージョンが不適合です", IDOK},
                                      {Step::Notice, kAbort, IDOK}};
         }},
        {"not installed, then No to choosing by hand",
         [](Installation&) {},
         {},
         [](const Installation&) {
             return std::vector<Step>{{Step::Notice, kNotInstalled, IDOK},
                                      {Step::Notice, kAskManual, IDNO},
                                      {Step::Notice, kAbort, IDOK}};
         }},
        {"manual choice cancelled",
         [](Installation&) {},
         {},
         [](const Installation&) {
             return std::vector<Step>{{Step::Notice, kNotInstalled, IDOK},
                                      {Step::Notice, kAskManual, IDYES},
                                      {Step::SetupCancel, "", 0},
                                      {Step::Notice, kAbort, IDOK}};
         }},
        {"manual choice of a folder without the key file",
         [](Installation&) {},
         {},
         [](const Installation& i) {
             return std::vector<Step>{{Step::Notice, kNotInstalled, IDOK},
                                      {Step::Notice, kAskManual, IDYES},
                                      {Step::SetupEnter, i.Work(), 0},
                                      {Step::Notice, "指定されたフォルダには [ Upd Run Test ] 本体は発見できませんでした", IDOK},
                                      {Step::Notice, kAbort, IDOK}};
         }},
        {"confirmation declined",
         [](Installation& i) { i.Register(i.Target()); },
         {},
         [](const Installation& i) {
             return std::vector<Step>{{Step::Notice, Confirmation(i.Target()), IDNO}, {Step::Notice, kAbort, IDOK}};
         }},
    };
    int index = 0;
    for (const AbandonCase& c : cases) {
        SCOPED_TRACE(c.name);
        Installation installation("Abandon" + std::to_string(index++));
        c.prepare(installation);
        std::vector<std::pair<std::string, std::string>> keys = c.extraKeys;
        keys.push_back({"REG_GLOBAL", installation.Key().Global()});
        ScratchFolder iniFolder("abandonini");
        keys.push_back({"INI_FILE", iniFolder / "game.ini"});
        keys.push_back({"INI_SECTION", "Game"});
        installation.Write(keys, {{"[ini]", kIniLines}, {"[reg]", kRegLines}, {"[delfiles_afterinst]", kRemovals}});

        driver::Process child = installation.Start();
        for (const Step& step : c.steps(installation))
            Perform(child, step);
        EXPECT_EQ(child.WaitForExit(), kAbandoned);

        installation.ExpectNothingCopied();
        EXPECT_FALSE(FileExists(iniFolder / "game.ini"));
        EXPECT_FALSE(installation.Key().UserValue("Dir").present);
        auto record = ReadRecord(installation.RecordPath());
        EXPECT_EQ(One(record, "result"), "-1");
        EXPECT_EQ(One(record, "iniwrites"), "0");
        EXPECT_EQ(record.count("open"), 0u);
    }
}

// The player names the folder by hand and confirms it: the run then goes on as from the
// registry.
TEST(UpdateRun, ManualChoiceLeadsToACompleteRun)
{
    Installation installation("Manual");
    installation.Write({{"REG_GLOBAL", installation.Key().Global()}, {"INSTREADME", "readme"}},
                       {{"[reg]", kRegLines}, {"[delfiles_afterinst]", kRemovals}});

    driver::Process child = installation.Start();
    for (const Step& step : std::vector<Step>{{Step::Notice, kNotInstalled, IDOK},
                                              {Step::Notice, kAskManual, IDYES},
                                              {Step::SetupEnter, installation.Target(), 0},
                                              {Step::Notice, Confirmation(installation.Target()), IDYES}})
        Perform(child, step);
    update_fixture::DriveEndDialog(child.Id(), EndAction::CheckThenOk);
    ASSERT_EQ(child.WaitForExit(), 0u);

    installation.ExpectEverythingInPlace();
    EXPECT_EQ(installation.Key().UserValue("Dir").data, Sz(installation.Target()));
    auto record = ReadRecord(installation.RecordPath());
    EXPECT_EQ(Unslashed(One(record, "cwd")), Unslashed(installation.Target()));
    ExpectOpened(record, "readme.txt", installation.Target());
}

}  // namespace
