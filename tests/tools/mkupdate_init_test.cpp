// mkupdate init: the starter folder is read by the updater's own readers as intended, passes lint
// but for its placeholders and builds; --from-game fills in what a game's folder tells; nothing is overwritten
// unless asked.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "host/host_files.h"
#include "host/rct_convert.h"
#include "settings/action_lists.h"
#include "settings/action_reader.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "init/starter_folder.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const char kAbsent[] = "(absent)";
const char* const kKeysTheUpdaterReads[] = {"TITLEBAR", "REG_GLOBAL", "REG_LOCAL", "INI_FILE", "INI_SECTION",
                                            "INSTTO", "INSTFOL", "INSTMAKEFOL", "KEYFILE", "CHKREG", "CHKREGVER",
                                            "CHKREGVERHIGH", "INSTREADME", "INSTREADMEFL"};

// What the updater's key reader makes of the file: each key's value, or kAbsent.
std::map<std::string, std::string> SettingsAsRead(const std::string& bytes)
{
    FreeSettings();
    TextModeReader reader;
    InitTextModeReader(&reader, bytes.data(), bytes.size());
    ReadSettingsLines(ReadTextModeLine, &reader, nullptr, nullptr);
    std::map<std::string, std::string> values;
    for (const char* key : kKeysTheUpdaterReads) {
        char buffer[512];
        values[key] = GetSetting(key, buffer, sizeof buffer, kAbsent);
    }
    FreeSettings();
    return values;
}

// What the updater's section reader makes of it: the open section (0 when all are closed) and
// the entries of each list.
std::map<int, std::vector<std::string>> ListsAsRead(const std::string& bytes, int& openSection)
{
    FreeActionLists();
    TextModeReader reader;
    InitTextModeReader(&reader, bytes.data(), bytes.size());
    openSection = ReadActionSections(ReadTextModeLine, &reader, nullptr, nullptr);
    std::map<int, std::vector<std::string>> lists;
    for (int section = SECTION_DELFILES; section <= SECTION_DELFILES_AFTERINST; section++)
        for (const ActionEntry* entry = GetActionList(section); entry != nullptr; entry = entry->next)
            lists[section].push_back(entry->text);
    FreeActionLists();
    return lists;
}

std::string Cp932(const char* utf8)
{
    std::string bytes;
    EXPECT_TRUE(TextToCp932(utf8, bytes)) << utf8;
    return bytes;
}

// Every line ends in CR LF, and the file ends with a line end.
void ExpectCrLfLines(const std::string& bytes, const std::string& name)
{
    ASSERT_FALSE(bytes.empty()) << name;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << name << ": a bare line feed at byte " << i;
        }
    }
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << name;
}

// lint finds nothing but the placeholders the maker has yet to replace (the readme's line of
// changes and, unless the maker gave one, the picture), and the folder builds into an update that
// verify accepts.
void ExpectLintCleanAndBuilds(const fs::path& folder, const fs::path& scratch, bool placeholderPicture = true)
{
    ToolRun lint = RunTool("lint " + Q(folder));
    EXPECT_EQ(lint.code, kExitOk) << lint.output;
    std::vector<std::string> lines;
    for (size_t start = 0, stop; (stop = lint.output.find('\n', start)) != std::string::npos; start = stop + 1)
        lines.push_back(lint.output.substr(start, stop - start));
    ASSERT_EQ(lines.size(), placeholderPicture ? 2u : 1u) << lint.output;
    for (const std::string& line : lines)
        EXPECT_NE(line.find(": warning: "), std::string::npos) << line;
    EXPECT_NE(lines.back().find("readme.txt:6: warning: the readme still holds the placeholder line"), std::string::npos)
        << lint.output;
    if (placeholderPicture) {
        EXPECT_NE(lines.front().find("insttscr.rct: warning: this is still the placeholder picture"), std::string::npos)
            << lint.output;
    }
    fs::path stub = scratch / "stub.exe", update = scratch / "update.exe";
    Write(stub, "MZ stub");
    ToolRun build = RunTool("build -q " + Q(folder) + " -o " + Q(update) + " --stub " + Q(stub));
    ASSERT_EQ(build.code, kExitOk) << build.output;
    EXPECT_NE(build.output.find("placeholder line of mkupdate init"), std::string::npos) << build.output;
    ToolRun verify = RunTool("verify -q " + Q(update));
    EXPECT_EQ(verify.code, kExitOk) << verify.output;
}

