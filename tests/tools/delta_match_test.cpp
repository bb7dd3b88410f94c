// The matcher of build --base against the core's applier: every delta it makes turns the old
// file into the new one, for the kinds of change a game's files go through; and what it makes
// is small where little changed, and nothing where nothing matches.
#include "build/delta_match.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "package/delta_apply.h"
#include "pseudo_random.h"
#include "tool_kit.h"

namespace {

using namespace toolkit;

struct Made {
    DeltaMade made;
    std::string result;
    int status = -1;
};

// Makes the delta, then applies it to the old file as the updater would.
Made RoundTrip(const Scratch& scratch, const std::string& oldBytes, const std::string& newBytes,
               size_t budget = 64u << 20)
{
    Made out;
    fs::path oldPath = scratch.Path() / "old.dat", newPath = scratch.Path() / "new.dat";
    Write(oldPath, oldBytes);
    Write(newPath, newBytes);
    DeltaMatchOptions options;
    options.indexBudget = budget;
    std::string error;
    EXPECT_TRUE(MakeDelta(oldPath, newPath, options, out.made, error)) << error;
    if (out.made.nothingMatches)
        return out;
    std::vector<unsigned char> data(DELTA_HEADER_SIZE);
    EncodeDeltaHeader(&out.made.header, data.data());
    out.made.records.CopyTo([&](const unsigned char* bytes, size_t size) { data.insert(data.end(), bytes, bytes + size); },
                            error);
    MemoryStream memory{data.data(), data.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    DeltaFileSource old(oldPath);
    std::vector<unsigned char> work(DELTA_WORK_SIZE);
    InflateSink sink = {&out.result,
                        [](void* context, const unsigned char* bytes, size_t size) {
                            static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), size);
                            return true;
                        },
                        nullptr};
    DeltaOutcome outcome;
    out.status = ApplyDeltaEntry(&stream, (uint32_t)data.size(), old.Source(), work.data(), &sink, &outcome);
    return out;
}

// Independent noise for each seed (the test kit's sequence repeats itself every 16 MiB, so two of
// its seeds share long stretches, which is no "nothing matches").
std::string Noise(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = (char)random();
    return bytes;
}

// `count` edits spread over `text`: each replaces `cut` bytes by `put` new ones (shifting what
// follows when they differ).
std::string Edited(std::string text, int count, size_t cut, size_t put, uint32_t seed)
{
    kit::RandomSequence random(seed);
    for (int i = 0; i < count; ++i) {
        size_t at = (size_t)((uint64_t)random.Next() * random.Next() % (text.size() - cut));
        text.replace(at, cut, Noise(put, seed + (uint32_t)i));
    }
    return text;
}

TEST(MakeDelta, EveryChangeRoundTrips)
{
    Scratch scratch;
    const std::string base = Noise(300000, 1);
    std::string sparse = base;
    for (size_t at = 1000; at < sparse.size(); at += 97)
        sparse[at] = (char)(sparse[at] + 3);  // like addresses that moved: many near matches
    struct Case {
        const char* label;
        std::string oldBytes, newBytes;
        uint64_t mostDataSize;  // the delta's data is at most this long
    };
    const Case cases[] = {
        {"insertions that shift what follows", base, Edited(base, 20, 0, 300, 2), 20 * 300 + 2000},
        {"deletions that shift what follows", base, Edited(base, 20, 300, 0, 3), 2000},
        {"replaced blocks of the same length", base, Edited(base, 5, 5000, 5000, 4), 5 * 5000 + 2000},
        {"empty old file", "", Noise(5000, 5), 5000 + 200},
        {"empty new file", base, "", 200},
        {"both empty", "", "", 200},
        {"identical files", base, base, 200},
        {"one-byte files", "a", "b", 200},
        {"a file that only grows", base, base + Noise(10000, 6), 10000 + 300},
        {"a file that grows at the front", base, Noise(10000, 7) + base, 10000 + 300},
        {"near matches all through", base, sparse, 30000},
        {"blocks moved about", base, base.substr(200000) + base.substr(0, 100000) + base.substr(100000, 100000), 300},
        {"repeated contents", std::string(100000, '\0'), std::string(50000, '\0') + "x" + std::string(90000, '\0'), 400},
        {"shorter than a hash window", "0123456789", "01234x6789", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Made m = RoundTrip(scratch, c.oldBytes, c.newBytes);
        ASSERT_FALSE(m.made.nothingMatches);
        EXPECT_EQ(m.status, DELTA_DONE);
        EXPECT_TRUE(m.result == c.newBytes);
        EXPECT_EQ(m.made.copied + m.made.differenced + m.made.added, c.newBytes.size());
        EXPECT_LE(m.made.DataSize(), c.mostDataSize);
    }
}

// A small index samples the old file sparsely: matches are still found, and the deltas still apply.
TEST(MakeDelta, ASmallIndexBudgetStillFindsLongMatches)
{
    Scratch scratch;
    const std::string base = Noise(2000000, 8);
    const std::string changed = Edited(base, 10, 100, 150, 9);
    Made m = RoundTrip(scratch, base, changed, 1u << 12);
    EXPECT_EQ(m.status, DELTA_DONE);
    EXPECT_TRUE(m.result == changed);
    EXPECT_LT(m.made.DataSize(), 40000u);
}

TEST(MakeDelta, ANewFileThatSharesNothingIsFoundOutEarly)
{
    Scratch scratch;
    Made m = RoundTrip(scratch, Noise(9u << 20, 10), Noise(9u << 20, 11));
    EXPECT_TRUE(m.made.nothingMatches);
    EXPECT_EQ(m.made.records.Size(), 0u);
    // One stretch in common is enough to try.
    std::string oldBytes = Noise(9u << 20, 12);
    std::string newBytes = Noise(9u << 20, 13);
    newBytes.replace(4u << 20, 1u << 20, oldBytes.substr(1u << 20, 1u << 20));
    m = RoundTrip(scratch, oldBytes, newBytes);
    ASSERT_FALSE(m.made.nothingMatches);
    EXPECT_EQ(m.status, DELTA_DONE);
    EXPECT_GE(m.made.copied, 1u << 20);
}

}  // namespace
