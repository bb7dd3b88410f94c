// The inflate loop the updater's passes and the builder's walk share, over memory: how it hands
// out blocks and progress, where it leaves the stream, and how each kind of damage ends it.
#include "package/entry_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "package/package_writer.h"

namespace {

using Bytes = std::vector<unsigned char>;
const size_t kBlock = BLOCK_SIZE;

// Bytes that do not compress, so the stream is about as long as its contents.
std::string Noise(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes;
    while (bytes.size() < size)
        bytes += (char)random();
    return bytes;
}

struct Recorded {
    int status = -1;
    InflateOutcome outcome{};
    std::vector<size_t> blocks;                         // size of each block handed over
    std::vector<std::pair<int64_t, int64_t>> progress;  // (inflated, requested) after each block
    std::string contents;
    int64_t positionAfter = -1;
};

struct Recorder {
    Recorded* recorded;
    size_t refuseBlock;  // the index of the block to refuse, or SIZE_MAX
};

// Inflates `compressedSize` bytes of `data` from `start`, with the stream's limit at `limit`
// (-1: none) and the output capped at `cap`.
Recorded Inflate(const Bytes& data, size_t start, uint32_t compressedSize, int64_t limit = -1, int64_t cap = -1,
                 size_t refuseBlock = SIZE_MAX)
{
    MemoryStream memory{data.data(), data.size(), start};
    ByteStream stream = MemoryByteStream(&memory);
    stream.limit = limit;
    Recorded recorded;
    Recorder recorder{&recorded, refuseBlock};
    InflateSink sink = {&recorder,
                        [](void* context, const unsigned char* bytes, size_t size) {
                            Recorder* r = static_cast<Recorder*>(context);
                            if (r->recorded->blocks.size() == r->refuseBlock)
                                return false;
                            r->recorded->blocks.push_back(size);
                            r->recorded->contents.append(reinterpret_cast<const char*>(bytes), size);
                            return true;
                        },
                        [](void* context, int64_t inflated, int64_t requested) {
                            static_cast<Recorder*>(context)->recorded->progress.emplace_back(inflated, requested);
                        }};
    Bytes input(kBlock), output(kBlock);
    recorded.status = InflateEntryData(&stream, compressedSize, cap, input.data(), output.data(), &sink, &recorded.outcome);
    recorded.positionAfter = (int64_t)memory.position;
    return recorded;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(InflateEntryData, HandsOverWholeBlocksAndProgressAsTheUpdaterCountsThem)
{
    struct Case {
        const char* label;
        std::string contents;
    };
    const Case cases[] = {
        {"empty: no block, no progress", ""},
        {"under one block", "hello"},
        {"exactly two blocks", std::string(2 * kBlock, 'a')},
        {"two and a half blocks from one block of input", std::string(kBlock * 5 / 2, 'b')},
        {"noise: several blocks of input", Noise(kBlock * 5 / 2, 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes z = DeflateZlib(c.contents);
        const Recorded r = Inflate(Concat({Bytes(3, 0xEE), z}), 3, (uint32_t)z.size());
        ASSERT_EQ(r.status, INFLATE_DONE);
        EXPECT_EQ(r.contents, c.contents);
        EXPECT_EQ(r.outcome.inflated, (int64_t)c.contents.size());
        EXPECT_EQ(r.outcome.consumed, (int64_t)z.size());
        EXPECT_EQ(r.outcome.unused, 0);
        EXPECT_EQ(r.positionAfter, 3 + (int64_t)z.size());

        // Every block but the last is whole; each is followed by one progress call that counts
        // the output so far and the input requested so far, in whole blocks of input.
        std::vector<size_t> blocks;
        for (size_t left = c.contents.size(); left > 0; left -= std::min(left, kBlock))
            blocks.push_back(std::min(left, kBlock));
        EXPECT_EQ(r.blocks, blocks);
        ASSERT_EQ(r.progress.size(), blocks.size());
        int64_t inflated = 0;
        int64_t lastRequested = 0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            inflated += (int64_t)blocks[i];
            EXPECT_EQ(r.progress[i].first, inflated);
            int64_t requested = r.progress[i].second;
            EXPECT_GE(requested, lastRequested);
            EXPECT_TRUE(requested == (int64_t)z.size() || (requested > 0 && requested % (int64_t)kBlock == 0))
                << requested;
            lastRequested = requested;
        }
        if (!blocks.empty()) {
            EXPECT_EQ(r.progress.back().second, (int64_t)z.size());
        }
    }
}

// A zlib stream that ends before its compressedSize: the next entry begins after all
// compressedSize bytes, whether the stream ended in the first block of input or not.
TEST(InflateEntryData, AStreamThatEndsEarlyLeavesTheStreamAfterAllItsBytes)
{
    for (size_t extra : {size_t(1), size_t(2 * kBlock + 17)}) {
        SCOPED_TRACE(extra);
        const Bytes z = DeflateZlib("short contents");
        const Bytes file = Concat({z, Bytes(extra, 0x55), {'N', 'E', 'X', 'T'}});
        const Recorded r = Inflate(file, 0, (uint32_t)(z.size() + extra));
        ASSERT_EQ(r.status, INFLATE_DONE);
        EXPECT_EQ(r.contents, "short contents");
        EXPECT_EQ(r.outcome.unused, (int64_t)extra);
        EXPECT_EQ(r.positionAfter, (int64_t)(z.size() + extra));
    }
    // The skipped bytes may not run past the limit.
    const Bytes z = DeflateZlib("x");
    const Bytes file = Concat({z, Bytes(3 * kBlock, 0)});
    const Recorded r = Inflate(file, 0, (uint32_t)(z.size() + 2 * kBlock + 5), (int64_t)(z.size() + 2 * kBlock));
    EXPECT_EQ(r.status, INFLATE_CUT_SHORT);
    EXPECT_EQ(r.outcome.unused, (int64_t)(2 * kBlock + 5));
}

TEST(InflateEntryData, EachKindOfDamageEndsTheLoopWithItsStatus)
{
    const std::string big = Noise(kBlock * 5 / 2, 3);
    const Bytes zBig = DeflateZlib(big);
    Bytes badCheck = zBig;
    badCheck.back() ^= 0x55;
    Bytes cut = DeflateZlib(std::string(3000, 'q'));
    cut.resize(cut.size() - 3);
    Bytes badHeader = DeflateZlib("abc");
    badHeader[0] = 0x77;
    struct Case {
        const char* label;
        Bytes file;
        uint32_t compressedSize;
        int64_t limit;
        int status;
        size_t blocksBefore;  // whole blocks handed over before the failure
        bool shortRead;
    };
    const Case cases[] = {
        {"compressedSize 0", DeflateZlib(""), 0, -1, INFLATE_UNFINISHED, 0, false},
        {"stream cut within compressedSize", cut, (uint32_t)cut.size(), -1, INFLATE_UNFINISHED, 0, false},
        {"the file ends inside the data", Bytes(zBig.begin(), zBig.begin() + 1000), (uint32_t)zBig.size(),
         -1, INFLATE_CUT_SHORT, 0, true},
        // The bytes are there, but behind the limit: the loop never reads them.
        {"the limit cuts the data", zBig, (uint32_t)zBig.size(), (int64_t)zBig.size() - 1, INFLATE_CUT_SHORT, 2, true},
        {"wrong Adler-32 after whole blocks", badCheck, (uint32_t)badCheck.size(), -1, INFLATE_DAMAGED, 2, false},
        {"not a zlib header", badHeader, (uint32_t)badHeader.size(), -1, INFLATE_DAMAGED, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Recorded r = Inflate(c.file, 0, c.compressedSize, c.limit);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.outcome.status, c.status);
        EXPECT_EQ(r.blocks.size(), c.blocksBefore);
        EXPECT_EQ(r.outcome.shortRead, c.shortRead);
        EXPECT_EQ(r.outcome.unused, 0);
        if (c.status == INFLATE_DAMAGED) {
            EXPECT_EQ(r.outcome.zlibResult, Z_DATA_ERROR);
            EXPECT_NE(r.outcome.message, nullptr);
        }
        if (c.limit >= 0) {
            EXPECT_LE(r.positionAfter, c.limit);
        }
    }
}

TEST(InflateEntryData, TheCapAndTheSinkStopTheOutput)
{
    const std::string contents = Noise(kBlock * 2 + 100, 5);
    const Bytes z = DeflateZlib(contents);
    for (int64_t cap : {int64_t(0), int64_t(10), (int64_t)kBlock, (int64_t)kBlock + 1, (int64_t)contents.size() - 1}) {
        SCOPED_TRACE(cap);
        const Recorded r = Inflate(z, 0, (uint32_t)z.size(), -1, cap);
        EXPECT_EQ(r.status, INFLATE_TOO_LONG);
        EXPECT_EQ(r.outcome.inflated, cap);
        EXPECT_EQ(r.contents, contents.substr(0, (size_t)cap));
    }
    const Recorded whole = Inflate(z, 0, (uint32_t)z.size(), -1, (int64_t)contents.size());
    EXPECT_EQ(whole.status, INFLATE_DONE);
    EXPECT_EQ(whole.contents, contents);

    const Recorded refused = Inflate(z, 0, (uint32_t)z.size(), -1, -1, 1);
    EXPECT_EQ(refused.status, INFLATE_REFUSED);
    EXPECT_EQ(refused.contents, contents.substr(0, kBlock));
    EXPECT_EQ(refused.progress.size(), 1u);
}

}  // namespace