TEST(MkupdateInit, StarterFolderIsReadAsIntendedAndPassesLint)
{
    Scratch scratch;
    fs::path folder = scratch.Path() / "update";
    ToolRun init = RunTool("init " + Q(folder));
    ASSERT_EQ(init.code, kExitOk) << init.output;

    std::string settings = Read(folder / "install.env");
    ExpectCrLfLines(settings, "install.env");
    ExpectCrLfLines(Read(folder / "readme.txt"), "readme.txt");
    // Every key stands on its own line, set or commented out, under a one-line comment.
    for (const char* key : kKeysTheUpdaterReads) {
        size_t at = settings.find("\r\n" + std::string(key) + "\t");
        if (at == std::string::npos)
            at = settings.find("\r\n//" + std::string(key) + "\t");
        ASSERT_NE(at, std::string::npos) << key << " is missing";
        size_t previous = settings.rfind("\r\n", at - 1);
        ASSERT_NE(previous, std::string::npos);
        EXPECT_EQ(settings.compare(previous + 2, 3, "// "), 0) << key << " has no comment above it";
    }

    std::map<std::string, std::string> read = SettingsAsRead(settings);
    EXPECT_EQ(read["TITLEBAR"], Cp932(u8"ゲームタイトル"));
    EXPECT_EQ(read["INSTREADME"], Cp932(u8"お読みください"));
    EXPECT_EQ(read["INSTREADMEFL"], "readme.txt");
    EXPECT_EQ(read["REG_GLOBAL"], "-");
    EXPECT_EQ(read["INI_FILE"], "-");
    EXPECT_EQ(read["INSTMAKEFOL"], "0");
    // Optional settings stay unused until the maker sets them: no version gate, no key file.
    for (const char* unused : {"CHKREG", "CHKREGVER", "CHKREGVERHIGH", "KEYFILE", "INSTFOL"})
        EXPECT_EQ(read[unused], kAbsent) << unused;

    int open = -1;
    std::map<int, std::vector<std::string>> lists = ListsAsRead(settings, open);
    EXPECT_EQ(open, 0);
    EXPECT_EQ(lists[SECTION_DELFILES_AFTERINST], (std::vector<std::string>{"install.env", "insttscr.rct"}));
    for (int example : {SECTION_DELFILES, SECTION_DELFILES_USER, SECTION_INI, SECTION_REG})
        EXPECT_TRUE(lists[example].empty()) << "section " << example << " holds entries that were only examples";

    RgbImage picture;
    RctFileInfo info;
    std::string error;
    ASSERT_TRUE(DecodeRctFile(Read(folder / "insttscr.rct"), picture, info, error)) << error;
    EXPECT_EQ(picture.width, kStarterPictureSide);
    EXPECT_EQ(picture.height, kStarterPictureSide);
    EXPECT_EQ(picture.bgr, StarterPicture().bgr);

    ExpectLintCleanAndBuilds(folder, scratch.Path());
}

struct GameCase {
    const char* name;
    std::vector<const char*> gameFolder;           // path components below the scratch folder, UTF-8
    std::vector<std::pair<const char*, size_t>> files;  // top-level files and their sizes
    std::string title, keyFile, makerFolder;       // as the updater reads them (code page 932)
    std::vector<std::string> otherKeyFiles;        // offered as commented-out lines
    std::vector<std::string> notOffered;           // never named in the file
};

