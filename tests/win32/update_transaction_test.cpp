// The full pass as one transaction: whatever stops it (damage found, a destination that cannot be
// replaced, a quit message, a killed process), the game folder ends exactly as it was, or, after
// the next run, exactly updated. Failures end the process, so those passes run in a child.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/work_folder.h"
#include "child.h"
#include "driver.h"
#include "extraction/extraction.h"
#include "extraction/update_journal.h"
#include "folder_state.h"
#include "import_hook.h"
#include "package/package_writer.h"
#include "pseudo_random.h"
#include "scratch.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "update/after_install_removal.h"

namespace {

const char kReadFailure[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const uint64_t kTime = 0x01D8A1B2C3D4E5F0ull;     // the packaged time stamp
const uint64_t kOldTime = 0x01D0123456789ABCull;  // the installed files'
const std::vector<unsigned char> kImage(300, 0x4D);
const int kUnit = BLOCK_SIZE;
const int kQuitCode = 5;
const DWORD kKilled = 9;

struct Entry {
    std::string name;  // a folder's ends in a backslash
    std::string contents;
    bool damaged = false;  // the zlib check value is wrong: found after the data is written
};

std::string BuildUpdate(const std::vector<Entry>& entries)
{
    std::vector<unsigned char> file(kImage);
    PackageWriter writer([&](const unsigned char* d, size_t n) { file.insert(file.end(), d, d + n); },
                         (uint32_t)kImage.size());
    for (const Entry& entry : entries) {
        if (!entry.name.empty() && entry.name.back() == '\\') {
            writer.AddFolder(entry.name);
            continue;
        }
        std::vector<unsigned char> stream = DeflateZlib(entry.contents);
        if (entry.damaged)
            stream.back() ^= 0x55;
        writer.AddFile(entry.name, (int32_t)entry.contents.size(), kTime, stream);
    }
    writer.Finish();
    return std::string(file.begin(), file.end());
}

void SetTime(const std::string& path, uint64_t time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    FILETIME stamp{(DWORD)time, (DWORD)(time >> 32)};
    SetFileTime(file, nullptr, nullptr, &stamp);
    CloseHandle(file);
}

// A played game: files the update replaces (one of them hidden), files and a save it never names.
void MakeGame(const std::string& game)
{
    CreateDirectoryA(game.c_str(), nullptr);
    CreateDirectoryA((game + "\\save").c_str(), nullptr);
    const std::pair<const char*, const char*> files[] = {
        {"a.dat", "old a, longer than the new one would be"}, {"m.dat", "old m"}, {"z.dat", "old z"},
        {"keep.dat", "not in the update"}, {"save\\slot01.sav", "the player's save"}};
    for (const auto& [name, contents] : files) {
        WriteFileBytes(game + "\\" + name, contents);
        SetTime(game + "\\" + name, kOldTime);
    }
    SetFileAttributesA((game + "\\z.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
}

// The update: file entries 0 (a.dat), 2 (m.dat) and 4 (z.dat) replace installed files, 1 and 3 are
// new; "new\" is a new folder. With large, the replaced ones span several blocks.
std::vector<Entry> GameUpdate(bool large)
{
    auto body = [&](const char* small, uint32_t seed) {
        return large ? kit::RandomBytes((size_t)kUnit * 5 / 2, seed) : std::string(small);
    };
    return {{"a.dat", body("new a", 1)}, {"new\\", ""},        {"new\\b.dat", "new b"},
            {"m.dat", body("new m", 2)}, {"c.dat", "new c"}, {"z.dat", body("new z", 3)}};
}

// The entry index of the k-th file entry.
size_t FileEntry(const std::vector<Entry>& entries, int k)
{
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name.back() != '\\' && k-- == 0)
            return i;
    }
    throw std::out_of_range("no such file entry");
}

// A file in one of the updater's working folders, or such a folder itself.
bool IsWorkPath(const std::string& path)
{
    static const std::regex work(".*\\\\~upd[0-9A-Fa-f]{4}\\.tmp(\\\\[0-9A-F]+)?$");
    return std::regex_match(path, work);
}

// The child's hooks, which stop the pass at one point of the k-th (or every) step.
int stopAt = -1;
int stopCount = 0;
bool StopHere()
{
    return stopAt >= 0 && stopCount++ == stopAt;
}

using CreateFileFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
using DeleteFileFunction = BOOL(WINAPI*)(LPCSTR);
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CreateHardLinkFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);
using DiskFreeSpaceFunction = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
CreateFileFunction realCreateFile;
MoveFileExFunction realMoveFileEx;
DeleteFileFunction realDeleteFile;
WriteFileFunction realWriteFile;
CreateHardLinkFunction realCreateHardLink;

// A quit message arrives while the k-th file is being written.
HANDLE WINAPI QuittingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile)
{
    HANDLE file = realCreateFile(path, access, share, security, disposition, flags, templateFile);
    if (file != INVALID_HANDLE_VALUE && disposition == CREATE_NEW && IsWorkPath(path) && StopHere())
        PostQuitMessage(kQuitCode);
    return file;
}

