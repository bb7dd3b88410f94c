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
#include "transaction/update_journal.h"
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
const char kInUse[] = "次のファイルが使用中のため、アップデートできません。\n";
const char kNoRoom[] = "ディスクの空き容量が足りません。\n";
const char kBusy[] = "このフォルダでは、別のアップデータが実行中です。\n";

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}
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

// stopAt counts the old files moved aside or, with placing, the files given their names.
bool countPlacing;
BOOL WINAPI KillingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags)
{
    BOOL result = realMoveFileEx(from, to, flags);
    if (result && IsWorkPath(to) != countPlacing && StopHere())
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

// A folder link that leads the game's data onto a drive with 1 MiB free.
DiskFreeSpaceFunction realDiskFreeSpace;
BOOL WINAPI FullDataDrive(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free)
{
    std::string folder = path;
    if (folder.size() < 5 || folder.compare(folder.size() - 5, 5, "\\data") != 0)
        return realDiskFreeSpace(path, available, total, free);
    return NearlyFullDisk(path, available, total, free);
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
// "placing", "commit", each after "nolinks" for a file system without second names; or "tag:" and a
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
    if (how == "fulldata")
        realDiskFreeSpace = Hook("GetDiskFreeSpaceExA", static_cast<DiskFreeSpaceFunction>(FullDataDrive));
    if (how == "journal")
        realCreateFile = Hook("CreateFileA", KillingCreateFile);
    if (how == "block" || how == "placed") {
        countSteps = how == "placed";
        realWriteFile = Hook("WriteFile", KillingWriteFile);
    }
    if (how == "kept")
        realCreateHardLink = Hook("CreateHardLinkA", KillingCreateHardLink);
    if (how == "aside" || how == "placing") {
        countPlacing = how == "placing";
        realMoveFileEx = Hook("MoveFileExA", KillingMoveFileEx);
    }
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
            } else if (cause == Cause::HeldOpen) {
                // Found before the first write; the player is told which file, and may cancel.
                const std::string text = AnswerChildBox(child, IDCANCEL).text;
                EXPECT_TRUE(StartsWith(text, kInUse)) << text;
                EXPECT_NE(text.find(destination), std::string::npos) << text;
                EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
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
    // Three files of 2.5 blocks and the margin, against 1 MiB free: the shortfall in whole MiB.
    const std::string text = AnswerChildBox(child, IDCANCEL).text;
    EXPECT_TRUE(StartsWith(text, kNoRoom)) << text;
    EXPECT_NE(text.find(game), std::string::npos) << text;
    EXPECT_NE(text.find(" 4 MB"), std::string::npos) << text;
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(game), before);
}

bool InWorkingFolder(const std::string& name)
{
    return IsWorkPath("\\" + name) || IsWorkPath("\\" + name.substr(0, name.rfind('\\')));
}

// Every name the game had, as it was: new names may only be the pass's working folders, its
// record and the package's new folders.
void ExpectOldNamesUntouched(const FolderState& before, const FolderState& now)
{
    for (const auto& [name, item] : before)
        EXPECT_EQ(now.count(name) ? now.at(name) : ItemState{}, item) << name << " changed before the commit";
    for (const auto& [name, item] : now) {
        bool ours = InWorkingFolder(name) || name == UPDATE_JOURNAL_NAME || (item.folder && name == "new");
        EXPECT_TRUE(before.count(name) || ours) << name << " took its name before the commit";
    }
}

