// The delta applier over memory: SHA-256 against known answers, what each record kind makes,
// how the result is handed out, and one failing input for every way the applier refuses a delta.
#include "package/delta_apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/delta_writer.h"
#include "package/package_format.h"
#include "package/package_writer.h"
#include "pseudo_random.h"

namespace {

using Bytes = std::vector<unsigned char>;
const size_t kBlock = BLOCK_SIZE;

TEST(Sha256, KnownAnswersWhateverThePiecesTheDataComesIn)
{
    struct Case {
        std::string data;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t(1), size_t(63), size_t(64), size_t(1000), c.data.size() + 1}) {
            Sha256Context context;
            Sha256Init(&context);
            for (size_t at = 0; at < c.data.size(); at += piece)
                Sha256Update(&context, c.data.data() + at, std::min(piece, c.data.size() - at));
            unsigned char digest[SHA256_SIZE];
            Sha256Final(&context, digest);
            EXPECT_EQ(DigestHex(digest), c.digest) << c.data.size() << " bytes in pieces of " << piece;
        }
    }
    // Lengths around the padding boundary: pieces and one call agree.
    for (size_t length : {55, 56, 57, 63, 64, 65, 119, 120, 128}) {
        std::string data = kit::RandomBytes(length, (uint32_t)length);
        unsigned char whole[SHA256_SIZE], pieces[SHA256_SIZE];
        Sha256Of(reinterpret_cast<const unsigned char*>(data.data()), data.size(), whole);
        Sha256Context context;
        Sha256Init(&context);
        for (char c : data)
            Sha256Update(&context, &c, 1);
        Sha256Final(&context, pieces);
        EXPECT_EQ(DigestHex(whole), DigestHex(pieces)) << length;
    }
}