void Kill()
{
    TerminateProcess(GetCurrentProcess(), kKilled);
}

HANDLE WINAPI KillingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile)
{
    HANDLE file = realCreateFile(path, access, share, security, disposition, flags, templateFile);
    std::string name = path;
    if (file != INVALID_HANDLE_VALUE && disposition == CREATE_NEW &&
        name.size() >= strlen(UPDATE_JOURNAL_NAME) &&
        name.compare(name.size() - strlen(UPDATE_JOURNAL_NAME), std::string::npos, UPDATE_JOURNAL_NAME) == 0)
        Kill();
    return file;
}

// stopAt counts the written blocks of data or, with steps, the steps put on record for files:
// killed before the record of step k, k files are in their places.
bool countSteps;
BOOL WINAPI KillingWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    const char* bytes = static_cast<const char*>(data);
    if (countSteps && size > 2 && (bytes[0] == JOURNAL_NEW || bytes[0] == JOURNAL_REPLACE) && bytes[1] == '\t' &&
        StopHere())
        Kill();
    BOOL result = realWriteFile(file, data, size, written, overlapped);
    if (!countSteps && size == (DWORD)kUnit && StopHere())
        Kill();
    return result;
}

// stopAt counts the old files kept under a second name.
BOOL WINAPI KillingCreateHardLink(LPCSTR name, LPCSTR existing, LPSECURITY_ATTRIBUTES security)
{
    BOOL result = realCreateHardLink(name, existing, security);
    if (result && StopHere())
        Kill();
    return result;
}

// stopAt counts the old files moved aside.
BOOL WINAPI KillingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags)
{
    BOOL result = realMoveFileEx(from, to, flags);
    if (result && IsWorkPath(to) && StopHere())
        Kill();
    return result;
}

// A disk with 1 MiB free.
BOOL WINAPI NearlyFullDisk(LPCSTR, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free)
{
    for (PULARGE_INTEGER value : {available, total, free})
        if (value != nullptr)
            value->QuadPart = 1 << 20;
    return TRUE;
}

// A file system without second names (FAT, some network drives).
BOOL WINAPI RefusingCreateHardLink(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI KillingDeleteFile(LPCSTR path)
{
    BOOL result = realDeleteFile(path);
    if (result && IsWorkPath(path) && StopHere())
        Kill();
    return result;
}

// The listings report a.dat as a reparse point of the planted tag, as Windows reports a file
// compressed by compact.exe, a cloud placeholder or a symbolic link (Wine makes none of the first
// two, and its own links carry no tag).
using FindFirstFileFunction = HANDLE(WINAPI*)(LPCSTR, LPWIN32_FIND_DATAA);
using FindNextFileFunction = BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAA);
FindFirstFileFunction realFindFirstFile;
FindNextFileFunction realFindNextFile;
DWORD plantedTag;