// Killed at one point of a large update, the folder is as it was once the next run has looked
// at it (or updated, when the kill came inside the commit); before the commit, no name the game
// had has changed even at the moment of the kill. That run then completes and nothing of the
// first is left.
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
        {"kept", 0, false, "the first old file has its second name"},
        {"kept", 2, false, "the last old file has its second name"},
        {"placed", 4, false, "four files waiting"},
        {"placing", 0, true, "the first file has taken its name"},
        {"placing", 3, true, "four files have taken their names"},
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
        if (!point.committed)
            ExpectOldNamesUntouched(before, ReadFolderState(game));

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

    // The old files move aside only inside the commit: a kill there is finished, between the two
    // renames of one file too.
    for (int at : {0, 2}) {
        SCOPED_TRACE("killed after old file " + std::to_string(at) + " moved aside");
        RemoveTree(game);
        MakeGame(game);
        ASSERT_EQ(RunPass(package, game, "nolinksaside", at), kKilled);
        EXPECT_FALSE(FileExists(game + "\\" + GameUpdate(false)[FileEntry(GameUpdate(false), 2 * at)].name))
            << "the old file is not in its place any more";
        EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
        EXPECT_EQ(ReadFolderState(game), updated);
    }
    RemoveTree(game);
    MakeGame(game);
    const FolderState old = ReadFolderState(game);
    ASSERT_EQ(RunPass(package, game, "nolinksblock", 5), kKilled);
    EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
    EXPECT_EQ(ReadFolderState(game), old);

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

    // A pass that fails behind the link, and one killed there and undone by the next run: what
    // they made goes again (known by its identity), and nothing else there changes.
    const std::string package = scratch / "failing.exe";
    WriteFileBytes(package, BuildUpdate({{"data\\old.dat", "newer"}, {"data\\fresh.dat", "f"},
                                         {"data\\sub\\", ""}, {"data\\sub\\deep.dat", "d"},
                                         {"data\\last.dat", "l", true}}));
    const FolderState there = ReadFolderState(elsewhere);
    driver::Process child = StartChild("Pass", {package, game, "", "-1"});
    EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(elsewhere), there);
    ASSERT_EQ(RunPass(package, game, "placed", 3), kKilled);
    EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
    EXPECT_EQ(ReadFolderState(elsewhere), there);

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

void MakeMarkedFolder(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files)
{
    CreateDirectoryA(path.c_str(), nullptr);
    WriteFileBytes(path + "\\" UPDATE_MARK_NAME, UPDATE_MARK_TEXT);
    for (const auto& [name, contents] : files)
        WriteFileBytes(path + "\\" + name, contents);
}

