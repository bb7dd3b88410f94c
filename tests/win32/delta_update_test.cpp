// Delta entries in the full pass: each new file is made from the old version the player has, one
// update serving every old version it was built from; a player's file that is none of them stops
// the update before anything is written, and a damaged delta is undone like any damage.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "base/work_folder.h"
#include "child.h"
#include "driver.h"
#include "extraction/extraction.h"
#include "folder_state.h"
#include "package/delta_writer.h"
#include "package/sha256.h"
#include "package/package_writer.h"
#include "pseudo_random.h"
#include "scratch.h"
#include "text/buffer_sizes.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char kReadFailure[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";
const char kNoBase[] = "次のファイルが、このアップデートの対象のバージョンと一致しません。\n";
const uint64_t kTime = 0x01D8A1B2C3D4E5F0ull;
const std::vector<unsigned char> kImage(300, 0x4D);

// Three versions of the game's archive: 1.00, 1.01 (a block replaced, bytes inserted) and the new
// one (more inserted, a few bytes changed, a tail added). Large enough for several blocks.
const std::string kV100 = kit::RandomBytes((size_t)BLOCK_SIZE * 3, 11);
const std::string kV101 = kV100.substr(0, 5000) + "inserted in 1.01" + kV100.substr(5000, 200000) +
                          kit::RandomBytes(4096, 12) + kV100.substr(204096);
std::string NewVersion()
{
    std::string made = kV101.substr(0, 100000) + "new in 1.10" + kV101.substr(100000);
    for (size_t i = 300000; i < 300016; ++i)
        made[i] = (char)(made[i] ^ 0x21);
    return made + kit::RandomBytes(70000, 13);
}
const std::string kNew = NewVersion();

DeltaHeader HeaderFor(const std::string& old, const std::string& result)
{
    DeltaHeader header{};
    header.baseSize = old.size();
    Sha256Of((const unsigned char*)old.data(), old.size(), header.baseHash);
    header.resultSize = result.size();
    Sha256Of((const unsigned char*)result.data(), result.size(), header.resultHash);
    return header;
}

// A plain delta: the longest common start and end of both as copies, the middle as a byte
// difference where the sizes allow, else new bytes.
Bytes MakeDelta(const std::string& old, const std::string& result)
{
    Bytes stream;
    DeltaWriter writer([&](const unsigned char* d, size_t n) { stream.insert(stream.end(), d, d + n); });
    size_t head = 0;
    while (head < old.size() && head < result.size() && old[head] == result[head])
        ++head;
    size_t tail = 0;
    while (tail < old.size() - head && tail < result.size() - head &&
           old[old.size() - 1 - tail] == result[result.size() - 1 - tail])
        ++tail;
    if (head > 0)
        writer.Copy(0, head);
    size_t middle = result.size() - head - tail;
    if (middle > 0 && old.size() - head - tail >= middle) {
        std::string differences(middle, '\0');
        for (size_t i = 0; i < middle; ++i)
            differences[i] = (char)(result[head + i] - old[head + i]);
        writer.BeginDiff(head, middle);
        writer.Payload((const unsigned char*)differences.data(), middle);
    } else if (middle > 0) {
        writer.Add((const unsigned char*)result.data() + head, middle);
    }
    if (tail > 0)
        writer.Copy(old.size() - tail, tail);
    writer.Finish();
    DeltaHeader header = HeaderFor(old, result);
    Bytes data(DELTA_HEADER_SIZE);
    EncodeDeltaHeader(&header, data.data());
    data.insert(data.end(), stream.begin(), stream.end());
    return data;
}

struct Entry {
    std::string name;
    std::string contents;  // a file entry's
    Bytes delta;           // else a delta entry's data
};

std::string BuildUpdate(const std::vector<Entry>& entries)
{
    std::vector<unsigned char> file(kImage);
    PackageWriter writer([&](const unsigned char* d, size_t n) { file.insert(file.end(), d, d + n); },
                         (uint32_t)kImage.size());
    for (const Entry& entry : entries) {
        if (!entry.delta.empty())
            writer.AddDelta(entry.name, kTime, entry.delta);
        else
            writer.AddFile(entry.name, (int32_t)entry.contents.size(), kTime, DeflateZlib(entry.contents));
    }
    writer.Finish();
    return std::string(file.begin(), file.end());
}

// The update from 1.00 and from 1.01: a file before the archive, the archive's two deltas, a file
// after it.
std::vector<Entry> TwoBaseUpdate()
{
    return {{"a.dat", "new a", {}},
            {"data\\archive.pak", "", MakeDelta(kV100, kNew)},
            {"data\\archive.pak", "", MakeDelta(kV101, kNew)},
            {"z.dat", "new z", {}}};
}

void MakeGame(const std::string& game, const std::string& archive)
{
    CreateDirectoryA(game.c_str(), nullptr);
    CreateDirectoryA((game + "\\data").c_str(), nullptr);
    WriteFileBytes(game + "\\a.dat", "old a");
    WriteFileBytes(game + "\\z.dat", "old z");
    WriteFileBytes(game + "\\data\\archive.pak", archive);
    WriteFileBytes(game + "\\save.dat", "the player's");
}