TEST(MkupdateInit, FromGameFillsInWhatTheGameFolderTells)
{
    const std::vector<GameCase> cases = {
        {"named like its folder, under Program Files\\Maker",
         {"Program Files", "Zoredu", "Demo Game"},
         {{"Demo Game.exe", 10}, {"tool.exe", 5000}, {"unins000.exe", 90000}, {"setup.exe", 80000},
          {"GameUpdate.exe", 70000}, {"data.pak", 100000}},
         "Demo Game", "Demo Game.exe", "Zoredu", {"tool.exe"}, {"unins000.exe", "setup.exe", "GameUpdate.exe", "data.pak"}},
        {"a Japanese folder with a 0x5C second byte; the largest program wins",
         {"Games", u8"ソフト"},
         {{"small.exe", 10}, {"Main.EXE", 5000}, {"vcredist_x86.exe", 9000}},
         "\x83\x5C\x83\x74\x83\x67", "Main.EXE", "", {"small.exe"}, {"vcredist_x86.exe"}},
        {"no program only this product carries",
         {"Program Files", "Lonely"},
         {{"uninst.exe", 10}, {"readme.txt", 10}},
         "Lonely", "", "", {}, {"uninst.exe"}},
    };
    for (const GameCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        fs::path game = scratch.Path();
        for (const char* component : c.gameFolder)
            game /= U8(component);
        for (const auto& file : c.files)
            Write(game / U8(file.first), std::string(file.second, 'x'));
        fs::path folder = scratch.Path() / "update";
        ToolRun init = RunTool("init " + Q(folder) + " --from-game " + Q(game));
        ASSERT_EQ(init.code, kExitOk) << init.output;
        if (c.keyFile.empty()) {
            EXPECT_NE(init.output.find("set KEYFILE by hand"), std::string::npos) << init.output;
        }

        std::string settings = Read(folder / "install.env");
        std::map<std::string, std::string> read = SettingsAsRead(settings);
        EXPECT_EQ(read["TITLEBAR"], c.title);
        EXPECT_EQ(read["INSTTO"], c.title);
        EXPECT_EQ(read["KEYFILE"], c.keyFile.empty() ? kAbsent : c.keyFile);
        EXPECT_EQ(read["INSTFOL"], c.makerFolder.empty() ? kAbsent : c.makerFolder);
        for (const std::string& other : c.otherKeyFiles)
            EXPECT_NE(settings.find("\r\n//KEYFILE\t" + other + "\r\n"), std::string::npos) << other;
        for (const std::string& shared : c.notOffered)
            EXPECT_EQ(settings.find(shared), std::string::npos) << shared;
        EXPECT_NE(Read(folder / "readme.txt").find(c.title), std::string::npos);
        ExpectLintCleanAndBuilds(folder, scratch.Path());
    }
}

// What init prints can be pasted into a shell as it stands, and a hostile file name in the game's
// folder cannot rewrite the terminal.
TEST(MkupdateInit, PrintsCommandsThatPasteAndNamesThatCannotMoveTheCursor)
{
    Scratch scratch;
    fs::path game = scratch.Path() / "Game";
    Write(game / "Game.exe", "x");
#ifndef _WIN32
    Write(game / "evil\x1b[2Jname.exe", "x");  // a Linux name may hold an escape byte
#endif
    fs::path folder = scratch.Path() / "my update";
    ToolRun init = RunTool("init " + Q(folder) + " --from-game " + Q(game));
    ASSERT_EQ(init.code, kExitOk) << init.output;
    EXPECT_EQ(init.output.find('\x1b'), std::string::npos) << "an escape byte reached the terminal";
#ifndef _WIN32
    EXPECT_NE(init.output.find("evil\\x1B[2Jname.exe: not offered"), std::string::npos) << init.output;
    const std::string shown = "'" + folder.u8string() + "'";
#else
    const std::string shown = "\"" + folder.u8string() + "\"";
#endif
    EXPECT_NE(init.output.find("mkupdate lint --explain " + shown), std::string::npos) << init.output;
    EXPECT_NE(init.output.find("mkupdate build " + shown + " -o update.exe"), std::string::npos) << init.output;
}

TEST(MkupdateInit, SettingsValuesTheUpdaterReadsBackAsWritten)
{
    struct ValueCase {
        std::string text;
        bool fits;
        std::string value;
    } cases[] = {
        {"Demo Game", true, "Demo|Game"},
        {u8"表示", true, u8"表示"},
        {"-dash", false, ""},
        {"", false, ""},
        {"tab\there", false, ""},
        {"bar|here", false, ""},
        {"\xF0\x9F\x8E\xAE", false, ""},  // no code page 932 form
        {std::string(128, 'a'), false, ""},
    };
    for (const ValueCase& c : cases) {
        std::string value;
        EXPECT_EQ(ToSettingsValue(c.text, value), c.fits) << c.text;
        if (c.fits) {
            EXPECT_EQ(value, c.value);
        }
    }
    std::string value;
    EXPECT_TRUE(ToSettingsValue(std::string(127, 'a'), value));
}

