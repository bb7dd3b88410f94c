// Both extraction passes against packages written by the core writer, on Wine's real file
// system. Failures end the process, so they run in a child and are checked from outside.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "child.h"
#include "driver.h"
#include "import_hook.h"
#include "package/byte_stream.h"
#include "extraction/extraction.h"
#include "package/package_writer.h"
#include "pseudo_random.h"
#include "scratch.h"
#include "base/work_folder.h"
#include "text/buffer_sizes.h"

namespace {

const char kReadFailure[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const uint64_t kTime = 0x01D8A1B2C3D4E5F0ull;  // a 2022 time stamp, 100 ns resolution
const std::vector<unsigned char> kImage(300, 0x4D);
const int kUnit = BLOCK_SIZE;  // the extraction's block: the unit of both progress bars

std::string ToText(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

void WritePackage(const std::string& path, const std::vector<PackageFileEntry>& entries)
{
    WriteFileBytes(path, ToText(BuildPackageFile(kImage, entries)));
}

TEST(SetupPass, ExtractsSetupFilesOnlyAndEndsAtTheFirstNestedFolder)
{
    ScratchFolder scratch;
    std::string package = scratch / "update.exe";
    CreateDirectoryA((scratch / "work").c_str(), nullptr);
    WritePackage(package, {{"install.env", "TITLE=t\r\n", kTime},
                           {"insttscr.rct", "RCT", kTime},
                           {"payload.dat", kit::RandomBytes(3 * kUnit, 1), kTime},
                           {"README.TXT", "readme", kTime},
                           {"notes.txt.bak", "notes", kTime},
                           {"install.env.old", "old", kTime},
                           {"movie\\", "", 0, true},
                           {"movie\\op.dat", "op", kTime},
                           {"movie\\sub\\", "", 0, true},
                           {"movie\\sub\\late.txt", "late", kTime},
                           {"after.txt", "after", kTime}});
    SetPackageFilePath(package.c_str());
    ExtractPackage((scratch / "work").c_str(), EXTRACT_SETUP_PASS);
    SetPackageFilePath(nullptr);

    EXPECT_EQ(FolderNames(scratch / "work"),
              (std::vector<std::string>{"README.TXT", "install.env", "install.env.old", "insttscr.rct", "notes.txt.bak"}));
    EXPECT_EQ(ReadFileBytes(scratch / "work\\install.env"), "TITLE=t\r\n");
    EXPECT_EQ(LastWriteTime(scratch / "work\\README.TXT"), kTime);
}

TEST(SetupPass, EndMarkerAloneExtractsNothing)
{
    ScratchFolder scratch;
    WritePackage(scratch / "update.exe", {});
    CreateDirectoryA((scratch / "out").c_str(), nullptr);
    SetPackageFilePath((scratch / "update.exe").c_str());
    ExtractPackage((scratch / "out").c_str(), EXTRACT_SETUP_PASS);
    ExtractPackage((scratch / "out").c_str(), EXTRACT_FULL_PASS);
    SetPackageFilePath(nullptr);
    EXPECT_TRUE(FolderNames(scratch / "out").empty());
}

TEST(FullPass, WritesEveryEntryWithExactBytesAndTimes)
{
    ScratchFolder scratch;
    std::string target = scratch / "game";
    CreateDirectoryA(target.c_str(), nullptr);
    CreateDirectoryA((target + "\\data").c_str(), nullptr);  // an existing folder passes silently
    WriteFileBytes(target + "\\data\\old.dat", "an older version, longer than the new one");

    std::vector<PackageFileEntry> entries = {
        {"install.env", "TITLE=t\r\n", kTime},
        {"empty.dat", "", kTime + 1},
        {"data\\", "", 0, true},
        {"data\\表\\", "", 0, true},  // 表 ends in 0x5C
        {"data\\表\\one-unit.dat", kit::RandomBytes(kUnit, 2), kTime + 2},
        {"data\\表\\two-and-a-half.dat", kit::RandomBytes(kUnit * 5 / 2, 3), kTime + 3},
        {"data\\old.dat", "new", kTime + 4},
    };
    WritePackage(scratch / "update.exe", entries);
    SetPackageFilePath((scratch / "update.exe").c_str());
    ExtractPackage(target.c_str(), EXTRACT_FULL_PASS);
    SetPackageFilePath(nullptr);

    for (const PackageFileEntry& entry : entries) {
        std::string path = target + "\\" + entry.name;
        if (entry.folder) {
            EXPECT_TRUE(FolderExists(path)) << entry.name;
            continue;
        }
        EXPECT_EQ(ReadFileBytes(path), entry.contents) << entry.name;
        EXPECT_EQ(LastWriteTime(path), entry.lastWriteTime) << entry.name;
    }
    // Nothing but the package's own entries: no temporary file stays behind.
    EXPECT_EQ(FolderNames(target), (std::vector<std::string>{"data", "empty.dat", "install.env"}));
    EXPECT_EQ(FolderNames(target + "\\data"), (std::vector<std::string>{"old.dat", "表"}));
}

// Writes a package of the entries that `add` gives the writer and runs the full pass into the
// folder "out" of the scratch folder.
void FullPassOver(const ScratchFolder& scratch, const std::function<void(PackageWriter&)>& add)
{
    std::vector<unsigned char> file(kImage);
    PackageWriter writer([&](const unsigned char* d, size_t n) { file.insert(file.end(), d, d + n); },
                         (uint32_t)kImage.size());
    add(writer);
    writer.Finish();
    WriteFileBytes(scratch / "update.exe", ToText(file));
    CreateDirectoryA((scratch / "out").c_str(), nullptr);
    SetPackageFilePath((scratch / "update.exe").c_str());
    ExtractPackage((scratch / "out").c_str(), EXTRACT_FULL_PASS);
    SetPackageFilePath(nullptr);
}

TEST(FullPass, OriginalSizeThatDiffersOnlyScalesTheBar)
{
    ScratchFolder scratch;
    std::string contents = kit::RandomBytes(kUnit + 5, 4);
    FullPassOver(scratch, [&](PackageWriter& writer) { writer.AddFile("a.dat", 7, kTime, DeflateZlib(contents)); });
    EXPECT_EQ(ReadFileBytes(scratch / "out\\a.dat"), contents);
}

// A compressedSize larger than its zlib stream: the next entry is read after all of it, not
// where the stream happened to end. Zero bytes behind the stream, read as a header, would be an
// end marker and silently drop the entries after it.
TEST(FullPass, EntryAfterAStreamShorterThanItsCompressedSizeIsExtracted)
{
    for (size_t padding : {size_t(3), size_t(2 * kUnit + 7)}) {
        SCOPED_TRACE(padding);
        ScratchFolder scratch;
        FullPassOver(scratch, [&](PackageWriter& writer) {
            std::vector<unsigned char> padded = DeflateZlib("first");
            padded.resize(padded.size() + padding, 0);
            writer.AddFile("a.dat", 5, kTime, padded);
            writer.AddFile("b.dat", 6, kTime, DeflateZlib("second"));
        });
        EXPECT_EQ(ReadFileBytes(scratch / "out\\a.dat"), "first");
        EXPECT_EQ(ReadFileBytes(scratch / "out\\b.dat"), "second");
    }
}

void RunFullPass(const ScratchFolder& scratch, const std::string& target, const std::vector<PackageFileEntry>& entries)
{
    WritePackage(scratch / "update.exe", entries);
    SetPackageFilePath((scratch / "update.exe").c_str());
    ExtractPackage(target.c_str(), EXTRACT_FULL_PASS);
    SetPackageFilePath(nullptr);
}

TEST(FullPass, ReplacedFileKeepsItsAttributes)
{
    const DWORD kept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const struct {
        const char* name;
        DWORD attributes;
    } cases[] = {
        {"normal.dat", FILE_ATTRIBUTE_NORMAL},
        {"hidden.dat", FILE_ATTRIBUTE_HIDDEN},
        {"system.dat", FILE_ATTRIBUTE_SYSTEM},
        {"hidden-system.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"archive.dat", FILE_ATTRIBUTE_ARCHIVE},
        {"not-indexed.dat", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
        {"all.dat", kept},
    };
    ScratchFolder scratch;
    const std::string target = scratch / "game";
    CreateDirectoryA(target.c_str(), nullptr);
    std::vector<PackageFileEntry> entries;
    for (const auto& c : cases) {
        std::string path = target + "\\" + c.name;
        WriteFileBytes(path, "older copy");
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.attributes)) << c.name;
        entries.push_back({c.name, std::string("new ") + c.name, kTime});
    }
    // What the file system really holds before the pass is what must come through it: Wine
    // holds hidden and system, shows every file as archive and keeps no not-indexed bit, which
    // Windows file systems do.
    const DWORD held = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    std::vector<DWORD> before;
    for (const auto& c : cases) {
        before.push_back(GetFileAttributesA((target + "\\" + c.name).c_str()) & kept);
        ASSERT_EQ(before.back() & held, c.attributes & held) << c.name << ": the file system must hold these";
    }
    RunFullPass(scratch, target, entries);

    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        std::string path = target + "\\" + cases[i].name;
        EXPECT_EQ(ReadFileBytes(path), std::string("new ") + cases[i].name);
        EXPECT_EQ(GetFileAttributesA(path.c_str()) & kept, before[i]);
        EXPECT_EQ(LastWriteTime(path), kTime);
    }
}

// The platform calls that write files, recorded during one pass.
std::vector<std::string> fileCalls;
std::string recordedTarget;
using CreateFileFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
using DeleteFileFunction = BOOL(WINAPI*)(LPCSTR);
using CreateHardLinkFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);
CreateFileFunction realCreateFile;
CreateHardLinkFunction realCreateHardLink;
MoveFileExFunction realMoveFileEx;
DeleteFileFunction realDeleteFile;

// The path below the target, with every temporary name made the same.
std::string Relative(const std::string& path)
{
    std::string relative = path.compare(0, recordedTarget.size() + 1, recordedTarget + "\\") == 0
                               ? path.substr(recordedTarget.size() + 1)
                               : path;
    return std::regex_replace(relative, std::regex("~upd[0-9A-F]{4}\\.tmp"), "~tmp");
}

HANDLE WINAPI RecordingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile)
{
    HANDLE file = realCreateFile(path, access, share, security, disposition, flags, templateFile);
    DWORD error = GetLastError();
    if (Relative(path) != path)
        fileCalls.push_back(std::string(disposition == CREATE_NEW ? "create new " : "open ") + Relative(path) +
                            (file != INVALID_HANDLE_VALUE ? "" : error == ERROR_FILE_EXISTS ? ": exists" : ": failed"));
    SetLastError(error);
    return file;
}