TEST_CHILD(Pass)
{
    CreateWorkFolder();
    SetPackageFilePath(args.at(0).c_str());
    ExtractPackage(args.at(1).c_str(), EXTRACT_FULL_PASS);
    RemoveWorkFolder();
    return 0;
}

// One update built from 1.00 and 1.01 takes each to the new version; a folder that has the new
// archive already keeps it as it is.
TEST(DeltaPass, EachOldVersionBecomesTheNewOne)
{
    ScratchFolder scratch;
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(TwoBaseUpdate()));
    const struct {
        const char* label;
        std::string archive;
    } cases[] = {{"from 1.00", kV100}, {"from 1.01", kV101}, {"already new", kNew}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string game = scratch / (std::string("game ") + c.label);
        MakeGame(game, c.archive);
        const uint64_t before = LastWriteTime(game + "\\data\\archive.pak");
        EXPECT_EQ(StartChild("Pass", {package, game}).WaitForExit(), 0u);
        EXPECT_EQ(ReadFileBytes(game + "\\data\\archive.pak"), kNew);
        EXPECT_EQ(LastWriteTime(game + "\\data\\archive.pak"), c.archive == kNew ? before : kTime);
        EXPECT_EQ(ReadFileBytes(game + "\\a.dat"), "new a");
        EXPECT_EQ(ReadFileBytes(game + "\\z.dat"), "new z");
        EXPECT_EQ(ReadFileBytes(game + "\\save.dat"), "the player's");
        EXPECT_EQ(FolderNames(game + "\\data"), std::vector<std::string>{"archive.pak"}) << "nothing left behind";
    }
}

