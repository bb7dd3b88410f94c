// mkupdate build --base: pairs of old and new trees and what the update made from them carries
// (its entries, the removal lines of its install.env), and the settings text with removal lines
// added, read back through the updater's own readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "build/base_compare.h"
#include "cli/commands.h"
#include "cli/command_line.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "package/package_walk.h"
#include "build/removal_lines.h"
#include "settings/action_reader.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const std::string kSettings =
    "TITLEBAR\tT\r\nKEYFILE\tgame.exe\r\n[delfiles_afterinst]\r\ninstall.env\r\n-\r\n[EOF]\r\n";

// A path as UTF-8 with "/" between folders; a trailing "/" makes an empty folder.
struct TreeItem {
    std::string path;
    std::string contents;
};

void MakeTree(const fs::path& root, const std::vector<TreeItem>& items)
{
    fs::create_directories(root);
    for (const TreeItem& item : items) {
        if (!item.path.empty() && item.path.back() == '/')
            fs::create_directories(root / U8(item.path.c_str()));
        else
            Write(root / U8(item.path.c_str()), item.contents);
    }
}

struct Package {
    std::vector<std::string> names;  // UTF-8, as the updater writes them (backslashes)
    std::string settings;            // the packaged install.env
};

// Windows writes text output with CR LF.
std::string Lines(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

Package ReadPackage(const fs::path& update)
{
    Package package;
    std::string bytes = Read(update);
    MemoryStream memory{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    PackageWalk walk;
    walk.begin = [&](const WalkedEntry& e) {
        package.names.push_back(DisplayName(e.entry.name));
        return std::string(e.entry.name) == "install.env" ? (int)WALK_TAKE : (int)WALK_SKIP;
    };
    walk.data = [&](const WalkedEntry&, const unsigned char* data, size_t size) {
        package.settings.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    PackageProblem problem;
    EXPECT_TRUE(WalkPackage(&stream, walk, nullptr, &problem)) << problem.text;
    return package;
}

std::vector<std::string> Utf8(const std::vector<std::string>& cp932)
{
    std::vector<std::string> out;
    for (const std::string& name : cp932)
        out.push_back(DisplayName(name));
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// 表 (0x95 0x5C) and ソ (0x83 0x5C) end in a byte that looks like a backslash; 日 (0x93 0xFA) in
// one that could be a lead byte.
const std::string kOmote = "\xE8\xA1\xA8";
const std::string kSo = "\xE3\x82\xBD";
const std::string kHi = "\xE6\x97\xA5";

struct TreePair {
    const char* what;
    std::vector<TreeItem> oldTree, newTree;     // both get game.exe, the key file, unless `noKeyFile`
    std::vector<std::string> packed;            // besides install.env, any order
    std::vector<std::string> removals;          // removal lines added, in order
    bool noKeyFile = false;
};

TEST(MkupdateBuildBase, TreePairsGiveTheEntriesAndRemovalLinesPlayersNeed)
{
    const std::string big(1 << 20, 'b');
    const std::vector<TreePair> cases = {
        {"unchanged files and folders are left out", {{"a.dat", "x"}, {"d/b.dat", "y"}}, {{"a.dat", "x"}, {"d/b.dat", "y"}}, {}, {}},
        {"a changed file is packed with its folder",
         {{"d/same.dat", "s"}, {"d/b.dat", "abc"}, {"c.dat", "1"}},
         {{"d/same.dat", "s"}, {"d/b.dat", "abd"}, {"c.dat", "12"}},
         {"d\\", "d\\b.dat", "c.dat"}, {}},
        {"a difference past the first piece read is found",
         {{"big.dat", big + "1"}}, {{"big.dat", big + "2"}}, {"big.dat"}, {}},
        {"new files and the folders they need are packed",
         {{"a.dat", "x"}}, {{"a.dat", "x"}, {"n/m/new.dat", "n"}}, {"n\\", "n\\m\\", "n\\m\\new.dat"}, {}},
        {"removed files get removal lines",
         {{"top.dat", "t"}, {"gone/x.dat", "x"}, {"keep/a.dat", "a"}, {"keep/old.dat", "o"}},
         {{"keep/a.dat", "a"}},
         {}, {"gone\\x.dat", "keep\\old.dat", "top.dat"}},
        {"a case-only rename with equal bytes is neither packed nor removed",
         {{"Data/Movie.DAT", "m"}}, {{"data/movie.dat", "m"}}, {}, {}},
        {"a case-only rename with new bytes is packed under the new name, never removed",
         {{"Data/Movie.DAT", "m"}}, {{"data/movie.dat", "M"}}, {"data\\", "data\\movie.dat"}, {}},
        {"a new empty folder is packed, an old one is left",
         {{"both/", ""}, {"oldonly/", ""}}, {{"both/", ""}, {"fresh/", ""}}, {"fresh\\"}, {}},
        {"the last file of a folder this update brings empty is not removed (its folder would go too)",
         {{"save/old.sav", "s"}, {"other/old.dat", "o"}}, {{"save/", ""}}, {}, {"other\\old.dat"}},
        {"the same with a Japanese folder name",
         {{kHi + "/old.sav", "s"}, {"other/old.dat", "o"}}, {{kHi + "/", ""}}, {}, {"other\\old.dat"}},
        {"Japanese names whose second byte is 0x5C",
         {{kOmote + "/" + kSo + ".dat", "a"}, {kOmote + "/old.dat", "o"}, {kSo + "/" + kOmote + ".dat", "k"}},
         {{kOmote + "/" + kSo + ".dat", "b"}, {kSo + "/" + kOmote + ".dat", "k"}},
         {kOmote + "\\", kOmote + "\\" + kSo + ".dat"}, {kOmote + "\\old.dat"}},
        {"a name in another Shift-JIS table's form (wave dash U+301C) is the same file",
         {{"wave\xE3\x80\x9C.dat", "w"}}, {{"wave\xEF\xBD\x9E.dat", "w"}}, {}, {}},
        {"names the updater would misread and the key file are never removed",
         {{"-minus.dat", "m"}, {"EOF.dat", "e"}, {";semi.dat", "s"}, {"game.exe", "1"}},
         {{"plain.dat", "p"}}, {"plain.dat"}, {}, true},
        {"a file install.env removes already gets no second line",
         {{"install.env", "old settings"}}, {}, {}, {}},
    };
    for (const TreePair& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
        MakeTree(oldDir, c.oldTree);
        MakeTree(newDir, c.newTree);
        if (!c.noKeyFile) {
            Write(oldDir / "game.exe", "1");
            Write(newDir / "game.exe", "1");
        }
        Write(newDir / "install.env", kSettings);
        WriteTitlePicture(newDir);
        Write(scratch.Path() / "stub.exe", "MZ");
        fs::path update = scratch.Path() / "update.exe";
        ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(update) + " --stub " + Q(scratch.Path() / "stub.exe") +
                              " --base " + Q(oldDir) + " --remove-missing --allow-empty --json");
        ASSERT_EQ(run.code, kExitOk) << run.output;
        Package package = ReadPackage(update);
        ASSERT_FALSE(package.names.empty());
        EXPECT_EQ(package.names.front(), "install.env");
        std::vector<std::string> expected = c.packed;
        expected.push_back("install.env");
        expected.push_back("insttscr.rct");
        EXPECT_EQ(Sorted(package.names), Sorted(expected)) << run.output;

        std::vector<std::string> removals = Utf8(ReadSettingsView(package.settings).removals);
        std::vector<std::string> expectedRemovals = {"install.env"};
        expectedRemovals.insert(expectedRemovals.end(), c.removals.begin(), c.removals.end());
        EXPECT_EQ(removals, expectedRemovals);
        EXPECT_EQ(Read(newDir / "install.env"), kSettings) << "the maker's file changed";
    }
}

struct PlayerDataCase {
    const char* what;
    std::vector<TreeItem> oldTree;  // the new tree holds game.exe and new.dat only
    std::string userLines;          // the [delfiles_user] section's lines
    std::string options;            // more than --base OLD --remove-missing
    int code;
    std::vector<std::string> removals;  // added, when built
    std::string message;                // a part of the output
};

// A played copy as OLD_DIR: its saves must never become removal lines.
TEST(MkupdateBuildBase, PlayerDataIsNeverRemoved)
{
    const std::vector<TreeItem> played = {{"save/slot01.sav", "s1"}, {"save/global.sav", "g"}, {"old.dat", "o"}};
    const std::vector<PlayerDataCase> cases = {
        {"[delfiles_user] names the saves: skipped, matched as the updater matches", played, "SAVE\\*.SAV\r\n", "",
         kExitOk, {"old.dat"}, "save\\slot01.sav: no removal line: install.env names it as player data"},
        {"saves nothing names stop the build, listed", played, "", "", kExitInput, {},
         "look like player data; --remove-missing would delete them from players' folders:\n  save\\global.sav (it lies "
         "in a save folder (save\\))\n  save\\slot01.sav (it lies in a save folder (save\\))\n"},
        {"--keep with a folder", played, "", " --keep save/", kExitOk, {"old.dat"}, "kept by --keep save/"},
        {"--keep with a name anywhere", played, "", " --keep *.SAV", kExitOk, {"old.dat"}, "kept by --keep *.SAV"},
        {"--keep that misses one", played, "", " --keep save/slot*.sav", kExitInput, {}, "  save\\global.sav ("},
        {"a save file outside a save folder", {{"data/global.sav", "g"}, {"old.dat", "o"}}, "", "", kExitInput, {},
         "data\\global.sav"},
        {"RPG Maker saves", {{"Save01.rvdata2", "s"}, {"old.dat", "o"}}, "", "", kExitInput, {}, "Save01.rvdata2"},
        {"a Japanese save folder", {{"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96/a.dat", "s"}, {"old.dat", "o"}}, "", "",
         kExitInput, {}, "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96\\a.dat"},
        {"names that only resemble saves are removed", {{"saved.dat", "s"}, {"savebutton.png", "b"}}, "", "", kExitOk,
         {"savebutton.png", "saved.dat"}, "2 files of OLD_DIR missing"},
    };
    for (const PlayerDataCase& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
        MakeTree(oldDir, c.oldTree);
        Write(oldDir / "game.exe", "1");
        MakeTree(newDir, {{"game.exe", "1"}, {"new.dat", "n"}});
        std::string settings = kSettings;
        if (!c.userLines.empty())
            settings += "[delfiles_user]\r\n" + c.userLines + "-\r\n";
        Write(newDir / "install.env", settings);
        WriteTitlePicture(newDir);
        Write(scratch.Path() / "stub.exe", "MZ");
        fs::path update = scratch.Path() / "update.exe";
        ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(update) + " --stub " + Q(scratch.Path() / "stub.exe") +
                              " --base " + Q(oldDir) + " --remove-missing" + c.options);
        ASSERT_EQ(run.code, c.code) << run.output;
        EXPECT_NE(Lines(run.output).find(c.message), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(scratch.Path() / "update.exe.part"));
        if (c.code != kExitOk) {
            EXPECT_FALSE(fs::exists(update));
            continue;
        }
        std::vector<std::string> expected = {"install.env"};
        expected.insert(expected.end(), c.removals.begin(), c.removals.end());
        EXPECT_EQ(Utf8(ReadSettingsView(ReadPackage(update).settings).removals), expected);
    }
}

struct PlayedCase {
    const char* what;
    std::vector<TreeItem> oldTree;  // besides game.exe and old.dat; the new tree holds game.exe and new.dat
    std::vector<std::string> later;  // of those, written two hours after everything else
    std::string options;             // more than --base OLD --remove-missing
    std::vector<std::string> stopped;  // listed as player data, each with a part of its reason; none: built
};

// A copy someone has played holds more than saves: the settings the game wrote, screenshots,
// logs, caches, and files written long after the release was put in place. Each stops
// --remove-missing with a list, and --keep clears it.
TEST(MkupdateBuildBase, APlayedCopyStopsTheRemovals)
{
    const std::string screenshots = "\xE3\x82\xB9\xE3\x82\xAF\xE3\x83\xAA\xE3\x83\xBC\xE3\x83\xB3\xE3\x82\xB7"
                                    "\xE3\x83\xA7\xE3\x83\x83\xE3\x83\x88";  // スクリーンショット
    const std::vector<PlayedCase> cases = {
        {"the played copy of the issue: config.ini and three screenshots",
         {{"config.ini", "c"}, {"ScreenShot/shot1.png", "1"}, {"ScreenShot/shot2.png", "2"}, {"ScreenShot/shot3.png", "3"}},
         {}, "",
         {"config.ini (it is a settings file a game writes (*.ini)", "ScreenShot\\shot1.png (it lies in a folder a game "
          "fills while it is played (screenshot\\))", "ScreenShot\\shot2.png", "ScreenShot\\shot3.png"}},
        {"settings files of other kinds", {{"data/Game.CFG", "c"}, {"options.conf", "o"}, {"user.prefs", "p"}}, {}, "",
         {"data\\Game.CFG (it is a settings file", "options.conf", "user.prefs"}},
        {"logs and dumps", {{"error.log", "e"}, {"crash.dmp", "d"}, {"Logs/2024-01-01.txt", "l"}}, {}, "",
         {"error.log (it is a file a game writes while it runs (*.log))", "crash.dmp", "Logs\\2024-01-01.txt (it lies in a folder"}},
        {"caches", {{"cache/shader.bin", "s"}, {"data/ShaderCache/a.bin", "a"}}, {}, "",
         {"cache\\shader.bin", "data\\ShaderCache\\a.bin"}},
        {"a Japanese screenshot folder", {{screenshots + "/a.png", "a"}}, {}, "", {screenshots + "\\a.png"}},
        {"a file written long after the release", {{"data/played.bin", "p"}}, {"data/played.bin"}, "",
         {"data\\played.bin (it was written more than a minute after every file of SRC_DIR"}},
        {"--keep clears each kind", {{"config.ini", "c"}, {"ScreenShot/a.png", "a"}, {"error.log", "e"}}, {},
         " --keep \"*.ini\" --keep ScreenShot/ --keep \"*.log\"", {}},
        {"names that only resemble them are removed",
         {{"inifile.dat", "i"}, {"catalog.txt", "c"}, {"data/screen.png", "s"}, {"blog/a.txt", "b"}}, {}, "", {}},
    };
    for (const PlayedCase& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
        MakeTree(oldDir, c.oldTree);
        MakeTree(oldDir, {{"game.exe", "1"}, {"old.dat", "o"}});
        MakeTree(newDir, {{"game.exe", "1"}, {"new.dat", "n"}});
        Write(newDir / "install.env", kSettings);
        WriteTitlePicture(newDir);
        for (const std::string& name : c.later)
            fs::last_write_time(oldDir / U8(name.c_str()), fs::file_time_type::clock::now() + std::chrono::hours(2));
        Write(scratch.Path() / "stub.exe", "MZ");
        fs::path update = scratch.Path() / "update.exe";
        ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(update) + " --stub " + Q(scratch.Path() / "stub.exe") +
                              " --base " + Q(oldDir) + " --remove-missing" + c.options);
        std::string output = Lines(run.output);
        if (c.stopped.empty()) {
            ASSERT_EQ(run.code, kExitOk) << output;
            std::vector<std::string> removals = Utf8(ReadSettingsView(ReadPackage(update).settings).removals);
            EXPECT_NE(std::find(removals.begin(), removals.end(), "old.dat"), removals.end()) << output;
            for (const TreeItem& item : c.oldTree) {
                std::string name = item.path;
                std::replace(name.begin(), name.end(), '/', '\\');
                bool kept = !c.options.empty();
                EXPECT_EQ(std::find(removals.begin(), removals.end(), name) == removals.end(), kept) << name << "\n" << output;
            }
            continue;
        }
        ASSERT_EQ(run.code, kExitInput) << output;
        EXPECT_FALSE(fs::exists(update));
        EXPECT_NE(output.find(Count((long long)c.stopped.size(), "file", "files") + " that SRC_DIR lacks and that look "
                              "like player data"), std::string::npos) << output;
        for (const std::string& part : c.stopped)
            EXPECT_NE(output.find("\n  " + part), std::string::npos) << part << "\n" << output;
        EXPECT_EQ(output.find("\n  old.dat"), std::string::npos) << output;
    }
}

// A file written within a minute of the release (a copy made just now) is no sign of play.
TEST(MkupdateBuildBase, AFreshCopyOfTheReleaseIsNoPlayedCopy)
{
    Scratch scratch;
    fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
    MakeTree(newDir, {{"game.exe", "1"}, {"new.dat", "n"}, {"install.env", kSettings}});
    WriteTitlePicture(newDir);
    // OLD_DIR copied after SRC_DIR was made, and its missing file a little later than the rest.
    MakeTree(oldDir, {{"game.exe", "1"}, {"data/old.bin", "o"}});
    fs::last_write_time(oldDir / "data" / "old.bin", fs::file_time_type::clock::now() + std::chrono::seconds(30));
    Write(scratch.Path() / "stub.exe", "MZ");
    fs::path update = scratch.Path() / "update.exe";
    ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(update) + " --stub " + Q(scratch.Path() / "stub.exe") +
                          " --base " + Q(oldDir) + " --remove-missing");
    ASSERT_EQ(run.code, kExitOk) << run.output;
    std::vector<std::string> removals = Utf8(ReadSettingsView(ReadPackage(update).settings).removals);
    EXPECT_EQ(removals, std::vector<std::string>({"install.env", "data\\old.bin"}));
}