BOOL WINAPI RecordingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags)
{
    fileCalls.push_back("move " + Relative(from) + " to " + Relative(to) + (flags == 0 ? "" : " replacing"));
    return realMoveFileEx(from, to, flags);
}

BOOL WINAPI RecordingDeleteFile(LPCSTR path)
{
    fileCalls.push_back("delete " + Relative(path));
    return realDeleteFile(path);
}

BOOL WINAPI RecordingCreateHardLink(LPCSTR name, LPCSTR existing, LPSECURITY_ATTRIBUTES security)
{
    fileCalls.push_back("link " + Relative(name) + " to " + Relative(existing));
    return realCreateHardLink(name, existing, security);
}

template <typename Function>
Function Hook(const char* name, Function replacement)
{
    return reinterpret_cast<Function>(HookImport("kernel32.dll", name, reinterpret_cast<void*>(replacement)));
}

// Both ways of naming the target: a full path and a relative one. Every step is on record before
// it is taken; every file is written in a working folder beside its destination and waits there
// until all are written; then each takes its name whole, over nothing but the old file, which
// keeps a second name until the commit is through.
TEST(FullPass, EveryFileWaitsUntilAllAreWrittenThenTakesItsNameWhole)
{
    for (bool relative : {false, true}) {
        SCOPED_TRACE(relative ? "relative target" : "full path");
        ScratchFolder scratch;
        const std::string before = CurrentFolder();
        SetCurrentDirectoryA(scratch.Path().c_str());
        const std::string target = relative ? "game" : scratch / "game";
        CreateDirectoryA(target.c_str(), nullptr);
        CreateDirectoryA((target + "\\data").c_str(), nullptr);
        for (const char* old : {"a-old.dat", "data\\c-old.dat"})
            WriteFileBytes(target + "\\" + old, "older copy");
        recordedTarget = target;
        fileCalls.clear();
        realCreateFile = Hook("CreateFileA", RecordingCreateFile);
        realMoveFileEx = Hook("MoveFileExA", RecordingMoveFileEx);
        realDeleteFile = Hook("DeleteFileA", RecordingDeleteFile);
        realCreateHardLink = Hook("CreateHardLinkA", RecordingCreateHardLink);
        ASSERT_NE(realCreateFile, nullptr);
        ASSERT_NE(realMoveFileEx, nullptr);
        ASSERT_NE(realDeleteFile, nullptr);
        ASSERT_NE(realCreateHardLink, nullptr);
        const std::vector<PackageFileEntry> entries = {{"a-old.dat", "a", kTime},
                                                       {"new.dat", "n", kTime},
                                                       {"data\\", "", 0, true},
                                                       {"data\\c-old.dat", "c", kTime},
                                                       {"fresh\\", "", 0, true},
                                                       {"fresh\\d-new.dat", "d", kTime}};
        RunFullPass(scratch, target, entries);
        Hook("CreateFileA", realCreateFile);
        Hook("MoveFileExA", realMoveFileEx);
        Hook("DeleteFileA", realDeleteFile);
        Hook("CreateHardLinkA", realCreateHardLink);
        SetCurrentDirectoryA(before.c_str());

        const std::vector<std::string> expected = {
            "open ~updater.journal: failed",  // nothing left by an interrupted run
            "open a-old.dat",                 // can it be replaced, and what is it?
            "open data\\c-old.dat",
            "open data",  // the room on the volume of each destination folder
            "create new ~updater.journal",
            // A working folder beside the files of each folder, marked and on record with its
            // identity: the new contents wait there, and an old file gets a second name there.
            "create new ~tmp\\~updmark",
            "open ~tmp",
            "create new ~tmp\\0",
            "link ~tmp\\1 to a-old.dat",
            "create new ~tmp\\2",
            "create new data\\~tmp\\~updmark",
            "open data\\~tmp",
            "create new data\\~tmp\\0",
            "link data\\~tmp\\1 to data\\c-old.dat",
            "open fresh",  // a folder the pass made, for its identity
            "create new fresh\\~tmp\\~updmark",
            "open fresh\\~tmp",
            "create new fresh\\~tmp\\0",
            // The commit: every file takes its name only once all are written.
            "move ~tmp\\0 to a-old.dat replacing",
            "move ~tmp\\2 to new.dat",
            "move data\\~tmp\\0 to data\\c-old.dat replacing",
            "move fresh\\~tmp\\0 to fresh\\d-new.dat",
            "delete ~tmp\\1",
            "delete data\\~tmp\\1",
            "delete fresh\\~tmp\\~updmark",
            "delete data\\~tmp\\~updmark",
            "delete ~tmp\\~updmark",
            "delete ~updater.journal",
        };
        const std::vector<std::string>& seen = expected;
        EXPECT_EQ(fileCalls, seen);
        const std::string game = scratch / "game";
        EXPECT_EQ(FolderNames(game), (std::vector<std::string>{"a-old.dat", "data", "fresh", "new.dat"}));
        EXPECT_EQ(FolderNames(game + "\\data"), (std::vector<std::string>{"c-old.dat"}));
        for (const PackageFileEntry& entry : entries) {
            if (entry.folder)
                continue;
            EXPECT_EQ(ReadFileBytes(game + "\\" + entry.name), entry.contents) << entry.name;
            EXPECT_EQ(LastWriteTime(game + "\\" + entry.name), kTime) << entry.name;
        }
    }
}