void PlantTag(LPWIN32_FIND_DATAA found)
{
    if (_stricmp(found->cFileName, "a.dat") == 0) {
        found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        found->dwReserved0 = plantedTag;
    }
}

HANDLE WINAPI TaggingFindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    HANDLE search = realFindFirstFile(pattern, found);
    if (search != INVALID_HANDLE_VALUE)
        PlantTag(found);
    return search;
}

BOOL WINAPI TaggingFindNextFile(HANDLE search, LPWIN32_FIND_DATAA found)
{
    BOOL result = realFindNextFile(search, found);
    if (result)
        PlantTag(found);
    return result;
}

template <typename Function>
Function Hook(const char* name, Function replacement)
{
    return reinterpret_cast<Function>(HookImport("kernel32.dll", name, reinterpret_cast<void*>(replacement)));
}

// args: package, target, how to stop ("", "quit", "nospace", "journal", "block", "kept", "aside", "placed",
// "commit", each after "nolinks" for a file system without second names; or "tag:" and a
// hexadecimal reparse tag the listings give a.dat), the step count at which to stop.
TEST_CHILD(Pass)
{
    CreateWorkFolder();
    std::string how = args.at(2);
    if (how.rfind("tag:", 0) == 0) {
        plantedTag = (DWORD)std::stoul(how.substr(4), nullptr, 16);
        realFindFirstFile = Hook("FindFirstFileA", TaggingFindFirstFile);
        realFindNextFile = Hook("FindNextFileA", TaggingFindNextFile);
    }
    if (how.rfind("nolinks", 0) == 0) {
        realCreateHardLink = Hook("CreateHardLinkA", RefusingCreateHardLink);
        how = how.substr(std::string("nolinks").size());
    }
    stopAt = std::stoi(args.at(3));
    if (how == "quit")
        realCreateFile = Hook("CreateFileA", QuittingCreateFile);
    if (how == "nospace")
        Hook("GetDiskFreeSpaceExA", static_cast<DiskFreeSpaceFunction>(NearlyFullDisk));
    if (how == "journal")
        realCreateFile = Hook("CreateFileA", KillingCreateFile);
    if (how == "block" || how == "placed") {
        countSteps = how == "placed";
        realWriteFile = Hook("WriteFile", KillingWriteFile);
    }
    if (how == "kept")
        realCreateHardLink = Hook("CreateHardLinkA", KillingCreateHardLink);
    if (how == "aside")
        realMoveFileEx = Hook("MoveFileExA", KillingMoveFileEx);
    if (how == "commit")
        realDeleteFile = Hook("DeleteFileA", KillingDeleteFile);
    SetPackageFilePath(args.at(0).c_str());
    ExtractPackage(args.at(1).c_str(), EXTRACT_FULL_PASS);
    RemoveWorkFolder();
    return 0;
}

TEST_CHILD(Recover)
{
    return RecoverInterruptedUpdate(args.at(0).c_str());
}

DWORD RunPass(const std::string& package, const std::string& game, const std::string& how = "", int at = -1)
{
    driver::Process child = StartChild("Pass", {package, game, how, std::to_string(at)});
    return child.WaitForExit();
}

// The folder after a pass that went through, for comparison.
FolderState UpdatedGame(const ScratchFolder& scratch, const std::string& package)
{
    const std::string reference = scratch / "reference";
    MakeGame(reference);
    EXPECT_EQ(RunPass(package, reference), 0u);
    return ReadFolderState(reference);
}

enum class Cause { Damaged, ReadOnly, HeldOpen, RefusedName, Quit };
const char* Describe(Cause cause)
{
    switch (cause) {
    case Cause::Damaged:
        return "damaged stream";
    case Cause::ReadOnly:
        return "read-only destination";
    case Cause::HeldOpen:
        return "destination held open without delete sharing";
    case Cause::RefusedName:
        return "a name the checks refuse";
    case Cause::Quit:
        return "quit message";
    }
    return "?";
}