// Working folders an earlier run left without a record (one whose record was lost) go with the
// next update that lists their folder, once it is in place. Only folders that carry the
// updater's mark and hold nothing but its waiting files: a player's folder of that name, one
// holding anything else, or one reached through a link stays, and a failed update leaves all.
TEST(Transaction, WorkingFoldersEarlierRunsLeftGoOnceTheNextUpdateIsInPlace)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    MakeGame(game);
    MakeMarkedFolder(game + "\\~upd1A2B.tmp", {{"0", kit::RandomBytes((size_t)kUnit * 3, 7)}, {"1", "spare"}});
    CreateDirectoryA((game + "\\new").c_str(), nullptr);
    MakeMarkedFolder(game + "\\new\\~upd00ff.tmp", {{"1F", "waiting"}});
    MakeMarkedFolder(game + "\\~upd2B3C.tmp", {});
    // The player's own, named alike: without the mark, or with a wrong one.
    CreateDirectoryA((game + "\\~upd7A7A.tmp").c_str(), nullptr);
    WriteFileBytes(game + "\\~upd7A7A.tmp\\0", "the player's");
    CreateDirectoryA((game + "\\~upd7B7B.tmp").c_str(), nullptr);
    WriteFileBytes(game + "\\~upd7B7B.tmp\\" UPDATE_MARK_NAME, "mine");
    CreateDirectoryA((game + "\\~upd7C7C.tmp").c_str(), nullptr);  // empty
    MakeMarkedFolder(game + "\\~upd3C4D.tmp", {{"0", "beside a subfolder, listed before it"}});
    CreateDirectoryA((game + "\\~upd3C4D.tmp\\sub").c_str(), nullptr);
    WriteFileBytes(game + "\\~upd3C4D.tmp\\sub\\x", "below a subfolder");
    MakeMarkedFolder(game + "\\~upd4D5E.tmp", {{"0", "beside a read-only file"}, {"2", "read-only"}});
    SetFileAttributesA((game + "\\~upd4D5E.tmp\\2").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeMarkedFolder(game + "\\~upd5E5E.tmp", {{"0", "waiting"}, {"notes.txt", "not a waiting name"}});
    WriteFileBytes(game + "\\~upd5E6F.tmp", "a file, not a folder");
    const std::string elsewhere = scratch / "elsewhere";
    MakeMarkedFolder(elsewhere, {{"0", "behind a link"}});
    bool linked = MakeFolderLink(game + "\\~upd6F70.tmp", elsewhere);
    const FolderState before = ReadFolderState(game);
    const FolderState beyond = ReadFolderState(elsewhere);

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
        bool kept = false;
        for (const char* stays : {"~upd7A7A.tmp", "~upd7B7B.tmp", "~upd7C7C.tmp", "~upd3C4D.tmp", "~upd4D5E.tmp",
                                  "~upd5E5E.tmp", "~upd5E6F.tmp", "~upd6F70.tmp"})
            kept = kept || name.rfind(stays, 0) == 0;
        if (kept) {
            EXPECT_EQ(after.count(name) ? after.at(name) : ItemState{}, item) << name;
        }
    }
    EXPECT_EQ(ReadFolderState(elsewhere), beyond);
    if (linked) {
        EXPECT_NE(GetFileAttributesA((game + "\\~upd6F70.tmp").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    }
    EXPECT_EQ(ReadFileBytes(game + "\\a.dat"), "new a");
}

std::string IdentityFields(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION i{};
    bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &i);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!known)
        throw driver::DriverError("no identity for " + path);
    char text[80];
    snprintf(text, sizeof text, "%08lX\t%08lX%08lX\t%08lX%08lX\t%08lX%08lX", i.dwVolumeSerialNumber, i.nFileIndexHigh,
             i.nFileIndexLow, i.nFileSizeHigh, i.nFileSizeLow, i.ftLastWriteTime.dwHighDateTime,
             i.ftLastWriteTime.dwLowDateTime);
    return text;
}

