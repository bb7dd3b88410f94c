#include "image/rct_encoder.h"

#include "image/rct_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

enum class Kind { Random, FewColours, Flat, Gradient, PhotoLike, Stripes };

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::Random: return "random";
    case Kind::FewColours: return "few colours";
    case Kind::Flat: return "flat";
    case Kind::Gradient: return "gradient";
    case Kind::PhotoLike: return "photo-like";
    case Kind::Stripes: return "stripes";
    }
    return "?";
}

Bytes MakeImage(Kind kind, uint32_t width, uint32_t height, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes pixels(3u * width * height);
    const unsigned char palette[4][3] = {{0, 0, 0}, {255, 255, 255}, {10, 120, 200}, {10, 120, 201}};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            unsigned char* p = &pixels[3 * ((size_t)y * width + x)];
            switch (kind) {
            case Kind::Random:
                for (int c = 0; c < 3; ++c)
                    p[c] = (unsigned char)random();
                break;
            case Kind::FewColours:
                std::memcpy(p, palette[random() % 4], 3);
                break;
            case Kind::Flat:
                p[0] = 30, p[1] = 60, p[2] = 90;
                break;
            case Kind::Gradient:
                p[0] = (unsigned char)(x * 255 / std::max(1u, width - 1));
                p[1] = (unsigned char)(y * 255 / std::max(1u, height - 1));
                p[2] = (unsigned char)((x + y) / 8);
                break;
            case Kind::PhotoLike: {
                // Smooth shapes with a little sensor noise, quantised as a title picture would be.
                double v = 128 + 60 * std::sin(x * 0.05) * std::cos(y * 0.07) + 40 * std::sin((x + 2 * y) * 0.013);
                for (int c = 0; c < 3; ++c) {
                    int noise = (int)(random() % 5) - 2;
                    p[c] = (unsigned char)std::clamp((int)v + c * 17 + noise, 0, 255);
                }
                break;
            }
            case Kind::Stripes:
                std::memcpy(p, palette[(x / 3 + y / 2) % 3], 3);
                break;
            }
        }
    }
    return pixels;
}

Bytes Decode(const Bytes& payload, uint32_t width, uint32_t height)
{
    const size_t stride = RctStride(width);
    Bytes memory(stride * height, 0xEE);
    EXPECT_EQ(DecodeRctPayload(payload.data(), payload.size(), memory.data(), width, height, stride),
              RCT_DECODE_COMPLETE);
    Bytes packed;
    for (uint32_t r = 0; r < height; ++r)
        packed.insert(packed.end(), memory.begin() + r * stride, memory.begin() + r * stride + 3 * width);
    return packed;
}

// Widths 1 to 9 (including the ones with unusable table entries) and a few large pictures.
TEST(RctEncoder, RoundTripsGiveIdenticalPixels)
{
    struct Size {
        uint32_t width, height;
    };
    std::vector<Size> sizes;
    for (uint32_t w = 1; w <= 9; ++w)
        sizes.push_back({w, 1 + (w * 5) % 11});
    sizes.push_back({1, 1});
    sizes.push_back({320, 200});
    sizes.push_back({641, 37});
    const Kind kinds[] = {Kind::Random, Kind::FewColours, Kind::Flat, Kind::Gradient, Kind::PhotoLike, Kind::Stripes};
    unsigned seed = 1;
    for (const Size& size : sizes) {
        for (Kind kind : kinds) {
            SCOPED_TRACE(std::string(KindName(kind)) + " " + std::to_string(size.width) + "x" +
                         std::to_string(size.height));
            Bytes image = MakeImage(kind, size.width, size.height, seed++);
            Bytes optimal = EncodeRctPayload(image.data(), size.width, size.height);
            Bytes greedy = EncodeRctPayloadGreedy(image.data(), size.width, size.height);
            EXPECT_TRUE(Decode(optimal, size.width, size.height) == image);
            EXPECT_TRUE(Decode(greedy, size.width, size.height) == image);
            EXPECT_LE(optimal.size(), greedy.size());
        }
    }
}

