// The rct command and its picture I/O: BMP and PNG readers against known pixels, encode/decode
// through the command, the conversion that build uses, and refusals with their exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "files.h"
#include "image/rct_decoder.h"
#include "image/rct_encoder.h"
#include "host/image_file.h"
#include "mkupdate_program.h"
#include "program.h"
#include "host/rct_convert.h"
#include "cli/text_util.h"

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kFixtures = std::string(TEST_SOURCE_DIR) + "/tools/fixtures/rct/";

// The 3 x 2 picture of the PNG fixtures, blue-green-red, top row first.
const Bytes kFixturePixels = {0,  0,   255, 0,  255, 0,   255, 0,   0,
                              30, 20,  10,  50, 100, 200, 255, 255, 255};

using kit::TempFolder;

void Le16(std::string& b, uint32_t v)
{
    b += (char)(v & 0xFF);
    b += (char)(v >> 8 & 0xFF);
}

void Le32(std::string& b, uint32_t v)
{
    Le16(b, v & 0xFFFF);
    Le16(b, v >> 16);
}

// A BMP with a 40-byte header; `rows` are stored as given (already padded, in file order).
std::string Bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const std::string& extra,
                const std::string& rows)
{
    std::string b = "BM";
    Le32(b, (uint32_t)(54 + extra.size() + rows.size()));
    Le32(b, 0);
    Le32(b, (uint32_t)(54 + extra.size()));
    Le32(b, 40);
    Le32(b, (uint32_t)width);
    Le32(b, (uint32_t)height);
    Le16(b, 1);
    Le16(b, bits);
    Le32(b, compression);
    for (int i = 0; i < 3; ++i)
        Le32(b, 0);
    Le32(b, bits <= 8 ? (uint32_t)extra.size() / 4 : 0);  // colours used: the palette given
    Le32(b, 0);
    return b + extra + rows;
}

std::string S(std::initializer_list<int> bytes)
{
    std::string s;
    for (int v : bytes)
        s += (char)v;
    return s;
}

struct BmpCase {
    std::string name;
    std::string file;
    uint32_t width, height;
    Bytes pixels;
};

class BmpReading : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpReading, GivesTopDownBgrPixels)
{
    const BmpCase& c = GetParam();
    RgbImage image;
    std::string error;
    ASSERT_TRUE(ParseBmp(c.file, image, error)) << error;
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    EXPECT_EQ(image.bgr, c.pixels);
}

// Two rows of two pixels: top A B, bottom C D.
const std::string A = S({1, 2, 3}), B = S({4, 5, 6}), C = S({7, 8, 9}), D = S({10, 11, 12});
const Bytes kABCD = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

INSTANTIATE_TEST_SUITE_P(
    Kinds, BmpReading,
    testing::Values(
        // Bottom-up: the last row in the file is the top row; rows padded to 4 bytes.
        BmpCase{"Bits24BottomUp", Bmp(2, 2, 24, 0, "", C + D + S({0, 0}) + A + B + S({0, 0})), 2, 2, kABCD},
        BmpCase{"Bits24TopDown", Bmp(2, -2, 24, 0, "", A + B + S({0, 0}) + C + D + S({0, 0})), 2, 2, kABCD},
        BmpCase{"Bits24Width5Padding", Bmp(5, 1, 24, 0, "", A + B + C + D + A + S({0})), 5, 1,
                {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2, 3}},
        BmpCase{"Bits32Plain", Bmp(2, 1, 32, 0, "", A + S({0xFF}) + B + S({0})), 2, 1, {1, 2, 3, 4, 5, 6}},
        // Bitfields with red in the low byte: bytes R G B X.
        BmpCase{"Bits32Bitfields", Bmp(1, 1, 32, 3, S({0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0}), S({30, 20, 10, 0})),
                1, 1, {10, 20, 30}},
        BmpCase{"Bits8Palette", Bmp(3, 1, 8, 0, A + S({0}) + B + S({0}) + C + S({0}), S({2, 0, 1, 0})), 3, 1,
                {7, 8, 9, 1, 2, 3, 4, 5, 6}},
        BmpCase{"Bits4Palette", Bmp(3, 1, 4, 0, A + S({0}) + B + S({0}) + C + S({0}), S({0x21, 0x00, 0, 0})), 3, 1,
                {7, 8, 9, 4, 5, 6, 1, 2, 3}},
        BmpCase{"Bits1Palette", Bmp(9, 1, 1, 0, A + S({0}) + B + S({0}), S({0xA0, 0x80, 0, 0})), 9, 1,
                {4, 5, 6, 1, 2, 3, 4, 5, 6, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6}}),
    [](const testing::TestParamInfo<BmpCase>& info) { return info.param.name; });

