#include "image/rct_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char kGuard = 0xAB;
const size_t kGuardSize = 64;

// A pixel as its three stored bytes, distinct for every index.
Bytes Pixel(uint32_t index)
{
    return {(unsigned char)(index * 7 + 1), (unsigned char)(index >> 5), (unsigned char)(0x80 | (index >> 13))};
}

Bytes Pixels(uint32_t first, uint32_t count)
{
    Bytes out;
    for (uint32_t i = 0; i < count; ++i) {
        Bytes p = Pixel(first + i);
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Repeat(const Bytes& pattern, size_t times)
{
    Bytes out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), pattern.begin(), pattern.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Le16(uint32_t value)
{
    return {(unsigned char)(value & 0xFF), (unsigned char)(value >> 8)};
}

size_t Stride(uint32_t width)
{
    return (3 * (size_t)width + 3) / 4 * 4;
}

struct Decoded {
    int result;
    Bytes packed;      // the rows without their padding
    bool paddingZero;  // every padding byte cleared
    bool guardIntact;  // nothing written past stride * height
};

// Decodes into memory prefilled with a marker and followed by a guard zone.
Decoded Decode(const Bytes& payload, uint32_t width, uint32_t height, size_t stride = 0)
{
    if (stride == 0)
        stride = Stride(width);
    const size_t size = stride * height;
    Bytes memory(size + kGuardSize, kGuard);
    // An exactly sized copy, so AddressSanitizer sees any read past the payload.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[payload.size() + 1]);
    if (!payload.empty())
        std::memcpy(exact.get(), payload.data(), payload.size());
    Decoded d;
    d.result = DecodeRctPayload(exact.get(), payload.size(), memory.data(), width, height, stride);
    d.paddingZero = true;
    for (uint32_t r = 0; r < height && d.result != RCT_DECODE_BAD_SIZE; ++r) {
        d.packed.insert(d.packed.end(), memory.begin() + r * stride, memory.begin() + r * stride + 3 * width);
        for (size_t i = 3 * width; i < stride; ++i)
            d.paddingZero = d.paddingZero && memory[r * stride + i] == 0;
    }
    d.guardIntact = true;
    for (size_t i = size; i < memory.size(); ++i)
        d.guardIntact = d.guardIntact && memory[i] == kGuard;
    return d;
}

struct StreamCase {
    std::string name;
    uint32_t width;
    uint32_t height;
    Bytes payload;
    Bytes expected;  // packed pixels
};

class WellFormedStreams : public testing::TestWithParam<StreamCase> {};

TEST_P(WellFormedStreams, DecodeToTheirPixels)
{
    const StreamCase& c = GetParam();
    ASSERT_EQ(c.expected.size(), 3u * c.width * c.height) << "fixture";
    Decoded d = Decode(c.payload, c.width, c.height);
    EXPECT_EQ(d.result, RCT_DECODE_COMPLETE);
    EXPECT_TRUE(d.packed == c.expected);
    EXPECT_TRUE(d.paddingZero);
    EXPECT_TRUE(d.guardIntact);
}

const Bytes A = Pixel(0), B = Pixel(1);

INSTANTIATE_TEST_SUITE_P(
    Operations, WellFormedStreams,
    testing::Values(
        // The first pixel only: no operation byte is read (none is there).
        StreamCase{"OnePixel", 1, 1, Pixel(9), Pixel(9)},
        StreamCase{"Literal00", 2, 1, A + Bytes{0x00} + B, A + B},
        StreamCase{"Literal7E", 128, 1, A + Bytes{0x7E} + Pixels(1, 127), Pixels(0, 128)},
        StreamCase{"Literal7FCount0", 129, 1, A + Bytes{0x7F} + Le16(0) + Pixels(1, 128), Pixels(0, 129)},
        StreamCase{"Literal7FCount65535", 65664, 1, A + Bytes{0x7F} + Le16(65535) + Pixels(1, 65663),
                   Pixels(0, 65664)},
        StreamCase{"Reference80RepeatsOnce", 2, 1, A + Bytes{0x80}, A + A},
        StreamCase{"Reference83Count6FillsARun", 11, 1, A + Bytes{0x83} + Le16(6), Repeat(A, 11)},
        // Entry 1 is two pixels back: a long overlapping copy repeats the pair.
        StreamCase{"OverlapRepeatsPattern", 12, 1, A + Bytes{0x00} + B + Bytes{0x87} + Le16(6), Repeat(A + B, 6)},
        StreamCase{"ReferenceA4CopiesPixelAbove", 2, 2, A + Bytes{0x00} + B + Bytes{0xA4, 0xA4}, A + B + A + B},
        StreamCase{"ReferenceA7Count0CopiesFourAbove", 4, 2, A + Bytes{0x02} + Pixels(1, 3) + Bytes{0xA7} + Le16(0),
                   Pixels(0, 4) + Pixels(0, 4)},
        // Width 5: stride 16, rows of 15 bytes land at 0, 16, 32.
        StreamCase{"Width5RowsSpread", 5, 3, A + Bytes{0x0D} + Pixels(1, 14), Pixels(0, 15)},
        StreamCase{"Width5ReferencesInPackedLayout", 5, 2, A + Bytes{0x03} + Pixels(1, 4) + Bytes{0xA7} + Le16(1),
                   Pixels(0, 5) + Pixels(0, 5)},
        // Width 1: entry 9 is the previous pixel, entry 31 (four rows up, two left) is -18 bytes.
        StreamCase{"Width1EntriesAbove", 1, 7, A + Bytes{0x04} + Pixels(1, 5) + Bytes{0x80 | 31 << 2},
                   Pixels(0, 6) + Pixel(0)},
        // A stream that fills the picture never reads what follows it (a trailer, for example).
        StreamCase{"BytesAfterTheEndAreIgnored", 2, 1, A + Bytes{0x80, 'T', 'S'}, A + A}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

TEST(RctDecoder, TableOffsetsForWidth256)
{
    int64_t table[RCT_TABLE_ENTRIES];
    BuildBackReferenceTable(256, table);
    EXPECT_EQ(table[0], -3);
    EXPECT_EQ(table[5], -18);
    EXPECT_EQ(table[6], 9 - 768);
    EXPECT_EQ(table[9], -768);
    EXPECT_EQ(table[16], -1536);
    EXPECT_EQ(table[23], -2304);
    EXPECT_EQ(table[27], -3066);
    EXPECT_EQ(table[31], -3078);
}

struct BadStreamCase {
    std::string name;
    uint32_t width;
    uint32_t height;
    Bytes payload;
    Bytes decodedPrefix;  // what stays; the rest must be black
};

class MalformedStreams : public testing::TestWithParam<BadStreamCase> {};

TEST_P(MalformedStreams, StopAndLeaveTheRestBlack)
{
    const BadStreamCase& c = GetParam();
    Decoded d = Decode(c.payload, c.width, c.height);
    EXPECT_EQ(d.result, RCT_DECODE_MALFORMED);
    Bytes expected = c.decodedPrefix;
    expected.resize(3u * c.width * c.height, 0);
    EXPECT_TRUE(d.packed == expected);
    EXPECT_TRUE(d.paddingZero);
    EXPECT_TRUE(d.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, MalformedStreams,
    testing::Values(
        BadStreamCase{"EmptyPayload", 2, 2, {}, {}},
        BadStreamCase{"PayloadOfTwoBytes", 1, 1, {1, 2}, {}},
        BadStreamCase{"NoOperationByte", 2, 1, A, A},
        BadStreamCase{"LiteralBytesMissing", 3, 1, A + Bytes{0x01} + B, A},
        BadStreamCase{"LongLiteralCountCut", 200, 1, A + Bytes{0x7F, 0x00}, A},
        BadStreamCase{"LongReferenceCountCut", 9, 1, A + Bytes{0x83, 0x01}, A},
        BadStreamCase{"LiteralPastTheEnd", 2, 1, A + Bytes{0x01} + Pixels(1, 2), A},
        BadStreamCase{"LongLiteralPastTheEnd", 129, 1, A + Bytes{0x7F} + Le16(1) + Pixels(1, 129), A},
        BadStreamCase{"ReferencePastTheEnd", 3, 1, A + Bytes{0x82}, A},
        BadStreamCase{"LongReferencePastTheEnd", 9, 2, A + Bytes{0x83} + Le16(65535), A},
        // Entry 9 is a whole row (3 pixels) back, but only one pixel is written.
        BadStreamCase{"ReferenceBeforeTheFirstByte", 3, 2, A + Bytes{0xA4}, A},
        BadStreamCase{"FarReferenceBeforeTheFirstByte", 4, 5, A + Bytes{0x02} + Pixels(1, 3) + Bytes{0x80 | 27 << 2},
                      Pixels(0, 4)},
        // Widths 1 to 3: entries of the row above that name the write position or beyond.
        BadStreamCase{"Width1Entry6Ahead", 1, 4, A + Bytes{0x00} + B + Bytes{0x80 | 6 << 2}, A + B},
        BadStreamCase{"Width1Entry8AtTheWritePosition", 1, 4, A + Bytes{0x00} + B + Bytes{0x80 | 8 << 2}, A + B},
        BadStreamCase{"Width2Entry7AtTheWritePosition", 2, 3, A + Bytes{0x00} + B + Bytes{0x80 | 7 << 2}, A + B},
        BadStreamCase{"Width3Entry6AtTheWritePosition", 3, 3, A + Bytes{0x80 | 6 << 2}, A},
        BadStreamCase{"Width1Entry13TwoRowsUpAhead", 1, 4, A + Bytes{0x00} + B + Bytes{0x80 | 13 << 2}, A + B},
        BadStreamCase{"Width1Entry20AtTheWritePosition", 1, 4, A + Bytes{0x00} + B + Bytes{0x80 | 20 << 2}, A + B}),
    [](const testing::TestParamInfo<BadStreamCase>& info) { return info.param.name; });

TEST(RctDecoder, MalformedStreamInAStridedPictureKeepsItsRowsInPlace)
{
    // Width 5: one full row and two pixels of the next, then a cut literal.
    Bytes payload = A + Bytes{0x05} + Pixels(1, 6) + Bytes{0x10};
    Decoded d = Decode(payload, 5, 3);
    EXPECT_EQ(d.result, RCT_DECODE_MALFORMED);
    Bytes expected = Pixels(0, 7);
    expected.resize(45, 0);
    EXPECT_TRUE(d.packed == expected);
    EXPECT_TRUE(d.paddingZero);
}

struct SizeCase {
    std::string name;
    uint32_t width;
    uint32_t height;
    size_t stride;
};

class UnusableSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(UnusableSizes, WriteNothing)
{
    const SizeCase& c = GetParam();
    Bytes memory(256, kGuard);
    Bytes payload = A + Bytes{0x83} + Le16(65535);
    EXPECT_EQ(DecodeRctPayload(payload.data(), payload.size(), memory.data(), c.width, c.height, c.stride),
              RCT_DECODE_BAD_SIZE);
    EXPECT_EQ(memory, Bytes(256, kGuard));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UnusableSizes,
    testing::Values(SizeCase{"ZeroWidth", 0, 4, 16}, SizeCase{"ZeroHeight", 4, 0, 12},
                    SizeCase{"StrideBelowRow", 5, 2, 12},
                    SizeCase{"ProductsOverflow32And64Bits", 0xFFFFFFFFu, 0xFFFFFFFFu, (size_t)0xFFFFFFFFu},
                    SizeCase{"WidthTimesThreeOverflows32Bits", 0x55555556u, 1, (size_t)0x4},
                    SizeCase{"StrideTimesHeightOverflows32Bits", 4, 0x40000000u, 16},
                    SizeCase{"OverTheCap", 4096, 0x10000000u / 12288 + 1, 12288}),
    [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST(RctDecoder, SupportedSizesAndStride)
{
    EXPECT_EQ(RctStride(256), 768u);
    EXPECT_EQ(RctStride(1), 4u);
    EXPECT_EQ(RctStride(2), 8u);
    EXPECT_EQ(RctStride(3), 12u);
    EXPECT_EQ(RctStride(5), 16u);
    EXPECT_EQ(RctStride(0xFFFFFFFFu), 0u);
    EXPECT_TRUE(RctSizeIsSupported(1, 1));
    EXPECT_TRUE(RctSizeIsSupported(1280, 720));
    EXPECT_FALSE(RctSizeIsSupported(0, 1));
    EXPECT_FALSE(RctSizeIsSupported(1, 0));
    EXPECT_FALSE(RctSizeIsSupported(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_FALSE(RctSizeIsSupported(0x40000000u, 1));
}

// The decoder as the format describes it: every back-reference byte by byte.
Bytes ReferenceDecode(const Bytes& payload, uint32_t width, uint32_t height)
{
    int64_t table[RCT_TABLE_ENTRIES];
    BuildBackReferenceTable(width, table);
    Bytes out(3u * width * height, 0);
    size_t read = 3, write = 3;
    std::memcpy(out.data(), payload.data(), 3);
    while (write < out.size()) {
        unsigned op = payload.at(read++);
        if (op < 0x80) {
            size_t count = op + 1;
            if (op == 0x7F) {
                count = payload.at(read) + 256 * payload.at(read + 1) + 128;
                read += 2;
            }
            for (size_t i = 0; i < 3 * count; ++i)
                out.at(write++) = payload.at(read++);
        } else {
            size_t count = (op & 3) + 1;
            if ((op & 3) == 3) {
                count = payload.at(read) + 256 * payload.at(read + 1) + 4;
                read += 2;
            }
            int64_t offset = table[(op >> 2) & 31];
            for (size_t i = 0; i < 3 * count; ++i, ++write)
                out.at(write) = out.at((size_t)((int64_t)write + offset));
        }
    }
    return out;
}

// Random streams of valid operations, which exercise every copy path (block, overlapping, short
// distance) against the byte-by-byte definition.
TEST(RctDecoder, RandomStreamsMatchByteByByteDecoding)
{
    std::mt19937 random(12345);
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 33u}) {
        const uint32_t height = 40;
        const uint32_t total = width * height;
        int64_t table[RCT_TABLE_ENTRIES];
        BuildBackReferenceTable(width, table);
        Bytes payload = Pixel(random());
        uint32_t written = 1;
        while (written < total) {
            const uint32_t left = total - written;
            std::vector<int> usable;
            for (int k = 0; k < RCT_TABLE_ENTRIES; ++k) {
                if (table[k] < 0 && -table[k] <= 3 * (int64_t)written)
                    usable.push_back(k);
            }
            if (!usable.empty() && random() % 3 != 0) {
                int k = usable[random() % usable.size()];
                uint32_t count = 1 + random() % std::min<uint32_t>(left, 80);
                if (count <= 3) {
                    payload.push_back((unsigned char)(0x80 | k << 2 | (count - 1)));
                } else {
                    payload.push_back((unsigned char)(0x80 | k << 2 | 3));
                    payload = payload + Le16(count - 4);
                }
                written += count;
            } else {
                uint32_t count = 1 + random() % std::min<uint32_t>(left, 127);
                payload.push_back((unsigned char)(count - 1));
                for (uint32_t i = 0; i < count; ++i)
                    payload = payload + Pixel(random() % 5);
                written += count;
            }
        }
        Decoded d = Decode(payload, width, height);
        ASSERT_EQ(d.result, RCT_DECODE_COMPLETE) << "width " << width;
        EXPECT_TRUE(d.packed == ReferenceDecode(payload, width, height)) << "width " << width;
        EXPECT_TRUE(d.guardIntact);
    }
}

TEST(RctHeader, MagicsAndFields)
{
    unsigned char bytes[RCT_HEADER_SIZE] = {0x98, 0x5A, 0x92, 0x9A, 'T', 'S', '0', '1', 0x00, 0x05, 0, 0,
                                            0xD0, 0x02, 0, 0, 0x78, 0x56, 0x34, 0x12};
    RctHeader header;
    ASSERT_TRUE(ParseRctHeader(bytes, &header));
    EXPECT_EQ(header.variant, RCT_TS01);
    EXPECT_EQ(header.width, 1280u);
    EXPECT_EQ(header.height, 720u);
    EXPECT_EQ(header.payloadSize, 0x12345678u);
    EXPECT_TRUE(RctVariantIsScrambled(RCT_TS01));
    EXPECT_TRUE(RctVariantHasName(RCT_TS01));
    EXPECT_FALSE(RctVariantIsScrambled(RCT_TC01));
    EXPECT_FALSE(RctVariantHasName(RCT_TS00));

    const char* wrong[] = {"TC02", "TS10", "tc00", "TX00"};
    for (const char* tail : wrong) {
        std::memcpy(bytes + 4, tail, 4);
        EXPECT_FALSE(ParseRctHeader(bytes, &header)) << tail;
        EXPECT_EQ(header.variant, RCT_UNKNOWN);
    }
    std::memcpy(bytes + 4, "TC00", 4);
    bytes[0] = 0x99;
    EXPECT_FALSE(ParseRctHeader(bytes, &header));
}

TEST(RctHeader, TrailerAndDescrambling)
{
    EXPECT_TRUE(HasTsTrailer((const unsigned char*)"xxTS", 4));
    EXPECT_TRUE(HasTsTrailer((const unsigned char*)"TS", 2));
    EXPECT_FALSE(HasTsTrailer((const unsigned char*)"S", 1));
    EXPECT_FALSE(HasTsTrailer((const unsigned char*)"", 0));
    EXPECT_FALSE(HasTsTrailer((const unsigned char*)"xxST", 4));
    EXPECT_FALSE(HasTsTrailer((const unsigned char*)"xxTs", 4));

    // The key is all zero: whole blocks and the remainder keep their bytes.
    Bytes payload(2048 + 77);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = (unsigned char)(i * 31 + 7);
    Bytes copy = payload;
    DescrambleRctPayload(payload.data(), payload.size());
    EXPECT_EQ(payload, copy);
}

}  // namespace