TEST(Transaction, AFailureAtAnyEntryLeavesTheFolderAsItWas)
{
    for (Cause cause : {Cause::Damaged, Cause::ReadOnly, Cause::HeldOpen, Cause::RefusedName, Cause::Quit}) {
        for (int k : {0, 2, 4}) {  // the first, middle and last file entry: each replaces a file
            SCOPED_TRACE(std::string(Describe(cause)) + " at file entry " + std::to_string(k));
            ScratchFolder scratch;
            const std::string game = scratch / "game";
            MakeGame(game);
            std::vector<Entry> entries = GameUpdate(true);
            Entry& failing = entries[FileEntry(entries, k)];
            const std::string destination = game + "\\" + failing.name;
            HANDLE held = INVALID_HANDLE_VALUE;
            switch (cause) {
            case Cause::Damaged:
                failing.damaged = true;
                break;
            case Cause::ReadOnly:
                SetFileAttributesA(destination.c_str(), GetFileAttributesA(destination.c_str()) | FILE_ATTRIBUTE_READONLY);
                break;
            case Cause::HeldOpen:
                held = CreateFileA(destination.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
                ASSERT_NE(held, INVALID_HANDLE_VALUE);
                break;
            case Cause::RefusedName:
                failing.name = "aux.dat";
                break;
            case Cause::Quit:
                break;
            }
            const std::string package = scratch / "update.exe";
            WriteFileBytes(package, BuildUpdate(entries));
            const FolderState before = ReadFolderState(game);

            driver::Process child =
                StartChild("Pass", {package, game, cause == Cause::Quit ? "quit" : "", std::to_string(k)});
            if (cause == Cause::Quit) {
                EXPECT_EQ(child.WaitForExit(), (DWORD)kQuitCode);
            } else {
                EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
                EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
            }
            if (held != INVALID_HANDLE_VALUE)
                CloseHandle(held);
            EXPECT_EQ(ReadFolderState(game), before);
            SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

// The new files and the old ones they replace are both on the disk until the commit: without
// room for them nothing is written.
TEST(Transaction, WithoutRoomOnTheDiskNothingIsWritten)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    MakeGame(game);
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(GameUpdate(true)));
    const FolderState before = ReadFolderState(game);
    driver::Process child = StartChild("Pass", {package, game, "nospace", "-1"});
    EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(game), before);
}

// Killed at one point of a large update, the folder is as it was once the next run has looked
// at it (or updated, when the kill came after every entry was in place); that run then completes
// and nothing of the first is left.
TEST(Transaction, AKilledPassIsUndoneOrFinishedByTheNextRun)
{
    const struct {
        const char* how;
        int at;
        bool committed;
        const char* label;
    } points[] = {
        {"journal", 0, false, "right after the record was made"},
        {"block", 1, false, "in the middle of the first file"},
        {"block", 5, false, "in the middle of a later file"},
        {"kept", 0, false, "the first old file kept under a second name, the new one not in its place"},
        {"kept", 2, false, "the last old file kept under a second name"},
        {"placed", 4, false, "four files in place"},
        {"commit", 0, true, "while the old files are deleted"},
    };
    ScratchFolder scratch;
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(GameUpdate(true)));
    const FolderState updated = UpdatedGame(scratch, package);
    for (const auto& point : points) {
        SCOPED_TRACE(point.label);
        const std::string game = scratch / "game";
        RemoveTree(game);
        MakeGame(game);
        const FolderState before = ReadFolderState(game);
        ASSERT_EQ(RunPass(package, game, point.how, point.at), kKilled) << "the pass was not stopped there";
        EXPECT_TRUE(FileExists(game + "\\" UPDATE_JOURNAL_NAME));

        EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
        EXPECT_EQ(ReadFolderState(game), point.committed ? updated : before);

        // Killed again at the same point, then left to the next full run.
        if (!point.committed) {
            ASSERT_EQ(RunPass(package, game, point.how, point.at), kKilled);
        }
        EXPECT_EQ(RunPass(package, game), 0u);
        EXPECT_EQ(ReadFolderState(game), updated);
    }
}

