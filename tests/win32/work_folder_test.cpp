// The work folder and the process-wide file search against Wine's real file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <windows.h>
#include <mmsystem.h>

#include "scratch.h"
#include "base/work_folder.h"

namespace {

const std::string kOmote = "表";  // 0x95 0x5C

std::vector<std::string> AllMatches(const std::string& pattern)
{
    std::vector<std::string> found;
    if (FindFirstMatch(pattern.c_str()) != 0)
        return found;
    while (const char* path = FindNextMatch())
        found.push_back(path);
    std::sort(found.begin(), found.end());
    return found;
}

TEST(FileSearch, YieldsFilesOnlyWithThePatternsFolder)
{
    ScratchFolder scratch;
    CreateDirectoryA((scratch / kOmote).c_str(), nullptr);
    CreateDirectoryA((scratch / (kOmote + "\\sub.dat")).c_str(), nullptr);
    WriteFileBytes(scratch / (kOmote + "\\a.dat"), "a");
    WriteFileBytes(scratch / (kOmote + "\\b.dat"), "b");
    WriteFileBytes(scratch / (kOmote + "\\c.txt"), "c");

    std::string prefix = scratch.Path() + "\\" + kOmote + "\\";
    EXPECT_EQ(AllMatches(prefix + "*.dat"), (std::vector<std::string>{prefix + "a.dat", prefix + "b.dat"}));
    EXPECT_EQ(FindFirstMatch((prefix + "*.none").c_str()), 1);
    EXPECT_EQ(FindNextMatch(), nullptr);
}

TEST(FileSearch, RelativePatternYieldsRelativePaths)
{
    ScratchFolder scratch;
    CreateDirectoryA((scratch / "save").c_str(), nullptr);
    WriteFileBytes(scratch / "save\\1.dat", "1");
    std::string before = CurrentFolder();
    SetCurrentDirectoryA(scratch.Path().c_str());
    EXPECT_EQ(AllMatches("save\\*.dat"), std::vector<std::string>{"save\\1.dat"});
    SetCurrentDirectoryA(before.c_str());
}

TEST(DeleteMatchingFiles, RemovesFilesButNotFoldersAndRestoresTheCurrentFolder)
{
    ScratchFolder scratch;
    WriteFileBytes(scratch / "a.txt", "a");
    WriteFileBytes(scratch / "b.dat", "b");
    CreateDirectoryA((scratch / "sub").c_str(), nullptr);
    WriteFileBytes(scratch / "sub\\inner.txt", "i");
    std::string before = CurrentFolder();

    DeleteMatchingFiles(scratch.Path().c_str(), "*.*");

    EXPECT_FALSE(FileExists(scratch / "a.txt"));
    EXPECT_FALSE(FileExists(scratch / "b.dat"));
    EXPECT_TRUE(FolderExists(scratch / "sub"));
    EXPECT_TRUE(FileExists(scratch / "sub\\inner.txt"));
    EXPECT_EQ(CurrentFolder(), before);
}

TEST(DeleteMatchingFiles, ReadOnlyFileStaysWhileTheOthersGo)
{
    ScratchFolder scratch;
    for (const char* name : {"1.dat", "2.dat", "3.dat", "4.dat"})
        WriteFileBytes(scratch / name, name);
    SetFileAttributesA((scratch / "1.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((scratch / "3.dat").c_str(), FILE_ATTRIBUTE_READONLY);

    DeleteMatchingFiles(scratch.Path().c_str(), "*.dat");

    EXPECT_TRUE(FileExists(scratch / "1.dat"));
    EXPECT_FALSE(FileExists(scratch / "2.dat"));
    EXPECT_TRUE(FileExists(scratch / "3.dat"));
    EXPECT_FALSE(FileExists(scratch / "4.dat"));
}

TEST(DeleteMatchingFiles, PatternInAFolderWhoseNameEndsInA5CTrailByte)
{
    ScratchFolder scratch;
    CreateDirectoryA((scratch / kOmote).c_str(), nullptr);
    WriteFileBytes(scratch / (kOmote + "\\x.dat"), "x");
    WriteFileBytes(scratch / (kOmote + "\\keep.txt"), "k");
    WriteFileBytes(scratch / "x.dat", "outside");

    DeleteMatchingFiles(scratch.Path().c_str(), (kOmote + "\\*.dat").c_str());

    EXPECT_FALSE(FileExists(scratch / (kOmote + "\\x.dat")));
    EXPECT_TRUE(FileExists(scratch / (kOmote + "\\keep.txt")));
    EXPECT_TRUE(FileExists(scratch / "x.dat"));
}

TEST(DeleteMatchingFiles, FolderNamedLikeThePatternIsLeftAlone)
{
    ScratchFolder scratch;
    CreateDirectoryA((scratch / "install.env").c_str(), nullptr);
    WriteFileBytes(scratch / "install.env\\inside.txt", "i");
    DeleteMatchingFiles(scratch.Path().c_str(), "install.env");
    EXPECT_TRUE(FolderExists(scratch / "install.env"));
    EXPECT_TRUE(FileExists(scratch / "install.env\\inside.txt"));
}

TEST(DeleteMatchingFiles, FolderThatCannotBeEnteredDeletesNothing)
{
    ScratchFolder scratch;
    WriteFileBytes(scratch / "victim.dat", "v");
    std::string before = CurrentFolder();
    SetCurrentDirectoryA(scratch.Path().c_str());

    DeleteMatchingFiles((scratch / "missing").c_str(), "*.dat");

    EXPECT_TRUE(FileExists(scratch / "victim.dat")) << "the pattern must not match in the current folder";
    EXPECT_EQ(CurrentFolder(), scratch.Path());
    SetCurrentDirectoryA(before.c_str());
}

std::string TempFolder()
{
    char path[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, path);
    std::string folder = path;
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

TEST(WorkFolder, MadeUnderTheTemporaryFolderCurrentAndRemovedAgain)
{
    ScratchFolder start;
    std::string before = CurrentFolder();
    SetCurrentDirectoryA(start.Path().c_str());

    CreateWorkFolder();
    std::string work = GetWorkFolder();
    std::string prefix = TempFolder() + "\\VaruVIRazudarIdezor_";
    ASSERT_EQ(work.compare(0, prefix.size(), prefix), 0) << work;
    std::string number = work.substr(prefix.size());
    EXPECT_EQ(number.size(), 9u) << work;
    EXPECT_TRUE(std::all_of(number.begin(), number.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; }));
    EXPECT_TRUE(FolderExists(work));
    EXPECT_EQ(CurrentFolder(), work);
    EXPECT_EQ(std::string(GetStartFolder()), start.Path());

    WriteFileBytes(work + "\\install.env", "x");
    WriteFileBytes(work + "\\insttscr.rct", "y");
    RemoveWorkFolder();
    EXPECT_FALSE(FolderExists(work));
    EXPECT_EQ(CurrentFolder(), start.Path());
    SetCurrentDirectoryA(before.c_str());
}

// A running updater's folder: it holds the folder open without letting it be deleted.
HANDLE HoldFolder(const std::string& path)
{
    return CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

TEST(WorkFolder, AFolderOfTheSameNameIsNeverShared)
{
    // Occupy every name the next moments could give, as a second copy started in the same
    // millisecond would.
    std::string prefix = TempFolder() + "\\VaruVIRazudarIdezor_";
    DWORD now = timeGetTime();
    std::set<std::string> occupied;
    std::vector<HANDLE> held;
    for (DWORD tick = now; tick < now + 400; ++tick) {
        char name[64];
        snprintf(name, sizeof name, "%09d", (int)tick);
        std::string path = prefix + name;
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            occupied.insert(path);
            held.push_back(HoldFolder(path));
        }
    }
    std::string before = CurrentFolder();
    CreateWorkFolder();
    std::string work = GetWorkFolder();
    bool shared = occupied.count(work) != 0;
    EXPECT_FALSE(shared) << work;
    EXPECT_TRUE(FolderExists(work));
    EXPECT_EQ(CurrentFolder(), work);
    RemoveWorkFolder();
    EXPECT_FALSE(FolderExists(work));
    for (HANDLE folder : held)
        CloseHandle(folder);
    for (const std::string& path : occupied)
        RemoveDirectoryA(path.c_str());
    SetCurrentDirectoryA(before.c_str());
}

// Work folders killed runs left go at the next start; a running updater's, one holding a
// subfolder, and folders of other names stay.
TEST(WorkFolder, FoldersKilledRunsLeftGoAtTheNextStart)
{
    const std::string prefix = TempFolder() + "\\VaruVIRazudarIdezor_";
    const std::string left = prefix + "000012345";
    const std::string leftNegative = prefix + "-00012345";
    const std::string running = prefix + "000012346";
    const std::string nested = prefix + "000012347";
    const std::string other = prefix + "notes";
    for (const std::string& folder : {left, leftNegative, running, nested, other}) {
        CreateDirectoryA(folder.c_str(), nullptr);
        WriteFileBytes(folder + "\\install.env", "TITLEBAR\tx\r\n");
    }
    CreateDirectoryA((nested + "\\sub").c_str(), nullptr);
    HANDLE held = HoldFolder(running);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    std::string before = CurrentFolder();
    CreateWorkFolder();
    EXPECT_FALSE(FolderExists(left));
    EXPECT_FALSE(FolderExists(leftNegative));
    for (const std::string& folder : {running, nested, other})
        EXPECT_TRUE(FileExists(folder + "\\install.env")) << folder;
    // This run's own folder is held the same way while it runs.
    std::string work = GetWorkFolder();
    HANDLE probe = CreateFileA(work.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(probe, INVALID_HANDLE_VALUE) << "a later start could take it";
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    RemoveWorkFolder();
    EXPECT_FALSE(FolderExists(work));
    CloseHandle(held);
    for (const std::string& folder : {running, nested, other}) {
        DeleteFileA((folder + "\\install.env").c_str());
        RemoveDirectoryA((folder + "\\sub").c_str());
        RemoveDirectoryA(folder.c_str());
    }
    SetCurrentDirectoryA(before.c_str());
}

}  // namespace