// Without --remove-missing nothing is removed, so a played copy only keeps its saves off the
// suggested lines.
TEST(MkupdateBuildBase, SuggestsNoLineForPlayerData)
{
    Scratch scratch;
    fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
    MakeTree(oldDir, {{"save/slot01.sav", "s"}, {"old.dat", "o"}});
    MakeTree(newDir, {{"new.dat", "n"}, {"install.env", kSettings}});
    WriteTitlePicture(newDir);
    Write(scratch.Path() / "stub.exe", "MZ");
    ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(scratch.Path() / "u.exe") + " --stub " +
                          Q(scratch.Path() / "stub.exe") + " --base " + Q(oldDir));
    ASSERT_EQ(run.code, kExitOk) << run.output;
    std::string output = Lines(run.output);
    EXPECT_NE(output.find("missing: save\\slot01.sav: no removal line: it looks like player data: it lies in a save "
                          "folder (save\\)"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("or build with --remove-missing:\nold.dat\n"), std::string::npos) << output;
}

// An update of nothing but its setup files changes nothing in players' folders.
TEST(MkupdateBuildBase, RefusesAnUpdateThatBringsNothingUnlessAllowed)
{
    Scratch scratch;
    fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
    MakeTree(oldDir, {{"game.exe", "1"}, {"data/a.dat", "a"}, {"install.env", "old"}, {"readme.txt", "old"}});
    // The readme differs, but the updater's setup files are always packed: they bring nothing of the game.
    MakeTree(newDir, {{"game.exe", "1"}, {"data/a.dat", "a"}, {"install.env", "INSTREADME\tReadme\r\n" + kSettings},
                      {"readme.txt", "new"}});
    WriteTitlePicture(newDir);
    Write(scratch.Path() / "stub.exe", "MZ");
    fs::path update = scratch.Path() / "u.exe";
    Write(update, "the update built before");
    std::string common = "build " + Q(newDir) + " -o " + Q(update) + " --stub " + Q(scratch.Path() / "stub.exe") +
                         " --base " + Q(oldDir);
    ToolRun refused = RunTool(common);
    EXPECT_EQ(refused.code, kExitInput);
    EXPECT_NE(refused.output.find("the update brings nothing of the game"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("--allow-empty"), std::string::npos) << refused.output;
    EXPECT_EQ(Read(update), "the update built before");
    EXPECT_FALSE(fs::exists(scratch.Path() / "u.exe.part"));
    ToolRun allowed = RunTool(common + " --allow-empty");
    EXPECT_EQ(allowed.code, kExitOk) << allowed.output;
    EXPECT_EQ(Sorted(ReadPackage(update).names), Sorted({"install.env", "insttscr.rct", "readme.txt"}));
    // One changed file of the game is enough.
    Write(newDir / "data" / "a.dat", "A");
    EXPECT_EQ(RunTool(common).code, kExitOk);
    EXPECT_EQ(RunTool("build " + Q(newDir) + " -o " + Q(update) + " --allow-empty").code, kExitUsage);
}

// The readme is always packed: one that says something else than the old release's file of the
// same name replaces it in players' folders.
TEST(MkupdateBuildBase, WarnsWhenTheReadmeReplacesADifferentOneOrIsTheOldOne)
{
    struct Case {
        const char* what;
        std::string oldReadme;  // empty: OLD_DIR has none
        const char* warning;  // after the readme's path; "" for none
    } cases[] = {{"a different readme", "the game's own manual", " replaces "},
                 {"the same readme: the update's text was overwritten by the game's", "what changed",
                  " is byte for byte "},
                 {"no readme in OLD_DIR", "", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
        MakeTree(oldDir, {{"game.exe", "1"}});
        if (!c.oldReadme.empty())
            Write(oldDir / "ReadMe.txt", c.oldReadme);
        MakeTree(newDir, {{"game.exe", "2"}, {"readme.txt", "what changed"},
                          {"install.env", "INSTREADME\tReadme\r\n" + kSettings}});
        WriteTitlePicture(newDir);
        Write(scratch.Path() / "stub.exe", "MZ");
        ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(scratch.Path() / "u.exe") + " --stub " +
                              Q(scratch.Path() / "stub.exe") + " --base " + Q(oldDir));
        ASSERT_EQ(run.code, kExitOk) << run.output;
        std::string warning = "warning: the update's readme " + PathForDisplay(newDir / "readme.txt");
        if (*c.warning == '\0') {
            EXPECT_EQ(run.output.find(warning), std::string::npos) << run.output;
            continue;
        }
        EXPECT_NE(run.output.find(warning + c.warning + PathForDisplay(oldDir / "ReadMe.txt") + " of OLD_DIR"),
                  std::string::npos)
            << run.output;
    }
}

TEST(MkupdateBuildBase, WithoutRemoveMissingPrintsTheLinesAndPacksTheSettingsUnchanged)
{
    Scratch scratch;
    fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
    MakeTree(oldDir, {{kOmote + "/old.dat", "o"}, {"same.dat", "s"}, {"Case.dat", "c"}});
    MakeTree(newDir, {{"same.dat", "s"}, {"case.dat", "c"}, {"new.dat", "n"}, {"install.env", kSettings}});
    WriteTitlePicture(newDir);
    Write(scratch.Path() / "stub.exe", "MZ");
    fs::path update = scratch.Path() / "update.exe";
    ToolRun run = RunTool("build " + Q(newDir) + " -o " + Q(update) + " --stub " + Q(scratch.Path() / "stub.exe") +
                          " --base " + Q(oldDir) + " --explain");
    ASSERT_EQ(run.code, kExitOk) << run.output;
    run.output = Lines(run.output);
    EXPECT_EQ(ReadPackage(update).settings, kSettings);
    // The exact line to paste, on a line of its own; the old key file's absence is warned about.
    EXPECT_NE(run.output.find("\n" + kOmote + "\\old.dat\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("key file game.exe (KEYFILE) is not in OLD_DIR"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("unchanged case.dat  (OLD_DIR: Case.dat"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1 new, 0 changed, 2 unchanged (left out), 0 removed, 1 missing left in place"),
              std::string::npos)
        << run.output;

    // With --remove-missing, list shows the line among what the update removes.
    fs::remove(update);
    ToolRun removing = RunTool("build " + Q(newDir) + " -o " + Q(update) + " --stub " +
                               Q(scratch.Path() / "stub.exe") + " --base " + Q(oldDir) + " --remove-missing -q");
    ASSERT_EQ(removing.code, kExitOk) << removing.output;
    ToolRun list = RunTool("list " + Q(update));
    list.output = Lines(list.output);
    EXPECT_NE(list.output.find("removed after the update: install.env\nremoved after the update: " + kOmote +
                               "\\old.dat\n"),
              std::string::npos)
        << list.output;
}

TEST(MkupdateBuildBase, RefusesWhatThePlayersDiskCannotTake)
{
    Scratch scratch;
    fs::path oldDir = scratch.Path() / "old", newDir = scratch.Path() / "new";
    MakeTree(oldDir, {{"data", "a file"}});
    MakeTree(newDir, {{"data/x.dat", "x"}, {"install.env", kSettings}});
    WriteTitlePicture(newDir);
    Write(scratch.Path() / "stub.exe", "MZ");
    std::string common = " -o " + Q(scratch.Path() / "u.exe") + " --stub " + Q(scratch.Path() / "stub.exe");
    ToolRun swapped = RunTool("build " + Q(newDir) + common + " --base " + Q(oldDir));
    EXPECT_EQ(swapped.code, kExitInput);
    EXPECT_NE(swapped.output.find("data\\: a folder in SRC_DIR but a file in OLD_DIR"), std::string::npos)
        << swapped.output;
    EXPECT_FALSE(fs::exists(scratch.Path() / "u.exe"));
    ToolRun same = RunTool("build " + Q(newDir) + common + " --base " + Q(newDir));
    EXPECT_EQ(same.code, kExitInput);
    ToolRun usage = RunTool("build " + Q(newDir) + common + " --remove-missing");
    EXPECT_EQ(usage.code, kExitUsage);
}

struct Insertion {
    const char* what;
    std::string settings;
    std::vector<std::string> removalsBefore;
};

TEST(RemovalLines, AreAddedWhereTheUpdaterReadsThemAndNothingElseChanges)
{
    const std::vector<std::string> lines = {"old.dat", "d\\" + std::string("\x95\x5C") + "\\x.dat"};
    const std::vector<Insertion> cases = {
        {"into the section, before its closing line", kSettings, {"install.env"}},
        {"a new section before [EOF]", "TITLEBAR\tT\r\n[ini]\r\na=b\r\n-\r\n[EOF]\r\n", {}},
        {"a new section at the end of a file without a last line feed", "TITLEBAR\tT\n[ini]\na=b\n-", {}},
        {"into the second section, which replaces the first",
         "[delfiles_afterinst]\nfirst.dat\n-\n[delfiles_afterinst]\nsecond.dat\n[ini]\na=b\n-\n", {"second.dat"}},
        {"before an EOF line that ends the sections", "TITLEBAR\tT\n[reg]\n-\nEOF\n[delfiles_afterinst]\nlate\n", {}},
    };
    for (const Insertion& c : cases) {
        SCOPED_TRACE(c.what);
        std::string result, error;
        std::vector<int> added;
        ASSERT_TRUE(AddRemovalLines(c.settings, lines, result, added, error)) << error;
        std::vector<std::string> expected = c.removalsBefore;
        expected.insert(expected.end(), lines.begin(), lines.end());
        EXPECT_EQ(ReadSettingsView(result).removals, expected) << result;
        ASSERT_EQ(added.size(), lines.size());
        std::vector<std::string> physical;
        size_t start = 0;
        for (size_t stop; (stop = result.find('\n', start)) != std::string::npos; start = stop + 1)
            physical.push_back(result.substr(start, stop - start));
        physical.push_back(result.substr(start));
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string line = physical.at((size_t)added[i] - 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            EXPECT_EQ(line, lines[i]);
        }
    }
    // Lines that would push a key past the 400 lines the key reader reads are refused.
    std::string crowded = "[delfiles_afterinst]\n-\n";
    for (int i = 0; i < 396; ++i)
        crowded += "// filler\n";
    crowded += "TITLEBAR\tLate\n";
    std::string result, error;
    std::vector<int> added;
    EXPECT_FALSE(AddRemovalLines(crowded, lines, result, added, error));
    EXPECT_NE(error.find("400 lines"), std::string::npos) << error;
}

TEST(RemovalLines, MatchLikeTheUpdatersSearchCaseIgnored)
{
    struct Case {
        std::string pattern, name;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"save\\*.dat", "SAVE\\a.DAT", true},
        {"save\\*.dat", "save\\deep\\a.dat", false},
        {"*.bak", "x.bak", true},
        {"?.dat", "ab.dat", false},
        {"\x95\x5C\\*", "\x95\x5C\\x", true},  // 表\* : the 0x5C is no separator
        {"\x95\x5C*", "\x95\x5C\\x", false},
        {"data\\", "data", false},  // the search finds no file under a name that ends in a backslash
        {std::string(300, 'a') + "x", std::string(300, 'a') + "y", false},  // names past 259 bytes, whole
    };
    for (const Case& c : cases)
        EXPECT_EQ(RemovalMatches(c.pattern, c.name), c.matches) << DisplayName(c.pattern) << " " << DisplayName(c.name);
}

}  // namespace