// Where the file system has no second names, an old file is moved aside instead: the same
// promises hold.
TEST(Transaction, WithoutSecondNamesOldFilesMoveAsideAndStillComeBack)
{
    ScratchFolder scratch;
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(GameUpdate(true)));
    const FolderState updated = UpdatedGame(scratch, package);
    const std::string game = scratch / "game";

    MakeGame(game);
    EXPECT_EQ(RunPass(package, game, "nolinks"), 0u);
    EXPECT_EQ(ReadFolderState(game), updated);

    for (int at : {0, 2}) {
        SCOPED_TRACE("killed after old file " + std::to_string(at) + " moved aside");
        RemoveTree(game);
        MakeGame(game);
        const FolderState before = ReadFolderState(game);
        ASSERT_EQ(RunPass(package, game, "nolinksaside", at), kKilled);
        EXPECT_FALSE(FileExists(game + "\\" + GameUpdate(false)[FileEntry(GameUpdate(false), 2 * at)].name))
            << "the old file is not in its place any more";
        EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
        EXPECT_EQ(ReadFolderState(game), before);
    }

    RemoveTree(game);
    MakeGame(game);
    const FolderState before = ReadFolderState(game);
    std::vector<Entry> damaged = GameUpdate(true);
    damaged.back().damaged = true;
    WriteFileBytes(package, BuildUpdate(damaged));
    driver::Process child = StartChild("Pass", {package, game, "nolinks", "-1"});
    EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(game), before);
}

struct FileIdentity {
    DWORD volume, high, low, links;
};

FileIdentity IdentityOf(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!known)
        throw driver::DriverError("no identity for " + path);
    return {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow,
            information.nNumberOfLinks};
}

void RunPassHere(const ScratchFolder& scratch, const std::string& game, const std::vector<Entry>& entries)
{
    WriteFileBytes(scratch / "update.exe", BuildUpdate(entries));
    SetPackageFilePath((scratch / "update.exe").c_str());
    ExtractPackage(game.c_str(), EXTRACT_FULL_PASS);
    SetPackageFilePath(nullptr);
}