// The child makes a work folder as start-up does, records it, and runs one pass.
TEST_CHILD(Extract)
{
    CreateWorkFolder();
    WriteFileBytes(args.at(3), GetWorkFolder());
    SetPackageFilePath(args.at(0).c_str());
    ExtractPackage(args.at(1).c_str(), args.at(2) == "setup" ? EXTRACT_SETUP_PASS : EXTRACT_FULL_PASS);
    return 0;
}

std::string Zlib(const std::string& contents)
{
    return ToText(DeflateZlib(contents));
}

// A package file with one raw entry "victim.dat" whose fields the case chooses.
std::string RawPackage(const std::string& name, uint32_t originalSize, const std::string& data, uint32_t compressedSize)
{
    std::vector<unsigned char> file(kImage);
    unsigned char field[8];
    SetUi16(field, (uint16_t)(name.size() + 1));
    file.insert(file.end(), field, field + 2);
    file.insert(file.end(), name.begin(), name.end());
    file.push_back(0);
    SetUi32(field, originalSize);
    file.insert(file.end(), field, field + 4);
    SetUi32(field, compressedSize);
    file.insert(file.end(), field, field + 4);
    SetUi64(field, kTime);
    file.insert(file.end(), field, field + 8);
    file.insert(file.end(), data.begin(), data.end());
    file.insert(file.end(), {0, 0, 0, 0});
    SetUi32(field, (uint32_t)kImage.size());
    file.insert(file.end(), field, field + 4);
    return ToText(file);
}

