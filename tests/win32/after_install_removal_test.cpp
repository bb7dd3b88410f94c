// The removal of the [delfiles_afterinst] lines from the target folder, on Wine's real file
// system: which files go, which folders go, and that nothing outside the folder is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch.h"
#include "base/action_file.h"
#include "settings/action_lists.h"
#include "update/after_install_removal.h"

namespace {

struct Layout {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    std::vector<std::string> readOnly;
};

void Build(const ScratchFolder& target, const Layout& layout)
{
    for (const std::string& folder : layout.folders)
        ASSERT_TRUE(CreateDirectoryA((target / folder).c_str(), nullptr)) << folder;
    for (const std::string& file : layout.files)
        WriteFileBytes(target / file, "bytes of " + file);
    for (const std::string& file : layout.readOnly) {
        WriteFileBytes(target / file, "kept");
        SetFileAttributesA((target / file).c_str(), FILE_ATTRIBUTE_READONLY);
    }
}

struct RemovalCase {
    const char* name;
    Layout layout;
    std::string line;
    int result;
    std::vector<std::string> gone;  // files or folders
    std::vector<std::string> kept;
};

bool Exists(const std::string& path)
{
    return FileExists(path) || FolderExists(path);
}

TEST(AfterInstallRemoval, EachLineDeletesItsFilesAndItsEmptiedFirstLevel)
{
    const RemovalCase cases[] = {
        {"plain name",
         {{"install.env.d"}, {"install.env", "insttscr.rct", "game.exe"}, {}},
         "install.env", 0,
         {"install.env"},
         {"insttscr.rct", "game.exe", "install.env.d"}},
        {"a folder named like the pattern is no file",
         {{"install.env"}, {}, {}},
         "install.env", 0,
         {},
         {"install.env"}},
        {"save holds only matches",
         {{"save"}, {"save\\1.dat", "save\\2.dat", "top.dat"}, {}},
         "save\\*.dat", 0,
         {"save\\1.dat", "save\\2.dat", "save"},
         {"top.dat"}},
        {"save holds something else",
         {{"save"}, {"save\\1.dat", "save\\keep.txt"}, {}},
         "save\\*.dat", 1,
         {"save\\1.dat"},
         {"save\\keep.txt", "save"}},
        {"only the first level is tried",
         {{"save", "save\\old"}, {"save\\old\\1.dat", "save\\old\\2.dat", "save\\3.dat"}, {}},
         "save\\old\\*.dat", 1,
         {"save\\old\\1.dat", "save\\old\\2.dat"},
         {"save\\old", "save", "save\\3.dat"}},
        {"a read-only match stays, the others go",
         {{"data"}, {"data\\a.dat", "data\\c.dat", "data\\d.dat"}, {"data\\b.dat"}},
         "data\\*.dat", 1,
         {"data\\a.dat", "data\\c.dat", "data\\d.dat"},
         {"data\\b.dat", "data"}},
        {"double-byte folder whose last byte is 0x5C",
         {{"表"}, {"表\\1.dat", "表\\2.dat"}, {}},
         "表\\*.dat", 0,
         {"表\\1.dat", "表\\2.dat", "表"},
         {}},
        {"missing folder part",
         {{}, {"other.dat"}, {}},
         "nothere\\*.dat", 1,
         {},
         {"other.dat"}},
        {"no match at all",
         {{}, {"game.exe"}, {}},
         "*.tmp", 0,
         {},
         {"game.exe"}},
    };
    for (const RemovalCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder target("rm");
        Build(target, c.layout);
        std::string before = CurrentFolder();
        EXPECT_EQ(RemoveListedEntry(target.Path().c_str(), c.line.c_str()), c.result);
        EXPECT_EQ(CurrentFolder(), before);
        for (const std::string& path : c.gone)
            EXPECT_FALSE(Exists(target / path)) << path;
        for (const std::string& path : c.kept)
            EXPECT_TRUE(Exists(target / path)) << path;
    }
}

TEST(AfterInstallRemoval, TargetReadFromTheRegistryWithATrailingBackslash)
{
    ScratchFolder target("rmslash");
    Build(target, {{"save"}, {"save\\1.dat"}, {}});
    std::string folder = target.Path() + "\\";
    EXPECT_EQ(RemoveListedEntry(folder.c_str(), "save\\*.dat"), 0);
    EXPECT_FALSE(Exists(target / "save"));
}

// The updater runs elevated; a line in the settings file must not reach other folders.
TEST(AfterInstallRemoval, LinesReachingOutsideTheTargetDeleteNothing)
{
    ScratchFolder outside("rmout");
    ScratchFolder target("rmin");
    WriteFileBytes(outside / "victim.dat", "must stay");
    CreateDirectoryA((target / "sub").c_str(), nullptr);
    WriteFileBytes(target / "sub\\victim.dat", "must stay too");
    std::string relativeOut = "..\\" + outside.Path().substr(outside.Path().rfind('\\') + 1) + "\\*.dat";
    const std::string lines[] = {
        outside.Path() + "\\*.dat",                   // a drive
        outside.Path().substr(2) + "\\victim.dat",    // a leading backslash
        relativeOut,                                  // climbing to the parent
        "sub\\..\\" + relativeOut,
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(RemoveListedEntry(target.Path().c_str(), line.c_str()), 1);
        EXPECT_TRUE(FileExists(outside / "victim.dat"));
        EXPECT_TRUE(FileExists(target / "sub\\victim.dat"));
    }
}

TEST(AfterInstallRemoval, TheListIsAppliedInOrderFromTheSettingsFile)
{
    ScratchFolder work("rmlist");
    ScratchFolder target("rmtarget");
    WriteFileBytes(work / "install.env",
                   "// settings\n"
                   "[delfiles_afterinst]\n"
                   "install.env\n"
                   "insttscr.rct\n"
                   "tmp\\*.*\n"
                   "tmp\\keep\\*.dat\n"
                   "-\n"
                   "[EOF]\n");
    ASSERT_EQ(LoadActionLists((work / "install.env").c_str()), 0);
    Build(target, {{"tmp", "tmp\\keep"},
                   {"install.env", "insttscr.rct", "readme.txt", "tmp\\a.bin", "tmp\\keep\\x.dat"},
                   {}});

    RemoveAfterInstallFiles(target.Path().c_str());

    EXPECT_FALSE(FileExists(target / "install.env"));
    EXPECT_FALSE(FileExists(target / "insttscr.rct"));
    EXPECT_TRUE(FileExists(target / "readme.txt"));
    EXPECT_FALSE(FileExists(target / "tmp\\a.bin"));
    EXPECT_FALSE(FileExists(target / "tmp\\keep\\x.dat"));
    // tmp still held keep when its own line ran; the later line removes only its first level,
    // which still holds the emptied keep.
    EXPECT_TRUE(FolderExists(target / "tmp\\keep"));
}

TEST(AfterInstallRemoval, AnEmptyListTouchesNothing)
{
    ScratchFolder work("rmempty");
    ScratchFolder target("rmtarget");
    WriteFileBytes(work / "install.env", "[delfiles_afterinst]\n-\n");
    ASSERT_EQ(LoadActionLists((work / "install.env").c_str()), 0);
    ASSERT_EQ(GetActionList(SECTION_DELFILES_AFTERINST), nullptr);
    WriteFileBytes(target / "install.env", "x");
    RemoveAfterInstallFiles(target.Path().c_str());
    EXPECT_TRUE(FileExists(target / "install.env"));
}

}  // namespace