// Records planted in the game folder, or left by another version: the next run acts on nothing it
// did not make (never outside the folder, never a file of the game's or the player's, never
// through a link), sets aside what it cannot read, and the update goes on.
TEST(Transaction, APlantedOrUnreadableRecordNeitherHarmsNorBlocks)
{
    ScratchFolder scratch;
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(GameUpdate(false)));
    const FolderState updated = UpdatedGame(scratch, package);
    const std::string header = std::string(UPDATE_JOURNAL_NAME) + " 2\r\n";
    enum class Form { File, Folder, ReadOnly };
    const struct {
        const char* label;
        Form form;
        bool setAside;
        std::string (*text)(const std::string& game);
    } cases[] = {
        {"garbage", Form::File, true, [](const std::string&) { return kit::RandomBytes(300, 5); }},
        {"an earlier version's, naming the game's files", Form::File, true,
         [](const std::string&) {
             return std::string(UPDATE_JOURNAL_NAME) + " 1\r\nN\tkeep.dat\t~upd0002.tmp\\0\r\n"
                                                       "R\ta.dat\t~upd0001.tmp\\0\t~upd0001.tmp\\1\r\n";
         }},
        {"a later version's", Form::File, true,
         [](const std::string&) { return std::string(UPDATE_JOURNAL_NAME) + " 3\r\nC\r\n"; }},
        {"a folder of that name", Form::Folder, true, [](const std::string&) { return std::string(); }},
        {"read-only, nothing to do", Form::ReadOnly, false,
         [](const std::string&) { return std::string(UPDATE_JOURNAL_NAME) + " 2\r\n"; }},
        {"paths outside the folder", Form::File, false,
         [](const std::string&) {
             return std::string(UPDATE_JOURNAL_NAME) + " 2\r\nN\t..\\victim.dat\t~upd0002.tmp\\0\r\n"
                                                       "N\tC:\\victim.dat\t~upd0003.tmp\\0\r\nD\t..\\\r\n";
         }},
        {"the player's files with their identities, a player's folder as working folder", Form::File, false,
         [](const std::string& game) {
             return std::string(UPDATE_JOURNAL_NAME) + " 2\r\nS\t~upd0001.tmp\r\nT\t" +
                    IdentityFields(game + "\\~upd0001.tmp") + "\r\nN\tsave\\slot01.sav\tsave\\~upd0009.tmp\\0\r\nW\t" +
                    IdentityFields(game + "\\save\\slot01.sav") + "\tN\r\nR\tkeep.dat\t~upd0001.tmp\\0\t~upd0001.tmp\\1\t" +
                    IdentityFields(game + "\\keep.dat") + "\r\nW\t" + IdentityFields(game + "\\~upd0001.tmp\\0") +
                    "\tL\r\nC\r\n";
         }},
        {"a link as working folder", Form::File, false,
         [](const std::string& game) {
             return std::string(UPDATE_JOURNAL_NAME) + " 2\r\nS\t~upd0004.tmp\r\nN\tz.dat\t~upd0004.tmp\\0\r\nW\t" +
                    IdentityFields(game + "\\~upd0004.tmp\\0") + "\tN\r\n";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string game = scratch / "game";
        RemoveTree(game);
        MakeGame(game);
        WriteFileBytes(scratch / "victim.dat", "outside");
        CreateDirectoryA((game + "\\~upd0001.tmp").c_str(), nullptr);
        WriteFileBytes(game + "\\~upd0001.tmp\\0", "the player's");
        const std::string elsewhere = scratch / "elsewhere";
        RemoveTree(elsewhere);
        MakeMarkedFolder(elsewhere, {{"0", "behind a link"}});
        MakeFolderLink(game + "\\~upd0004.tmp", elsewhere);
        const std::string record = game + "\\" UPDATE_JOURNAL_NAME;
        if (c.form == Form::Folder)
            CreateDirectoryA(record.c_str(), nullptr);
        else
            WriteFileBytes(record, c.text(game));
        if (c.form == Form::ReadOnly)
            SetFileAttributesA(record.c_str(), FILE_ATTRIBUTE_READONLY);
        FolderState before = ReadFolderState(game);
        const FolderState beyond = ReadFolderState(elsewhere);
        const ItemState planted = before.at(UPDATE_JOURNAL_NAME);
        before.erase(UPDATE_JOURNAL_NAME);

        EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
        FolderState after = ReadFolderState(game);
        if (c.setAside) {
            ASSERT_EQ(after.count(UPDATE_JOURNAL_ASIDE_NAME), 1u) << "set aside under its name";
            EXPECT_EQ(after.at(UPDATE_JOURNAL_ASIDE_NAME), planted);
            for (const auto& [name, item] : after)
                if (name.rfind(UPDATE_JOURNAL_ASIDE_NAME, 0) == 0)
                    before[name] = item;
        }
        EXPECT_EQ(after, before);
        EXPECT_EQ(ReadFolderState(elsewhere), beyond);
        EXPECT_EQ(ReadFileBytes(scratch / "victim.dat"), "outside");

        // And the update goes on.
        EXPECT_EQ(RunPass(package, game), 0u);
        for (const auto& [name, item] : updated)
            EXPECT_EQ(ReadFolderState(game).count(name), 1u) << name;
        EXPECT_EQ(ReadFileBytes(game + "\\a.dat"), "new a");
    }
}

// Holds a file as a running game does: its own program file mapped (started from a copy in the
// game folder), or a DLL it loaded (args[1]), until the event args[0] is set.
TEST_CHILD(Hold)
{
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, args.at(0).c_str());
    if (args.size() > 1 && LoadLibraryA(args[1].c_str()) == nullptr)
        return 3;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (args.at(0) + ".ready").c_str());
    SetEvent(ready);
    WaitForSingleObject(stop, 60000);
    return 0;
}