// A player's archive that is no version the update was built from (changed by a mod, damaged),
// or none at all: nothing is written, the notice names the file, and the updater ends with -1.
TEST(DeltaPass, AFileThatIsNoOldVersionStopsTheUpdateBeforeAnythingIsWritten)
{
    ScratchFolder scratch;
    const std::string package = scratch / "update.exe";
    WriteFileBytes(package, BuildUpdate(TwoBaseUpdate()));
    std::string modded = kV101;
    modded[70000] ^= 1;
    const struct {
        const char* label;
        std::string archive;
        bool present;
    } cases[] = {{"one byte changed", modded, true},
                 {"one byte short", kV100.substr(0, kV100.size() - 1), true},
                 {"missing", "", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string game = scratch / (std::string("game ") + c.label);
        MakeGame(game, c.archive);
        if (!c.present)
            DeleteFileA((game + "\\data\\archive.pak").c_str());
        const FolderState before = ReadFolderState(game);
        driver::Process child = StartChild("Pass", {package, game});
        const std::string text = AnswerChildBox(child, IDOK).text;
        EXPECT_EQ(text.rfind(kNoBase, 0), 0u) << text;
        EXPECT_NE(text.find(game + "\\data\\archive.pak"), std::string::npos) << text;
        EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
        EXPECT_EQ(ReadFolderState(game), before);
    }
}

// Damage in a delta (a record reaching outside the old file, a record cut off, a stream cut off,
// a result of the wrong length or hash) is found while it is applied: the whole pass is undone.
TEST(DeltaPass, ADamagedDeltaIsUndoneWithEverythingElse)
{
    auto withRecords = [](const std::string& old, const std::string& result, const Bytes& records) {
        return DeltaEntryData(HeaderFor(old, result), records);
    };
    auto copy = [](uint64_t length, int64_t seek) {
        Bytes bytes{DELTA_COPY};
        AppendDeltaNumber(bytes, length);
        AppendDeltaSeek(bytes, seek);
        return bytes;
    };
    auto join = [](std::vector<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::string result = kV101.substr(0, 1000);
    Bytes truncated = MakeDelta(kV101, kNew);
    truncated.resize(truncated.size() - 10);
    Bytes wrongHash = MakeDelta(kV101, kNew);
    wrongHash[8 + SHA256_SIZE + 8 + 5] ^= 0x10;
    Bytes diffOut{DELTA_DIFF};
    AppendDeltaNumber(diffOut, 8);
    AppendDeltaSeek(diffOut, (int64_t)kV101.size() - 4);
    diffOut.insert(diffOut.end(), 8, 0);
    Bytes addCut{DELTA_ADD};
    AppendDeltaNumber(addCut, 100);
    addCut.insert(addCut.end(), 10, 'x');
    const struct {
        const char* label;
        Bytes data;
    } cases[] = {
        {"a copy past the old file's end", withRecords(kV101, result, join({copy(1000, (int64_t)kV101.size()), {DELTA_END}}))},
        {"a difference past the old file's end", withRecords(kV101, result, join({diffOut, {DELTA_END}}))},
        {"new bytes cut off", withRecords(kV101, result, addCut)},
        {"no end record", withRecords(kV101, result, copy(1000, 0))},
        {"the records' stream cut off", truncated},
        {"a result one byte short", withRecords(kV101, result, join({copy(999, 0), {DELTA_END}}))},
        {"the wrong result hash", wrongHash},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchFolder scratch;
        const std::string game = scratch / "game";
        MakeGame(game, kV101);
        const std::string package = scratch / "update.exe";
        WriteFileBytes(package, BuildUpdate({{"a.dat", "new a", {}}, {"data\\archive.pak", "", c.data}, {"z.dat", "new z", {}}}));
        const FolderState before = ReadFolderState(game);
        driver::Process child = StartChild("Pass", {package, game});
        EXPECT_EQ(AnswerChildBox(child, IDOK).text, kReadFailure);
        EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
        EXPECT_EQ(ReadFolderState(game), before);
    }
}

// The full pass in a child that reports its peak working set in KiB as its exit code.
TEST_CHILD(PassPeak)
{
    CreateWorkFolder();
    SetPackageFilePath(args.at(0).c_str());
    ExtractPackage(args.at(1).c_str(), EXTRACT_FULL_PASS);
    RemoveWorkFolder();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return (int)(counters.PeakWorkingSetSize / 1024);
}

// The old version of a large archive, block by block (cheap to make again for hashing).
void FillBlock(uint64_t index, std::string& block)
{
    uint32_t state = (uint32_t)index * 2654435761u + 1;
    for (char& byte : block) {
        state = state * 1103515245u + 12345u;
        byte = (char)(state >> 24);
    }
}

// A game whose archive of `blocks` blocks gets an update changing 8 bytes in its middle and adding
// a tail: the peak working set of that pass, in KiB.
DWORD PeakOfLargeDelta(const ScratchFolder& scratch, const std::string& label, uint64_t blocks)
{
    const std::string game = scratch / ("game " + label);
    CreateDirectoryA(game.c_str(), nullptr);
    const uint64_t size = blocks * BLOCK_SIZE;
    const uint64_t middle = size / 2 + 3;
    const std::string patch = "changed!", tail = "the end";
    Sha256Context oldHash, newHash;
    Sha256Init(&oldHash);
    Sha256Init(&newHash);
    HANDLE file = CreateFileA((game + "\\archive.pak").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string block(BLOCK_SIZE, '\0');
    for (uint64_t i = 0; i < blocks; ++i) {
        FillBlock(i, block);
        DWORD written = 0;
        WriteFile(file, block.data(), (DWORD)block.size(), &written, nullptr);
        Sha256Update(&oldHash, block.data(), block.size());
        if (middle >= i * BLOCK_SIZE && middle < (i + 1) * BLOCK_SIZE)
            block.replace((size_t)(middle - i * BLOCK_SIZE), patch.size(), patch);
        Sha256Update(&newHash, block.data(), block.size());
    }
    CloseHandle(file);
    Sha256Update(&newHash, tail.data(), tail.size());
    DeltaHeader header{};
    header.baseSize = size;
    header.resultSize = size + tail.size();
    Sha256Final(&oldHash, header.baseHash);
    Sha256Final(&newHash, header.resultHash);
    Bytes stream;
    DeltaWriter writer([&](const unsigned char* d, size_t n) { stream.insert(stream.end(), d, d + n); });
    writer.Copy(0, middle);
    writer.Add((const unsigned char*)patch.data(), patch.size());
    writer.Copy(middle + patch.size(), size - middle - patch.size());
    writer.Add((const unsigned char*)tail.data(), tail.size());
    writer.Finish();
    Bytes data(DELTA_HEADER_SIZE);
    EncodeDeltaHeader(&header, data.data());
    data.insert(data.end(), stream.begin(), stream.end());
    const std::string package = scratch / ("update " + label + ".exe");
    WriteFileBytes(package, BuildUpdate({{"archive.pak", "", data}}));
    DWORD peak = StartChild("PassPeak", {package, game}).WaitForExit(120000);
    HANDLE made = CreateFileA((game + "\\archive.pak").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)middle;
    char seen[8] = {};
    DWORD read = 0;
    SetFilePointerEx(made, at, nullptr, FILE_BEGIN);
    ReadFile(made, seen, sizeof seen, &read, nullptr);
    CloseHandle(made);
    EXPECT_EQ(std::string(seen, read), patch) << label;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    GetFileAttributesExA((game + "\\archive.pak").c_str(), GetFileExInfoStandard, &attributes);
    EXPECT_EQ(((uint64_t)attributes.nFileSizeHigh << 32) | attributes.nFileSizeLow, size + tail.size()) << label;
    RemoveTree(game);
    return peak;
}

// The 32-bit updater makes a file larger than 512 MiB from its old version in the memory it needs
// for a small one: the old file is read and the new one written a block at a time.
TEST(DeltaPass, ALargeFileIsMadeInTheMemoryOfASmallOne)
{
    ScratchFolder scratch;
    const DWORD small = PeakOfLargeDelta(scratch, "1 MiB", 8);
    const DWORD large = PeakOfLargeDelta(scratch, "513 MiB", 4104);
    ASSERT_GT(small, 1000u) << "no peak reported";
    EXPECT_LT((double)large - (double)small, 2048.0) << "peak KiB: " << small << " for 1 MiB, " << large << " for 513 MiB";
}

}  // namespace