// Runs longer than one operation can hold: long literals and long references must split.
TEST(RctEncoder, RoundTripsPastTheLongestOperations)
{
    const uint32_t width = 1000, height = 140;
    Bytes flat = MakeImage(Kind::Flat, width, height, 7);
    // Every pixel different, so nothing can be referenced.
    Bytes distinct(3u * width * height);
    for (uint32_t i = 0; i < width * height; ++i) {
        const uint32_t v = i;  // below 2^24, so every value is its own
        distinct[3 * i] = (unsigned char)v, distinct[3 * i + 1] = (unsigned char)(v >> 8),
        distinct[3 * i + 2] = (unsigned char)(v >> 16);
    }
    struct Case {
        const char* name;
        const Bytes& image;
        size_t expectedSize;
    };
    const Case cases[] = {
        // 139999 repeated pixels: three references of at most 65539 pixels, 3 bytes each.
        {"flat", flat, 3 + 3 * 3},
        // Literal runs only, at most 65663 pixels per 3-byte operation.
        {"distinct", distinct, 3u * width * height + 3 * 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes optimal = EncodeRctPayload(c.image.data(), width, height);
        Bytes greedy = EncodeRctPayloadGreedy(c.image.data(), width, height);
        EXPECT_TRUE(Decode(optimal, width, height) == c.image);
        EXPECT_TRUE(Decode(greedy, width, height) == c.image);
        EXPECT_EQ(optimal.size(), c.expectedSize);
    }
}

// The fewest bytes for the pixels from `start` on, by trying every operation at every length.
size_t ExhaustiveCost(const Bytes& image, uint32_t width, uint32_t height)
{
    const int64_t n = (int64_t)width * height;
    int64_t table[RCT_TABLE_ENTRIES];
    BuildBackReferenceTable(width, table);
    auto same = [&](int64_t a, int64_t b) { return std::memcmp(&image[3 * a], &image[3 * b], 3) == 0; };
    std::vector<size_t> cost(n + 1, 0);
    for (int64_t i = n - 1; i >= 1; --i) {
        size_t best = SIZE_MAX;
        for (int64_t length = 1; length <= std::min<int64_t>(n - i, 65663); ++length)
            best = std::min(best, (length <= 127 ? 1 : 3) + 3 * (size_t)length + cost[i + length]);
        for (int k = 0; k < RCT_TABLE_ENTRIES; ++k) {
            if (table[k] >= 0 || i + table[k] / 3 < 0)
                continue;
            const int64_t offset = table[k] / 3;
            for (int64_t length = 1; length <= std::min<int64_t>(n - i, 65539); ++length) {
                if (!same(i + length - 1, i + length - 1 + offset))
                    break;
                best = std::min(best, (size_t)(length <= 3 ? 1 : 3) + cost[i + length]);
            }
        }
        cost[i] = best;
    }
    return 3 + (n > 1 ? cost[1] : 0);
}

TEST(RctEncoder, FindsTheShortestStream)
{
    unsigned seed = 100;
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 8u, 13u}) {
        for (Kind kind : {Kind::FewColours, Kind::Stripes, Kind::Random, Kind::Gradient}) {
            for (uint32_t height : {1u, 6u, 23u}) {
                SCOPED_TRACE(std::string(KindName(kind)) + " " + std::to_string(width) + "x" + std::to_string(height));
                Bytes image = MakeImage(kind, width, height, seed++);
                EXPECT_EQ(EncodeRctPayload(image.data(), width, height).size(), ExhaustiveCost(image, width, height));
            }
        }
    }
}

// Where greedy takes the longest match at once and pays for it later.
TEST(RctEncoder, BeatsGreedyWhereTheLongestMatchIsAPoorChoice)
{
    const uint32_t width = 40, height = 30;
    Bytes image = MakeImage(Kind::FewColours, width, height, 9);
    Bytes optimal = EncodeRctPayload(image.data(), width, height);
    Bytes greedy = EncodeRctPayloadGreedy(image.data(), width, height);
    EXPECT_LT(optimal.size(), greedy.size());
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Header(const char* variant, uint32_t width, uint32_t height, uint32_t payloadSize)
{
    Bytes out = {0x98, 0x5A, 0x92, 0x9A};
    out.insert(out.end(), variant, variant + 4);
    for (uint32_t v : {width, height, payloadSize})
        for (int s = 0; s < 32; s += 8)
            out.push_back((unsigned char)(v >> s));
    return out;
}

TEST(RctFile, LayoutOfEveryVariant)
{
    const Bytes payload = {1, 2, 3, 0x80};
    Bytes file;
    std::string error;

    ASSERT_TRUE(BuildRctFile(RCT_TC00, "", 2, 1, payload, file, error)) << error;
    EXPECT_EQ(file, Header("TC00", 2, 1, 4) + payload);

    ASSERT_TRUE(BuildRctFile(RCT_TS00, "", 2, 1, payload, file, error)) << error;
    EXPECT_EQ(file, Header("TS00", 2, 1, 6) + payload + Bytes({'T', 'S'}));

    ASSERT_TRUE(BuildRctFile(RCT_TC01, "ab", 2, 1, payload, file, error)) << error;
    EXPECT_EQ(file, Header("TC01", 2, 1, 4) + Bytes({2, 0, 'a', 'b'}) + payload);

    const std::string longest(65535, 'n');
    ASSERT_TRUE(BuildRctFile(RCT_TS01, longest, 2, 1, payload, file, error)) << error;
    Bytes expected = Header("TS01", 2, 1, 6) + Bytes{0xFF, 0xFF};
    expected.insert(expected.end(), longest.begin(), longest.end());
    EXPECT_EQ(file, expected + payload + Bytes({'T', 'S'}));
}

TEST(RctFile, RefusesWhatTheFormatCannotHold)
{
    const Bytes payload = {1, 2, 3};
    Bytes file;
    std::string error;
    EXPECT_FALSE(BuildRctFile(RCT_TC00, "name", 1, 1, payload, file, error));
    EXPECT_NE(error.find("no name"), std::string::npos) << error;
    EXPECT_FALSE(BuildRctFile(RCT_TC01, std::string(65536, 'n'), 1, 1, payload, file, error));
    EXPECT_FALSE(BuildRctFile(RCT_TC00, "", 0, 1, payload, file, error));
    EXPECT_FALSE(BuildRctFile(RCT_TC00, "", 100000, 100000, payload, file, error));
    EXPECT_FALSE(BuildRctFile(RCT_UNKNOWN, "", 1, 1, payload, file, error));
}

TEST(RctFile, VariantNames)
{
    EXPECT_EQ(RctVariantFromName("TC00"), RCT_TC00);
    EXPECT_EQ(RctVariantFromName("TS00"), RCT_TS00);
    EXPECT_EQ(RctVariantFromName("TC01"), RCT_TC01);
    EXPECT_EQ(RctVariantFromName("TS01"), RCT_TS01);
    EXPECT_EQ(RctVariantFromName("tc00"), RCT_UNKNOWN);
    EXPECT_EQ(RctVariantFromName(""), RCT_UNKNOWN);
    EXPECT_STREQ(RctVariantName(RCT_TS01), "TS01");
}

}  // namespace