// Each installed file is a file of its own: never the storage another file of the folder had
// (whose owner, permissions and streams it would take).
TEST(Transaction, NoInstalledFileSharesStorageWithAFileTheFolderHad)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    MakeGame(game);
    std::set<std::tuple<DWORD, DWORD, DWORD>> before;
    for (const auto& [name, item] : ReadFolderState(game)) {
        if (!item.folder) {
            FileIdentity identity = IdentityOf(game + "\\" + name);
            before.insert({identity.volume, identity.high, identity.low});
        }
    }
    const FileIdentity untouched = IdentityOf(game + "\\keep.dat");
    const std::vector<Entry> entries = GameUpdate(false);
    RunPassHere(scratch, game, entries);

    for (const Entry& entry : entries) {
        if (entry.name.back() == '\\')
            continue;
        SCOPED_TRACE(entry.name);
        const std::string path = game + "\\" + entry.name;
        EXPECT_EQ(ReadFileBytes(path), entry.contents);
        EXPECT_EQ(LastWriteTime(path), kTime);
        FileIdentity identity = IdentityOf(path);
        EXPECT_EQ(before.count({identity.volume, identity.high, identity.low}), 0u);
        EXPECT_EQ(identity.links, 1u);
    }
    EXPECT_EQ(IdentityOf(game + "\\keep.dat").low, untouched.low);
    EXPECT_NE(GetFileAttributesA((game + "\\z.dat").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    for (const auto& [name, item] : ReadFolderState(game))
        EXPECT_FALSE(IsWorkPath("\\" + name) || name == UPDATE_JOURNAL_NAME) << name << " stays behind";
}

// A player who moved the game's data to another drive, leaving a folder link: the update is
// written through it, but no removal line deletes through it.
TEST(Transaction, WritesPassThroughAFolderLinkAndRemovalsDoNot)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    const std::string elsewhere = scratch / "elsewhere";
    MakeGame(game);
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    WriteFileBytes(elsewhere + "\\old.dat", "old");
    WriteFileBytes(elsewhere + "\\keep.dat", "the player's");
    if (!MakeFolderLink(game + "\\data", elsewhere))
        GTEST_SKIP() << "no folder link can be made here";
    CreateDirectoryA((game + "\\plain").c_str(), nullptr);
    WriteFileBytes(game + "\\plain\\keep.dat", "removed: no link on the way");

    RunPassHere(scratch, game, {{"data\\old.dat", "new"}, {"data\\new.dat", "n"}});
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\old.dat"), "new");
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\new.dat"), "n");
    EXPECT_NE(GetFileAttributesA((game + "\\data").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "still a link";

    // A pass that fails behind the link: the old file comes back there (a rename), the working
    // folder goes, but a new file stays, since no undoing deletes through a link.
    const std::string package = scratch / "failing.exe";
    WriteFileBytes(package, BuildUpdate({{"data\\old.dat", "newer"}, {"data\\fresh.dat", "f"},
                                         {"data\\last.dat", "l", true}}));
    driver::Process child = StartChild("Pass", {package, game, "", "-1"});
    EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\old.dat"), "new");
    EXPECT_EQ(FolderNames(elsewhere), (std::vector<std::string>{"fresh.dat", "keep.dat", "new.dat", "old.dat"}));
    DeleteFileA((elsewhere + "\\fresh.dat").c_str());

    for (const char* line : {"data\\keep.dat", "data\\*.dat", "plain\\keep.dat"})
        RemoveListedEntry(game.c_str(), line);
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\keep.dat"), "the player's");
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\old.dat"), "new");
    EXPECT_FALSE(FileExists(game + "\\plain\\keep.dat"));
    EXPECT_FALSE(FolderExists(game + "\\plain"));
}

// A file that a system feature keeps as a reparse point in place is replaced like any other; one
// that leads somewhere else (a file link), or whose kind is not told, is refused before anything
// is written.
TEST(Transaction, AFileKeptAsAReparsePointInPlaceIsReplacedAndAFileLinkIsNot)
{
    const struct {
        const char* tag;
        bool replaced;
        const char* kind;
    } cases[] = {{"80000017", true, "compressed by compact.exe"},
                 {"9000301A", true, "cloud placeholder"},
                 {"A000000C", false, "symbolic link"},
                 {"0", false, "no tag told"}};
    ScratchFolder scratch;
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(GameUpdate(false)));
    const FolderState updated = UpdatedGame(scratch, package);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string game = scratch / (std::string("game-") + c.tag);
        MakeGame(game);
        const FolderState before = ReadFolderState(game);
        driver::Process child = StartChild("Pass", {package, game, std::string("tag:") + c.tag, "-1"});
        if (c.replaced) {
            EXPECT_EQ(child.WaitForExit(), 0u);
            EXPECT_EQ(ReadFolderState(game), updated);
        } else {
            EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
            EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
            EXPECT_EQ(ReadFolderState(game), before);
        }
    }
}