struct FailureCase {
    const char* label;
    std::function<std::string()> package;  // empty: no package file at all
    const char* pass = "full";
    bool readOnlyVictim = false;
    bool olderCopies = true;  // false: no file of that name anywhere before the pass
};

TEST(ExtractionFailure, NoticeExitWorkFolderGoneAndOlderCopyIntact)
{
    const std::string big = kit::RandomBytes(kUnit * 5 / 2, 9);
    const std::vector<FailureCase> cases = {
        {"truncated in the data",
         [&] {
             std::string z = Zlib(big);
             // compressedSize claims the whole stream but the file ends half way.
             std::string whole = RawPackage("victim.dat", (uint32_t)big.size(), z, (uint32_t)z.size());
             return whole.substr(0, whole.size() - 8 - z.size() / 2) + whole.substr(whole.size() - 4);
         }},
        {"wrong Adler-32 after whole blocks",
         [&] {
             std::string z = Zlib(big);
             z.back() ^= 0x55;
             return RawPackage("victim.dat", (uint32_t)big.size(), z, (uint32_t)z.size());
         }},
        {"wrong Adler-32 where no file was: the new file goes again",
         [&] {
             std::string z = Zlib(big);
             z.back() ^= 0x55;
             return RawPackage("victim.dat", (uint32_t)big.size(), z, (uint32_t)z.size());
         },
         "full", false, false},
        {"compressedSize 0", [] { return RawPackage("victim.dat", 0, "", 0); }},
        {"stream longer than compressedSize",
         [&] {
             std::string z = Zlib(big);
             return RawPackage("victim.dat", (uint32_t)big.size(), z, (uint32_t)z.size() - 10);
         }},
        {"read-only destination", [] { return RawPackage("victim.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); },
         "full", true},
        {"drive in the name", [] { return RawPackage("C:\\victim.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"leading backslash", [] { return RawPackage("\\victim.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"dot-dot component", [] { return RawPackage("..\\victim.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"dot-dot inside", [] { return RawPackage("sub\\..\\..\\victim.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        // Windows would write these as victim.dat itself, replacing the older copy.
        {"trailing dot", [] { return RawPackage("victim.dat.", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"trailing space", [] { return RawPackage("victim.dat ", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"lone lead byte at the end",
         [] { return RawPackage("victim.dat\x81", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        // Well formed, but code page 932 has no character there: Windows would write "?" or refuse it.
        {"unassigned character",
         [] { return RawPackage("victim\x85\x40.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"device name", [] { return RawPackage("nul.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"control byte", [] { return RawPackage("victim\x1b.dat", 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"destination path too long",
         [] { return RawPackage(std::string(250, 'n'), 3, Zlib("new"), (uint32_t)Zlib("new").size()); }},
        {"setup file inside a folder",
         [] {
             return ToText(BuildPackageFile(kImage, {{"doc\\", "", 0, true}, {"doc\\readme.txt", "x", kTime}}));
         },
         "setup"},
        {"missing end marker",
         [] {
             std::string whole = ToText(BuildPackageFile(kImage, {{"ok.dat", "x", kTime}}));
             return whole.substr(0, whole.size() - 8) + whole.substr(whole.size() - 4);
         }},
        {"no package file", nullptr},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder scratch;
        std::string target = scratch / "game";
        std::string inner = target + "\\sub";
        CreateDirectoryA(target.c_str(), nullptr);
        CreateDirectoryA(inner.c_str(), nullptr);
        // The older copies a failing entry could reach, directly or by climbing out.
        if (c.olderCopies) {
            for (const std::string& folder : {scratch.Path(), target, inner})
                WriteFileBytes(folder + "\\victim.dat", "older copy");
        }
        if (c.readOnlyVictim)
            SetFileAttributesA((inner + "\\victim.dat").c_str(), FILE_ATTRIBUTE_READONLY);
        std::string package = scratch / "update.exe";
        if (c.package)
            WriteFileBytes(package, c.package());
        std::string marker = scratch / "workfolder.txt";

        driver::Process child = StartChild("Extract", {package, inner, c.pass, marker});
        driver::Box box = AnswerChildBox(child, IDOK);
        EXPECT_EQ(box.text, kReadFailure);
        EXPECT_EQ(box.caption, "");
        EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);

        std::string workFolder = ReadFileBytes(marker);
        EXPECT_FALSE(workFolder.empty());
        EXPECT_FALSE(FolderExists(workFolder)) << workFolder;
        for (const std::string& folder : {scratch.Path(), target, inner}) {
            if (c.olderCopies)
                EXPECT_EQ(ReadFileBytes(folder + "\\victim.dat"), "older copy") << folder;
            else
                EXPECT_FALSE(FileExists(folder + "\\victim.dat")) << folder;
        }
        for (const std::string& name : FolderNames(inner))
            EXPECT_NE(name[0], '~') << "a temporary file or folder stays behind: " << name;
        EXPECT_FALSE(FileExists("C:\\victim.dat"));
        SetFileAttributesA((inner + "\\victim.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

}  // namespace