std::string ProgramFile()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// A running game's exe, or a DLL it has loaded, passes no check: found before anything is written,
// named in the notice; once the game has ended, Retry completes the update.
TEST(Transaction, AFileARunningGameHoldsIsFoundBeforeWritingAndRetryCompletes)
{
    const struct {
        const char* name;
        bool program;
    } cases[] = {{"game.exe", true}, {"engine.dll", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        const std::string game = scratch / "game";
        MakeGame(game);
        const std::string held = game + "\\" + c.name;
        ASSERT_TRUE(CopyFileA(c.program ? ProgramFile().c_str() : PLANTED_DLL, held.c_str(), FALSE));
        std::vector<Entry> entries = GameUpdate(false);
        entries.push_back({c.name, "the new version"});
        const std::string package = scratch / "update.exe";
        WriteFileBytes(package, BuildUpdate(entries));
        const std::string event = std::string("UpdaterHold") + std::to_string(GetCurrentProcessId()) + c.name;
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (event + ".ready").c_str());
        driver::Process holder = c.program ? driver::Start(driver::Quote(held) + " --child Hold " + driver::Quote(event))
                                           : StartChild("Hold", {event, held});
        ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0) << "the holder did not start";
        const FolderState before = ReadFolderState(game);

        driver::Process child = StartChild("Pass", {package, game, "", "-1"});
        HWND box = driver::WaitForMessageBox(child.Id());
        const std::string text = driver::ReadBox(box).text;
        EXPECT_TRUE(StartsWith(text, kInUse)) << text;
        EXPECT_NE(text.find(held), std::string::npos) << text;
        EXPECT_EQ(ReadFolderState(game), before) << "written before the check";

        SetEvent(stop);
        EXPECT_EQ(holder.WaitForExit(), 0u);
        driver::Press(box, IDRETRY);
        EXPECT_EQ(child.WaitForExit(), 0u);
        EXPECT_EQ(ReadFileBytes(held), "the new version");
        EXPECT_EQ(ReadFileBytes(game + "\\a.dat"), "new a");
        CloseHandle(stop);
        CloseHandle(ready);
    }
}

// A folder link leads part of the game onto another drive: its own room is checked before
// anything is written.
TEST(Transaction, ALinkedFolderOnAFullerDriveIsRefusedBeforeWriting)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    const std::string elsewhere = scratch / "elsewhere";
    MakeGame(game);
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    WriteFileBytes(elsewhere + "\\old.dat", "old");
    if (!MakeFolderLink(game + "\\data", elsewhere))
        GTEST_SKIP() << "no folder link can be made here";
    std::vector<Entry> entries = GameUpdate(false);
    entries.push_back({"data\\old.dat", kit::RandomBytes((size_t)kUnit * 16, 3)});
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(entries));
    const FolderState before = ReadFolderState(game);
    const FolderState there = ReadFolderState(elsewhere);
    driver::Process child = StartChild("Pass", {package, game, "fulldata", "-1"});
    const std::string text = AnswerChildBox(child, IDCANCEL).text;
    EXPECT_TRUE(StartsWith(text, kNoRoom)) << text;
    EXPECT_NE(text.find(game + "\\data"), std::string::npos) << text;
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(game), before);
    EXPECT_EQ(ReadFolderState(elsewhere), there);
}