// Working folders an earlier run left without a record (a build that kept none, or a record that
// was lost) go with the next update that lists their folder, once it is in place; anything in them
// that is not a plain file keeps the whole folder, and a failed update leaves them too.
TEST(Transaction, WorkingFoldersEarlierRunsLeftGoOnceTheNextUpdateIsInPlace)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    MakeGame(game);
    const std::string spares = game + "\\~upd1A2B.tmp";
    CreateDirectoryA(spares.c_str(), nullptr);
    WriteFileBytes(spares + "\\~upd0.tmp", kit::RandomBytes((size_t)kUnit * 3, 7));
    WriteFileBytes(spares + "\\~upd1.tmp", "spare");
    CreateDirectoryA((game + "\\new").c_str(), nullptr);
    CreateDirectoryA((game + "\\new\\~upd00ff.tmp").c_str(), nullptr);
    WriteFileBytes(game + "\\new\\~upd00ff.tmp\\1F", "waiting");
    CreateDirectoryA((game + "\\~upd2B3C.tmp").c_str(), nullptr);  // empty
    const std::string nested = game + "\\~upd3C4D.tmp";
    CreateDirectoryA(nested.c_str(), nullptr);
    CreateDirectoryA((nested + "\\sub").c_str(), nullptr);
    WriteFileBytes(nested + "\\sub\\x", "below a subfolder");
    WriteFileBytes(nested + "\\0", "beside a subfolder, listed before it");
    const std::string readOnly = game + "\\~upd4D5E.tmp";
    CreateDirectoryA(readOnly.c_str(), nullptr);
    WriteFileBytes(readOnly + "\\0", "beside a read-only file, listed before it");
    WriteFileBytes(readOnly + "\\r", "read-only");
    SetFileAttributesA((readOnly + "\\r").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(game + "\\~upd5E6F.tmp", "a file, not a folder");
    const std::string elsewhere = scratch / "elsewhere";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    WriteFileBytes(elsewhere + "\\x", "behind a link");
    bool linked = MakeFolderLink(game + "\\~upd6F70.tmp", elsewhere);
    const FolderState before = ReadFolderState(game);

    std::vector<Entry> failing = GameUpdate(false);
    failing.back().damaged = true;
    WriteFileBytes(scratch / "failing.exe", BuildUpdate(failing));
    driver::Process child = StartChild("Pass", {scratch / "failing.exe", game, "", "-1"});
    EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(game), before);

    RunPassHere(scratch, game, GameUpdate(false));
    FolderState after = ReadFolderState(game);
    for (const char* gone : {"~upd1A2B.tmp", "new\\~upd00ff.tmp", "~upd2B3C.tmp"})
        EXPECT_EQ(after.count(gone), 0u) << gone << " stays";
    for (const auto& [name, item] : before) {
        bool kept = name.rfind("~upd3C4D.tmp", 0) == 0 || name.rfind("~upd4D5E.tmp", 0) == 0 ||
                    name.rfind("~upd5E6F.tmp", 0) == 0 || name.rfind("~upd6F70.tmp", 0) == 0;
        if (kept) {
            EXPECT_EQ(after.count(name) ? after.at(name) : ItemState{}, item) << name;
        }
    }
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\x"), "behind a link");
    if (linked) {
        EXPECT_NE(GetFileAttributesA((game + "\\~upd6F70.tmp").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    }
    EXPECT_EQ(ReadFileBytes(game + "\\a.dat"), "new a");
}

// A record planted in the game folder by someone who may write there reaches no further than a
// broken package could: never outside the folder, never a name of the game's that no step made.
TEST(Transaction, ARecordNamingPathsOutsideTheFolderIsNotActedOn)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    MakeGame(game);
    WriteFileBytes(scratch / "victim.dat", "outside");
    WriteFileBytes(game + "\\~upd0001.tmp", "aside");
    const std::string record = std::string(UPDATE_JOURNAL_NAME) + " 1\r\n" +
                               "N\t..\\victim.dat\t~upd0002.tmp\r\n"
                               "N\tC:\\victim.dat\t~upd0003.tmp\r\n"
                               "R\tkeep.dat\tnot-temporary.dat\t~upd0001.tmp\r\n"
                               "D\t..\\\r\n";
    WriteFileBytes(game + "\\" UPDATE_JOURNAL_NAME, record);
    FolderState before = ReadFolderState(game);
    before.erase(UPDATE_JOURNAL_NAME);
    EXPECT_EQ(RecoverInterruptedUpdate(game.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(scratch / "victim.dat"), "outside");
    EXPECT_EQ(ReadFolderState(game), before);
}

}  // namespace