TEST(MkupdateInit, RefusesToOverwriteUnlessForced)
{
    Scratch scratch;
    fs::path folder = scratch.Path() / "update";
    Write(folder / "install.env", "TITLEBAR\tMine\r\n");
    ToolRun refused = RunTool("init " + Q(folder));
    EXPECT_EQ(refused.code, kExitInput);
    EXPECT_NE(refused.output.find("install.env"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("--force"), std::string::npos) << refused.output;
    EXPECT_EQ(Read(folder / "install.env"), "TITLEBAR\tMine\r\n");
    EXPECT_FALSE(fs::exists(folder / "readme.txt")) << "a refusal writes nothing";
    EXPECT_FALSE(fs::exists(folder / "insttscr.rct"));

    ToolRun forced = RunTool("init --force " + Q(folder));
    EXPECT_EQ(forced.code, kExitOk) << forced.output;
    EXPECT_NE(Read(folder / "install.env"), "TITLEBAR\tMine\r\n");
    EXPECT_TRUE(fs::exists(folder / "readme.txt"));
}

// The guide's order: the new version copied in first, init after. The game's own readme.txt
// stays the game's; the update's readme takes a name of its own.
TEST(MkupdateInit, LeavesTheGamesReadmeAndNamesItsOwn)
{
    Scratch scratch;
    fs::path folder = scratch.Path() / "update";
    Write(folder / "game.exe", "x");
    Write(folder / "readme.txt", "the game's own manual\r\n");
    ToolRun init = RunTool("init " + Q(folder));
    ASSERT_EQ(init.code, kExitOk) << init.output;
    EXPECT_EQ(Read(folder / "readme.txt"), "the game's own manual\r\n");
    EXPECT_NE(init.output.find("the update's readme is update.txt (INSTREADMEFL)"), std::string::npos) << init.output;
    ASSERT_TRUE(fs::exists(folder / "update.txt"));
    EXPECT_EQ(SettingsAsRead(Read(folder / "install.env"))["INSTREADMEFL"], "update.txt");
    ToolRun lint = RunTool("lint " + Q(folder));
    EXPECT_EQ(lint.code, kExitOk) << lint.output;
    EXPECT_NE(lint.output.find("update.txt:6: warning: the readme still holds the placeholder line"), std::string::npos)
        << lint.output;
}

TEST(MkupdateInit, KeepsTheMakersOwnTitlePicture)
{
    Scratch scratch;
    fs::path folder = scratch.Path() / "update";
    RgbImage small;
    small.width = small.height = 4;
    small.bgr.assign(3 * 16, 0x40);
    std::string error;
    fs::create_directories(folder);
    ASSERT_TRUE(WriteImageFile((folder / "insttscr.png").u8string(), small, error)) << error;
    ToolRun init = RunTool("init " + Q(folder));
    EXPECT_EQ(init.code, kExitOk) << init.output;
    EXPECT_FALSE(fs::exists(folder / "insttscr.rct")) << "an insttscr.rct would hide the maker's picture";
    EXPECT_NE(init.output.find("kept your title picture"), std::string::npos) << init.output;
    ExpectLintCleanAndBuilds(folder, scratch.Path(), false);
}

TEST(MkupdateInit, WrongFoldersAndUsage)
{
    Scratch scratch;
    fs::path file = scratch.Path() / "a-file";
    Write(file, "x");
    struct UsageCase {
        std::string arguments;
        int code;
        const char* says;
    } cases[] = {
        {"init", kExitUsage, "DIR is missing"},
        {"init a b", kExitUsage, "one folder"},
        {"init " + Q(scratch.Path() / "u") + " --from-game", kExitUsage, "needs a value"},
        {"init " + Q(file), kExitInput, "not a folder"},
        {"init " + Q(scratch.Path() / "u") + " --from-game " + Q(scratch.Path() / "nowhere"), kExitInput,
         "is not a folder"},
        {"init " + Q(scratch.Path() / "u") + " --from-game " + Q(file), kExitInput, "is not a folder"},
        {"help init", kExitOk, "--from-game GAME_DIR"},
    };
    for (const UsageCase& c : cases) {
        ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.code, c.code) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << "\n" << run.output;
    }
    EXPECT_FALSE(fs::exists(scratch.Path() / "u")) << "a refused init leaves no folder behind";
}

}  // namespace