// Another updater at work on the folder holds its record: this one says so and writes nothing.
TEST(Transaction, AnotherUpdaterAtWorkOnTheFolderIsToldApart)
{
    ScratchFolder scratch;
    const std::string game = scratch / "game";
    MakeGame(game);
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(GameUpdate(false)));
    HANDLE record = CreateFileA((game + "\\" UPDATE_JOURNAL_NAME).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(record, INVALID_HANDLE_VALUE);
    const FolderState before = ReadFolderState(game);
    driver::Process child = StartChild("Pass", {package, game, "", "-1"});
    const std::string text = AnswerChildBox(child, IDOK).text;
    EXPECT_TRUE(StartsWith(text, kBusy)) << text;
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadFolderState(game), before);
    CloseHandle(record);
}

// What the folder's working folders hold after the next run: none may carry the mark any more.
std::set<std::string> KeptCopies(const FolderState& state)
{
    std::set<std::string> copies;
    for (const auto& [name, item] : state) {
        EXPECT_NE(name, UPDATE_JOURNAL_NAME);
        if (InWorkingFolder(name)) {
            EXPECT_EQ(name.find(UPDATE_MARK_NAME), std::string::npos) << "still marked: " << name;
            if (!item.folder)
                copies.insert(item.bytes);
        }
    }
    return copies;
}

// After a kill the folder changes: the game reinstalled (every file deleted and made again, a new
// file of the update's among them), or a kept old file replaced by another. The next run leaves
// every such file as it found it, before the commit and inside it; an old file it had set aside,
// whose name now holds another file, and the file someone put in place of a kept one, stay in an
// unmarked working folder for the player.
TEST(Transaction, WhatChangedAfterAKillIsLeftAsTheNextRunFindsIt)
{
    const std::string oldA = "old a, longer than the new one would be";
    const struct {
        const char* how;
        int at;
        const char* label;
        bool reinstall;                // else the kept copy of m.dat is replaced
        std::set<std::string> copies;  // what stays in working folders
    } points[] = {{"block", 5, "reinstalled before the commit", true, {oldA, "old m"}},
                  {"placing", 0, "reinstalled inside the commit", true, {oldA, "old m", "old z"}},
                  {"block", 5, "a kept copy replaced before the commit", false, {"the player's copy"}},
                  {"placing", 0, "a kept copy replaced inside the commit", false, {"the player's copy"}}};
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
        ASSERT_EQ(RunPass(package, game, point.how, point.at), kKilled);
        if (point.reinstall) {
            for (const char* name : {"a.dat", "m.dat", "z.dat", "keep.dat", "c.dat"}) {
                DeleteFileA((game + "\\" + name).c_str());
                WriteFileBytes(game + "\\" + name, std::string("reinstalled ") + name);
            }
        } else {
            bool replaced = false;
            for (const auto& [name, item] : ReadFolderState(game)) {
                if (InWorkingFolder(name) && item.bytes == "old m") {
                    DeleteFileA((game + "\\" + name).c_str());
                    WriteFileBytes(game + "\\" + name, "the player's copy");
                    replaced = true;
                }
            }
            ASSERT_TRUE(replaced) << "m.dat had no second name";
        }
        const FolderState changed = ReadFolderState(game);
        EXPECT_EQ(StartChild("Recover", {game}).WaitForExit(), 0u);
        const FolderState after = ReadFolderState(game);
        EXPECT_EQ(KeptCopies(after), point.copies);
        if (point.reinstall) {
            for (const auto& [name, item] : changed) {
                if (!InWorkingFolder(name) && name != UPDATE_JOURNAL_NAME && name != "new" && name != "new\\b.dat") {
                    EXPECT_EQ(after.count(name) ? after.at(name) : ItemState{}, item) << name;
                }
            }
        } else {
            // Everything else is undone, or finished, as after any kill.
            const FolderState& expected = std::string(point.how) == "placing" ? updated : before;
            for (const auto& [name, item] : after) {
                if (!InWorkingFolder(name)) {
                    EXPECT_EQ(expected.count(name) ? expected.at(name) : ItemState{}, item) << name;
                }
            }
        }
    }
}

}  // namespace