TEST(Sha256, ALengthThatNeedsASecondPaddingBlock)
{
    // 56 bytes leave no room for the length in the first block.
    unsigned char digest[SHA256_SIZE];
    std::string data = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    ASSERT_EQ(data.size(), 56u);
    Sha256Of(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    EXPECT_EQ(DigestHex(digest), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, TheProcessorsExtensionsAndThePortableRoundsAgree)
{
    Sha256Context chosen;
    Sha256Init(&chosen);
    if (chosen.hashBlocks != Sha256BlocksWithExtensions)
        GTEST_SKIP() << "this processor has no SHA extensions";
    // Runs of blocks from one to many, so that the state carried from block to block, the message
    // ring's turn and the state's reordering into and out of registers all show in the result.
    for (size_t count : {1, 2, 3, 17, 1024}) {
        std::string data = kit::RandomBytes(64 * count, (uint32_t)count + 7);
        uint32_t portable[8], extensions[8];
        for (int i = 0; i < 8; ++i)
            portable[i] = extensions[i] = 0x01000193u * (uint32_t)(i + 1) + (uint32_t)count;
        Sha256BlocksPortable(portable, reinterpret_cast<const unsigned char*>(data.data()), count);
        Sha256BlocksWithExtensions(extensions, reinterpret_cast<const unsigned char*>(data.data()), count);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(extensions[i], portable[i]) << count << " blocks, word " << i;
    }
}

struct OldFile {
    std::string bytes;
    size_t readLimit = SIZE_MAX;  // reads past this deliver nothing (a file that changed)
};

size_t ReadOldFile(void* context, uint64_t offset, void* buffer, size_t size)
{
    const OldFile* old = static_cast<const OldFile*>(context);
    size_t end = std::min(old->bytes.size(), old->readLimit);
    if (offset >= end)
        return 0;
    size_t take = std::min<size_t>(size, end - (size_t)offset);
    std::copy(old->bytes.data() + offset, old->bytes.data() + offset + take, static_cast<char*>(buffer));
    return take;
}

struct Applied {
    int status = -1;
    DeltaOutcome outcome{};
    std::string result;
    std::vector<size_t> blocks;
    std::vector<std::pair<int64_t, int64_t>> progress;
    size_t positionAfter = 0;
};

struct Refusing {
    Applied* applied;
    size_t refuseBlock;
};

// Applies `data` (a delta entry's data) found at offset 2 of a buffer with "NX" after it.
Applied Apply(const Bytes& data, OldFile* old, uint32_t compressedSize, size_t refuseBlock = SIZE_MAX,
              int64_t limit = -1)
{
    Bytes file = {'H', 'H'};
    file.insert(file.end(), data.begin(), data.end());
    file.push_back('N');
    file.push_back('X');
    MemoryStream memory{file.data(), file.size(), 2};
    ByteStream stream = MemoryByteStream(&memory);
    stream.limit = limit;
    Applied applied;
    Refusing refusing{&applied, refuseBlock};
    InflateSink sink = {&refusing,
                        [](void* context, const unsigned char* bytes, size_t size) {
                            Refusing* r = static_cast<Refusing*>(context);
                            if (r->applied->blocks.size() == r->refuseBlock)
                                return false;
                            r->applied->blocks.push_back(size);
                            r->applied->result.append(reinterpret_cast<const char*>(bytes), size);
                            return true;
                        },
                        [](void* context, int64_t written, int64_t requested) {
                            static_cast<Refusing*>(context)->applied->progress.emplace_back(written, requested);
                        }};
    DeltaSource source = {old, ReadOldFile};
    Bytes work(DELTA_WORK_SIZE);
    applied.status = ApplyDeltaEntry(&stream, compressedSize, old != nullptr ? &source : nullptr, work.data(), &sink,
                                     &applied.outcome);
    applied.positionAfter = memory.position;
    return applied;
}

DeltaHeader HeaderFor(const std::string& oldBytes, const std::string& result)
{
    DeltaHeader header{};
    header.baseSize = oldBytes.size();
    Sha256Of(reinterpret_cast<const unsigned char*>(oldBytes.data()), oldBytes.size(), header.baseHash);
    header.resultSize = result.size();
    Sha256Of(reinterpret_cast<const unsigned char*>(result.data()), result.size(), header.resultHash);
    return header;
}

// Record bytes, written out by hand.
struct Records {
    Bytes bytes;
    Records& Copy(uint64_t length, int64_t seek)
    {
        bytes.push_back(DELTA_COPY);
        AppendDeltaNumber(bytes, length);
        AppendDeltaSeek(bytes, seek);
        return *this;
    }
    Records& Add(const std::string& data)
    {
        bytes.push_back(DELTA_ADD);
        AppendDeltaNumber(bytes, data.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    Records& Diff(const std::string& differences, int64_t seek)
    {
        bytes.push_back(DELTA_DIFF);
        AppendDeltaNumber(bytes, differences.size());
        AppendDeltaSeek(bytes, seek);
        bytes.insert(bytes.end(), differences.begin(), differences.end());
        return *this;
    }
    Records& Raw(Bytes raw)
    {
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return *this;
    }
    Records& End()
    {
        bytes.push_back(DELTA_END);
        return *this;
    }
};

const std::string kOld = "0123456789abcdefghijklmnopqrstuvwxyz";

TEST(ApplyDeltaEntry, EachRecordKindMakesItsBytes)
{
    struct Case {
        const char* label;
        Records records;
        std::string result;
    };
    std::string diff(4, '\0');
    diff[1] = 1;          // 'c' + 1 = 'd'
    diff[3] = (char)-1;   // 'e' + 0xFF = 'd': the addition wraps
    const Case cases[] = {
        {"copy from the start", Records().Copy(10, 0).End(), "0123456789"},
        {"copy forward and back again", Records().Copy(3, 10).Copy(2, -13).End(), "abc01"},
        {"copy to the last byte", Records().Copy(1, 35).End(), "z"},
        {"add", Records().Add("new!").End(), "new!"},
        {"differences against the old bytes", Records().Diff(diff, 11).End(), "bddd"},
        {"a seek back from after a difference", Records().Diff(std::string(2, '\0'), 20).Copy(1, -22).End(), "kl0"},
        {"all kinds", Records().Add("<").Copy(3, 0).Diff(std::string(1, '\x01'), 5).Add(">").End(), "<0129>"},
        {"nothing", Records().End(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OldFile old{kOld};
        Bytes data = DeltaEntryData(HeaderFor(kOld, c.result), c.records.bytes);
        Applied a = Apply(data, &old, (uint32_t)data.size());
        ASSERT_EQ(a.status, DELTA_DONE) << a.status;
        EXPECT_EQ(a.result, c.result);
        EXPECT_EQ(a.outcome.written, (int64_t)c.result.size());
        EXPECT_EQ(a.positionAfter, 2 + data.size());
    }
}

TEST(ApplyDeltaEntry, HandsOutWholeBlocksWithProgressAndReadsTheOldFileAnywhere)
{
    // A result of five and a half blocks: a long copy, a long addition, a long difference.
    std::string oldBytes = kit::RandomBytes(3 * kBlock, 1);
    std::string added = kit::RandomBytes(kBlock + 300, 2);
    std::string differences = kit::RandomBytes(kBlock / 2, 3);
    std::string result = oldBytes.substr(kBlock, 2 * kBlock) + added;
    for (size_t i = 0; i < differences.size(); ++i)
        result += (char)(oldBytes[100 + i] + differences[i]);
    result += oldBytes.substr(5, kBlock - 300);
    Records records;
    records.Copy(2 * kBlock, (int64_t)kBlock).Add(added).Diff(differences, 100 - 3 * (int64_t)kBlock);
    records.Copy(kBlock - 300, 5 - (100 + (int64_t)differences.size())).End();
    OldFile old{oldBytes};
    Bytes data = DeltaEntryData(HeaderFor(oldBytes, result), records.bytes);
    Applied a = Apply(data, &old, (uint32_t)data.size());
    ASSERT_EQ(a.status, DELTA_DONE) << a.status;
    ASSERT_EQ(a.result.size(), result.size());
    EXPECT_TRUE(a.result == result);
    std::vector<size_t> blocks;
    for (size_t left = result.size(); left > 0; left -= std::min(left, kBlock))
        blocks.push_back(std::min(left, kBlock));
    EXPECT_EQ(a.blocks, blocks);
    ASSERT_EQ(a.progress.size(), blocks.size());
    int64_t written = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        written += (int64_t)blocks[i];
        EXPECT_EQ(a.progress[i].first, written);
        EXPECT_GE(a.progress[i].second, DELTA_HEADER_SIZE);
    }
    EXPECT_EQ(a.progress.back().second, (int64_t)data.size());
}

// Without the old file the records, their ranges and the length are checked; the hash cannot be.
TEST(ApplyDeltaEntry, WithoutTheOldFileChecksWhatItCan)
{
    Records records;
    records.Copy(4, 2).Add("xy").End();
    DeltaHeader header = HeaderFor(kOld, "2345xy");
    header.resultHash[0] ^= 1;  // not checked without the old bytes
    Bytes data = DeltaEntryData(header, records.bytes);
    Applied a = Apply(data, nullptr, (uint32_t)data.size());
    EXPECT_EQ(a.status, DELTA_DONE);
    EXPECT_EQ(a.result, std::string(4, '\0') + "xy");

    Records outside;
    outside.Copy(4, 33).End();
    data = DeltaEntryData(HeaderFor(kOld, "wxyz"), outside.bytes);
    EXPECT_EQ(Apply(data, nullptr, (uint32_t)data.size()).status, DELTA_OUT_OF_RANGE);
}

TEST(ApplyDeltaEntry, RefusesEveryKindOfDamage)
{
    const std::string result = "0123new";
    Records good;
    good.Copy(4, 0).Add("new").End();
    const Bytes sound = DeltaEntryData(HeaderFor(kOld, result), good.bytes);
    auto withRecords = [&](const Records& records, const std::string& made = "0123new") {
        return DeltaEntryData(HeaderFor(kOld, made), records.bytes);
    };
    Bytes wrongHash = sound;
    wrongHash[8 + SHA256_SIZE + 8] ^= 0x40;
    Bytes badCheck = sound;
    badCheck.back() ^= 1;  // the Adler-32 check
    Bytes trailing = sound;
    trailing.insert(trailing.end(), {0, 0, 0});

    struct Case {
        const char* label;
        Bytes data;
        uint32_t compressedSize;
        int status;
        std::string shorterOld = kOld;  // the old file as the reader delivers it
        int64_t limit = -1;
    };
    std::vector<Case> cases = {
        {"header cut short by compressedSize", sound, DELTA_HEADER_SIZE - 1, DELTA_HEADER_CUT_SHORT},
        {"package ends inside the header", sound, (uint32_t)sound.size(), DELTA_HEADER_CUT_SHORT, kOld, 2 + 40},
        {"package ends inside the records", sound, (uint32_t)sound.size(), DELTA_CUT_SHORT, kOld,
         2 + (int64_t)sound.size() - 3},
        {"compressedSize ends inside the records", sound, (uint32_t)sound.size() - 3, DELTA_UNFINISHED},
        {"wrong zlib check", badCheck, (uint32_t)badCheck.size(), DELTA_DAMAGED},
        {"zlib stream ends before compressedSize", trailing, (uint32_t)trailing.size(), DELTA_STREAM_SHORT},
        {"unknown record kind", withRecords(Records().Raw({7}).End()), 0, DELTA_BAD_RECORD},
        {"copy of length 0", withRecords(Records().Copy(0, 0).End()), 0, DELTA_BAD_RECORD},
        {"addition of length 0", withRecords(Records().Raw({DELTA_ADD, 0}).End()), 0, DELTA_BAD_RECORD},
        {"length of more than 64 bits", withRecords(Records().Raw({DELTA_ADD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                                    0xFF, 0xFF, 0xFF, 0x02})),
         0, DELTA_BAD_RECORD},
        {"no end record", withRecords(Records().Copy(4, 0).Add("new")), 0, DELTA_NO_END},
        {"stream stops inside a copy's numbers", withRecords(Records().Raw({DELTA_COPY, 4})), 0, DELTA_NO_END},
        {"stream stops inside an addition", withRecords(Records().Copy(4, 0).Raw({DELTA_ADD, 3, 'n', 'e'})), 0,
         DELTA_NO_END},
        {"bytes after the end record", withRecords(Records().Copy(4, 0).Add("new").End().Raw({DELTA_END})), 0,
         DELTA_AFTER_END},
        {"copy past the old file's end", withRecords(Records().Copy(4, 33).End(), "wxyz"), 0, DELTA_OUT_OF_RANGE},
        {"copy seeking before its start", withRecords(Records().Copy(4, -1).End(), "0123"), 0, DELTA_OUT_OF_RANGE},
        {"seek past the end", withRecords(Records().Copy(1, 37).End(), "0"), 0, DELTA_OUT_OF_RANGE},
        {"difference past the old file's end", withRecords(Records().Diff("\1\1", 35).End(), "z{"), 0,
         DELTA_OUT_OF_RANGE},
        {"old file shorter than it was when checked", sound, (uint32_t)sound.size(), DELTA_OLD_READ, "01"},
        {"result longer than stated", withRecords(Records().Copy(4, 0).Add("new!").End()), 0, DELTA_TOO_LONG},
        {"result shorter than stated", withRecords(Records().Copy(4, 0).Add("ne").End()), 0, DELTA_TOO_SHORT},
        {"wrong result hash", wrongHash, (uint32_t)wrongHash.size(), DELTA_WRONG_HASH},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.label);
        // Records built for `made`, but the header keeps the sound result's size and hash.
        if (c.compressedSize == 0) {
            DeltaHeader header = HeaderFor(kOld, result);
            EncodeDeltaHeader(&header, c.data.data());
            c.compressedSize = (uint32_t)c.data.size();
        }
        OldFile old{c.shorterOld};
        Applied a = Apply(c.data, &old, c.compressedSize, SIZE_MAX, c.limit);
        EXPECT_EQ(a.status, c.status);
        // Never more than the stated size goes out.
        EXPECT_LE(a.result.size(), result.size());
    }
}

TEST(ApplyDeltaEntry, ASinkThatRefusesStopsTheApplier)
{
    std::string oldBytes = kit::RandomBytes(3 * kBlock, 4);
    Records records;
    records.Copy(3 * kBlock, 0).End();
    OldFile old{oldBytes};
    Bytes data = DeltaEntryData(HeaderFor(oldBytes, oldBytes), records.bytes);
    Applied a = Apply(data, &old, (uint32_t)data.size(), 1);
    EXPECT_EQ(a.status, DELTA_REFUSED);
    EXPECT_EQ(a.blocks.size(), 1u);
}

TEST(CompareDeltaBase, TellsTheOldVersionTheNewOneAndAnyOther)
{
    DeltaHeader header = HeaderFor(kOld, "new");
    DeltaSource source;
    OldFile file{kOld};
    source = {&file, ReadOldFile};
    Bytes buffer(kBlock);
    unsigned char hash[SHA256_SIZE];
    ASSERT_TRUE(HashDeltaSource(&source, kOld.size(), buffer.data(), nullptr, nullptr, hash));
    EXPECT_EQ(CompareDeltaBase(&header, kOld.size(), hash), DELTA_BASE_MATCHES);
    EXPECT_EQ(CompareDeltaBase(&header, kOld.size() + 1, hash), DELTA_BASE_DIFFERS);

    OldFile already{"new"};
    source.context = &already;
    ASSERT_TRUE(HashDeltaSource(&source, 3, buffer.data(), nullptr, nullptr, hash));
    EXPECT_EQ(CompareDeltaBase(&header, 3, hash), DELTA_BASE_IS_RESULT);

    OldFile other{"0123456789abcdefghijklmnopqrstuvwxyZ"};
    source.context = &other;
    ASSERT_TRUE(HashDeltaSource(&source, other.bytes.size(), buffer.data(), nullptr, nullptr, hash));
    EXPECT_EQ(CompareDeltaBase(&header, other.bytes.size(), hash), DELTA_BASE_DIFFERS);

    // A file that ends before its size cannot be hashed.
    EXPECT_FALSE(HashDeltaSource(&source, other.bytes.size() + 1, buffer.data(), nullptr, nullptr, hash));
}

// A delta entry beside the others: the reader tells it apart, and an old package reads as before.
TEST(DeltaEntryLayout, TheReaderTellsADeltaApartAndRefusesOneTooShortForItsHeader)
{
    Records records;
    records.Copy(4, 0).End();
    Bytes data = DeltaEntryData(HeaderFor(kOld, "0123"), records.bytes);
    Bytes file = {'M', 'Z'};
    PackageWriter writer([&](const unsigned char* bytes, size_t size) { file.insert(file.end(), bytes, bytes + size); },
                         2);
    writer.AddFile("a.dat", 1, 5, DeflateZlib("a"));
    writer.AddDelta("b.dat", 6, data);
    writer.BeginDelta("c.dat", 7, DELTA_HEADER_SIZE - 1);
    writer.PutData(data.data(), DELTA_HEADER_SIZE - 1);
    writer.Finish();
    MemoryStream memory{file.data(), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t packageSize;
    ASSERT_EQ(LocatePackage(&stream, &packageSize), PACKAGE_ENTRY);
    EntryHeader header;
    ASSERT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_ENTRY);
    EXPECT_FALSE(IsDeltaEntry(&header.entry));
    ASSERT_EQ(SkipPackageData(&stream, &header.entry), PACKAGE_ENTRY);
    ASSERT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_ENTRY);
    EXPECT_TRUE(IsDeltaEntry(&header.entry));
    EXPECT_FALSE(IsFolderEntry(&header.entry));
    EXPECT_EQ(header.lastWriteTime, 6u);
    DeltaHeader delta;
    ASSERT_TRUE(ReadDeltaHeader(&stream, header.entry.compressedSize, &delta));
    EXPECT_EQ(delta.baseSize, kOld.size());
    EXPECT_EQ(delta.resultSize, 4u);
    ASSERT_TRUE(SkipBytes(&stream, header.entry.compressedSize - DELTA_HEADER_SIZE));
    EXPECT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_DELTA_TOO_SHORT);

    // Every other negative originalSize is refused as before.
    Bytes odd = BuildPackageFile({'M', 'Z'}, {{"d.dat", "d", 0, false}});
    SetUi32(odd.data() + 2 + 2 + 6, (uint32_t)-3);
    MemoryStream oddMemory{odd.data(), odd.size(), 0};
    ByteStream oddStream = MemoryByteStream(&oddMemory);
    ASSERT_EQ(LocatePackage(&oddStream, &packageSize), PACKAGE_ENTRY);
    EXPECT_EQ(ReadEntryHeader(&oddStream, &header), PACKAGE_SIZE_TOO_LARGE);
}

}  // namespace