TEST(BmpReading, RefusesWhatItCannotRead)
{
    const std::pair<std::string, std::string> cases[] = {
        {"not a BMP", "PK" + std::string(60, '\0')},
        {"compressed", Bmp(2, 1, 8, 1, std::string(1024, '\0'), S({0, 0, 0, 0}))},
        {"16-bit", Bmp(2, 1, 16, 0, "", S({0, 0, 0, 0}))},
        {"cut short", Bmp(2, 2, 24, 0, "", A + B + S({0, 0}))},
        {"palette", Bmp(2, 1, 8, 0, "", "")},
        {"not supported", Bmp(0, 1, 24, 0, "", "")},
        {"not supported", Bmp(100000, 100000, 24, 0, "", "")},
        {"damaged", std::string("BM") + std::string(24, '\0')},
    };
    for (const auto& [expected, file] : cases) {
        RgbImage image;
        std::string error;
        EXPECT_FALSE(ParseBmp(file, image, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << expected << ": " << error;
    }
}

TEST(ImageFiles, PngFixturesGiveTheirPixels)
{
    struct Case {
        const char* file;
        uint32_t width, height;
        Bytes pixels;
    };
    const Case cases[] = {
        {"rgb8.png", 3, 2, kFixturePixels},
        {"rgb16.png", 3, 2, kFixturePixels},
        {"palette.png", 3, 2, kFixturePixels},
        {"gray.png", 2, 1, {0, 0, 0, 77, 77, 77}},
        // Transparent red becomes black; opaque green stays.
        {"alpha.png", 2, 1, {0, 0, 0, 0, 255, 0}},
    };
    for (const Case& c : cases) {
        RgbImage image;
        std::string error;
        ASSERT_TRUE(ReadImageFile(kFixtures + c.file, image, error)) << error;
        EXPECT_EQ(image.width, c.width) << c.file;
        EXPECT_EQ(image.height, c.height) << c.file;
        EXPECT_EQ(image.bgr, c.pixels) << c.file;
    }
}

TEST(ImageFiles, WrittenPicturesReadBackAndOtherNamesAreRefused)
{
    TempFolder temp;
    RgbImage image;
    image.width = 5;
    image.height = 3;
    for (int i = 0; i < 45; ++i)
        image.bgr.push_back((unsigned char)(i * 5));
    std::vector<std::string> names = {"a.bmp", "B.BMP", "c.png"};
    for (const std::string& name : names) {
        std::string error;
        ASSERT_TRUE(WriteImageFile(temp / name, image, error)) << error;
        RgbImage back;
        ASSERT_TRUE(ReadImageFile(temp / name, back, error)) << error;
        EXPECT_EQ(back.width, 5u) << name;
        EXPECT_EQ(back.height, 3u) << name;
        EXPECT_EQ(back.bgr, image.bgr) << name;
    }
    std::string error;
    EXPECT_FALSE(WriteImageFile(temp / "a.jpg", image, error));
    EXPECT_NE(error.find(".png or .bmp"), std::string::npos) << error;
    RgbImage none;
    EXPECT_FALSE(ReadImageFile(temp / "missing.bmp", none, error));
    EXPECT_NE(error.find("missing.bmp"), std::string::npos) << error;
}

// A picture with flat areas, edges and noise, written as BMP so every build can read it.
RgbImage TitleLikePicture(uint32_t width, uint32_t height)
{
    RgbImage image;
    image.width = width;
    image.height = height;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const bool inBox = x > width / 4 && x < width / 2 && y > height / 3;
            image.bgr.push_back((unsigned char)(inBox ? 200 : x * 3));
            image.bgr.push_back((unsigned char)(inBox ? 10 : y * 5));
            image.bgr.push_back((unsigned char)(((x * 7 + y * 13) % 11 == 0) ? 255 : 40));
        }
    return image;
}

TEST(RctCommand, EncodeThenDecodeGivesThePictureForEveryVariant)
{
    TempFolder temp;
    const RgbImage picture = TitleLikePicture(37, 21);
    std::string error;
    ASSERT_TRUE(WriteImageFile(temp / "title.bmp", picture, error)) << error;
    const char* variants[] = {"TC00", "TS00", "TC01", "TS01"};
    for (const char* variant : variants) {
        SCOPED_TRACE(variant);
        Args encode = {"encode", temp / "title.bmp", temp / "out.rct", "--variant", variant};
        if (RctVariantHasName(RctVariantFromName(variant)))
            encode.insert(encode.end(), {"--name", "タイトル"});
        ASSERT_EQ(RunRct(encode), kExitOk);
        std::string rct;
        ASSERT_TRUE(ReadWholeFile(temp / "out.rct", rct));
        EXPECT_EQ(rct.substr(4, 4), variant);

        ASSERT_EQ(RunRct({"decode", temp / "out.rct", temp / "back.bmp"}), kExitOk);
        RgbImage back;
        ASSERT_TRUE(ReadImageFile(temp / "back.bmp", back, error)) << error;
        EXPECT_EQ(back.width, picture.width);
        EXPECT_EQ(back.height, picture.height);
        EXPECT_TRUE(back.bgr == picture.bgr);

        RgbImage decoded;
        RctFileInfo info;
        ASSERT_TRUE(DecodeRctFile(rct, decoded, info, error)) << error;
        EXPECT_EQ(info.name, RctVariantHasName(info.variant) ? "タイトル" : "");
    }
}

TEST(RctCommand, PngInAndOut)
{
    TempFolder temp;
    ASSERT_EQ(RunRct({"encode", kFixtures + "rgb8.png", temp / "a.rct"}), kExitOk);
    ASSERT_EQ(RunRct({"decode", temp / "a.rct", temp / "a.png"}), kExitOk);
    RgbImage back;
    std::string error;
    ASSERT_TRUE(ReadImageFile(temp / "a.png", back, error)) << error;
    EXPECT_EQ(back.bgr, kFixturePixels);
}

TEST(RctCommand, ExitCodesForWrongUsageAndBadInput)
{
    TempFolder temp;
    RgbImage picture = TitleLikePicture(4, 4);
    std::string error;
    ASSERT_TRUE(WriteImageFile(temp / "p.bmp", picture, error));
    WriteWholeFile(temp / "junk.rct", "this is no picture at all");

    struct Case {
        Args args;
        int code;
    };
    const Case cases[] = {
        {{}, kExitUsage},
        {{"--help"}, kExitOk},
        {{"encode", "--help"}, kExitOk},
        {{"shrink", "a", "b"}, kExitUsage},
        {{"encode", temp / "p.bmp"}, kExitUsage},
        {{"encode", temp / "p.bmp", temp / "o.rct", "--variant", "TX00"}, kExitUsage},
        {{"encode", temp / "p.bmp", temp / "o.rct", "--variant"}, kExitUsage},
        {{"encode", temp / "p.bmp", temp / "o.rct", "--name", "x"}, kExitUsage},  // TC00 has no name
        {{"encode", temp / "p.bmp", temp / "o.rct", "--bogus"}, kExitUsage},
        {{"encode", temp / "missing.bmp", temp / "o.rct"}, kExitInput},
        {{"encode", temp / "junk.rct", temp / "o.rct"}, kExitInput},
        {{"encode", temp / "p.bmp", temp / "o.rct", "--variant", "TC01", "--name", std::string(65536, 'n')},
         kExitInput},
        {{"decode", temp / "junk.rct", temp / "o.bmp"}, kExitInput},
        {{"decode", temp / "missing.rct", temp / "o.bmp"}, kExitInput},
        {{"decode", temp / "junk.rct"}, kExitUsage},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += (a.size() > 40 ? "<long>" : a) + " ";
        EXPECT_EQ(RunRct(c.args), c.code) << line;
    }
}

std::string RctBytes(int variant, uint32_t width, uint32_t height, const Bytes& payload)
{
    std::vector<unsigned char> file;
    std::string error;
    EXPECT_TRUE(BuildRctFile(variant, "", width, height, payload, file, error)) << error;
    return std::string(file.begin(), file.end());
}

TEST(DecodeRctFile, RefusesWhatTheUpdaterWouldNotShowAsStored)
{
    std::string noTrailer = RctBytes(RCT_TS00, 1, 1, {1, 2, 3});
    noTrailer.back() = 'X';
    std::string cut = RctBytes(RCT_TC00, 2, 1, {1, 2, 3, 0x80});
    cut.pop_back();
    std::string zero = RctBytes(RCT_TC00, 1, 1, {1, 2, 3});
    zero[16] = 0;
    zero.resize(20);
    const std::pair<std::string, std::string> cases[] = {
        {"header", "short"},
        {"unknown magic", std::string("\x98\x5A\x92\x9ATC09") + std::string(12, '\0') + "abc"},
        {"\"TS\" trailer", noTrailer},
        {"shorter than its header says", cut},
        {"payload size is 0", zero},
        {"damaged", RctBytes(RCT_TC00, 2, 2, {1, 2, 3, 0x81})},
        {"name field", RctBytes(RCT_TC01, 1, 1, {1, 2, 3}).substr(0, 21)},
    };
    for (const auto& [expected, bytes] : cases) {
        RgbImage image;
        RctFileInfo info;
        std::string error;
        EXPECT_FALSE(DecodeRctFile(bytes, image, info, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << expected << ": " << error;
    }
}

TEST(EncodeImageFileToRct, GivesAPlainRctOfThePicture)
{
    TempFolder temp;
    const RgbImage picture = TitleLikePicture(64, 40);
    std::string error;
    ASSERT_TRUE(WriteImageFile(temp / "insttscr.bmp", picture, error));
    std::string rct;
    ASSERT_TRUE(EncodeImageFileToRct(temp / "insttscr.bmp", rct, error)) << error;
    RgbImage decoded;
    RctFileInfo info;
    ASSERT_TRUE(DecodeRctFile(rct, decoded, info, error)) << error;
    EXPECT_EQ(info.variant, RCT_TC00);
    EXPECT_TRUE(decoded.bgr == picture.bgr);
    EXPECT_LT(rct.size(), picture.bgr.size());  // the flat box is referenced, not repeated

    EXPECT_FALSE(EncodeImageFileToRct(temp / "none.png", rct, error));
    EXPECT_NE(error.find("none.png"), std::string::npos) << error;
}

// Through the real executable: main dispatches to the command and passes its exit code on.
TEST(RctCommand, ExecutableDispatches)
{
    EXPECT_EQ(kit::RunProgram(MkupdateProgram(), "rct --help").code, 0);
    EXPECT_EQ(kit::RunProgram(MkupdateProgram(), "rct decode /nonexistent x.bmp").code, kExitInput);
}

}  // namespace
