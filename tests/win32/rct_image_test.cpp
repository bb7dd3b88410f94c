// LoadRctImage against real files: every variant, the trailer, the name field, refused and
// damaged files, and the data-file opener's notice when the picture is missing.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "child.h"
#include "driver.h"
#include "image/rct_decoder.h"
#include "image/rct_encoder.h"
#include "ui/rct_image.h"
#include "scratch.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes TestPicture(uint32_t width, uint32_t height)
{
    Bytes pixels(3u * width * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            unsigned char* p = &pixels[3 * (y * width + x)];
            p[0] = (unsigned char)(x * 40), p[1] = (unsigned char)(y * 50), p[2] = (unsigned char)((x / 2 + y) % 3 * 100);
        }
    return pixels;
}

std::string RctFile(int variant, const std::string& name, uint32_t width, uint32_t height, const Bytes& payload)
{
    Bytes file;
    std::string error;
    EXPECT_TRUE(BuildRctFile(variant, name, width, height, payload, file, error)) << error;
    return std::string(file.begin(), file.end());
}

// The surface's rows without padding; checks the surface's size first.
Bytes PackedRows(const Surface* surface, uint32_t width, uint32_t height)
{
    EXPECT_EQ(surface->width, (int)width);
    EXPECT_EQ(surface->height, (int)height);
    Bytes packed;
    const unsigned char* bytes = (const unsigned char*)surface->pixels;
    for (uint32_t r = 0; r < height; ++r)
        packed.insert(packed.end(), bytes + r * surface->stride, bytes + r * surface->stride + 3 * width);
    return packed;
}

// True when nothing holds the file open any more.
bool FileIsClosed(const std::string& path)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

struct VariantCase {
    int variant;
    size_t nameLength;
};

class EveryVariant : public testing::TestWithParam<VariantCase> {};

TEST_P(EveryVariant, DecodesLikeTheUnscrambledNamelessFile)
{
    const VariantCase& c = GetParam();
    const uint32_t width = 5, height = 4;  // stride 16: rows must be spread
    const Bytes picture = TestPicture(width, height);
    ScratchFolder folder("rct");
    const std::string path = folder / "insttscr.rct";
    WriteFileBytes(path, RctFile(c.variant, std::string(c.nameLength, 'n'), width, height,
                                 EncodeRctPayload(picture.data(), width, height)));
    Surface* surface = LoadRctImage(path.c_str());
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->stride, 16);
    EXPECT_TRUE(PackedRows(surface, width, height) == picture);
    FreeSurface(surface);
    EXPECT_TRUE(FileIsClosed(path));
}

INSTANTIATE_TEST_SUITE_P(Variants, EveryVariant,
                         testing::Values(VariantCase{RCT_TC00, 0}, VariantCase{RCT_TS00, 0}, VariantCase{RCT_TC01, 0},
                                         VariantCase{RCT_TC01, 65535}, VariantCase{RCT_TS01, 0},
                                         VariantCase{RCT_TS01, 300}),
                         [](const testing::TestParamInfo<VariantCase>& info) {
                             return std::string(RctVariantName(info.param.variant)) + "Name" +
                                    std::to_string(info.param.nameLength);
                         });

TEST(LoadRctImage, OnePixelFromAThreeBytePayload)
{
    ScratchFolder folder("rct");
    WriteFileBytes(folder / "a.rct", RctFile(RCT_TC00, "", 1, 1, {0x11, 0x22, 0x33}));
    Surface* surface = LoadRctImage((folder / "a.rct").c_str());
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(PackedRows(surface, 1, 1) == Bytes({0x11, 0x22, 0x33}));
    FreeSurface(surface);
}

// The relative name is opened in the current folder, as the main window asks for it.
TEST(LoadRctImage, RelativeNameFromTheCurrentFolder)
{
    ScratchFolder folder("rct");
    WriteFileBytes(folder / "insttscr.rct", RctFile(RCT_TC00, "", 2, 1, {1, 2, 3, 0x80}));
    const std::string saved = CurrentFolder();
    SetCurrentDirectoryA(folder.Path().c_str());
    Surface* surface = LoadRctImage("insttscr.rct");
    SetCurrentDirectoryA(saved.c_str());
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(PackedRows(surface, 2, 1) == Bytes({1, 2, 3, 1, 2, 3}));
    FreeSurface(surface);
}

TEST(LoadRctImage, ScrambledPayloadWithoutTrailerGivesABlackSurface)
{
    const uint32_t width = 6, height = 3;
    const Bytes picture = TestPicture(width, height);
    std::string file = RctFile(RCT_TS00, "", width, height, EncodeRctPayload(picture.data(), width, height));
    file[file.size() - 1] = 'X';  // "TX" instead of "TS"
    ScratchFolder folder("rct");
    WriteFileBytes(folder / "a.rct", file);
    Surface* surface = LoadRctImage((folder / "a.rct").c_str());
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(PackedRows(surface, width, height) == Bytes(3 * width * height, 0));
    FreeSurface(surface);
}

struct RefusedCase {
    std::string name;
    std::string file;
};

std::string Header(const char* variant, uint32_t width, uint32_t height, uint32_t payloadSize)
{
    std::string out = "\x98\x5A\x92\x9A";
    out += variant;
    for (uint32_t v : {width, height, payloadSize})
        for (int s = 0; s < 32; s += 8)
            out += (char)(v >> s);
    return out;
}

class RefusedFiles : public testing::TestWithParam<RefusedCase> {};

// None of these may loop for ever or raise a notice: the file opens every time.
TEST_P(RefusedFiles, GiveNoSurfaceAndAreClosed)
{
    ScratchFolder folder("rct");
    const std::string path = folder / "insttscr.rct";
    WriteFileBytes(path, GetParam().file);
    EXPECT_EQ(LoadRctImage(path.c_str()), nullptr);
    EXPECT_TRUE(FileIsClosed(path));
    EXPECT_EQ(driver::FindWindowOf(0, driver::kDialogClass, nullptr), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFiles,
    testing::Values(RefusedCase{"WrongDigits", Header("TC02", 1, 1, 3) + "abc"},
                    RefusedCase{"WrongLetters", Header("XX00", 1, 1, 3) + "abc"},
                    RefusedCase{"PayloadSizeZero", Header("TC00", 1, 1, 0)},
                    RefusedCase{"EmptyFile", ""},
                    RefusedCase{"HeaderCut", Header("TC00", 1, 1, 3).substr(0, 19)},
                    RefusedCase{"PayloadCut", Header("TC00", 2, 1, 6) + "abc\x80"},
                    RefusedCase{"PayloadSizeFarBeyondTheFile", Header("TC00", 2, 1, 0xFFFFFFF0u) + "abc\x80"},
                    RefusedCase{"NameLengthCut", Header("TC01", 1, 1, 3) + "\x05"},
                    RefusedCase{"NameCut", Header("TC01", 1, 1, 3) + std::string("\x05\x00" "ab", 4)},
                    RefusedCase{"ZeroWidth", Header("TC00", 0, 1, 3) + "abc"},
                    RefusedCase{"HugeSize", Header("TC00", 0xFFFFFFFFu, 0xFFFFFFFFu, 3) + "abc"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST(LoadRctImage, DamagedStreamShowsWhatDecodedAndTheRestBlack)
{
    // 3 x 2: the first row, then a reference past the picture's end.
    Bytes payload = {1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9, 0x83, 0xFF, 0xFF};
    ScratchFolder folder("rct");
    WriteFileBytes(folder / "a.rct", RctFile(RCT_TC00, "", 3, 2, payload));
    Surface* surface = LoadRctImage((folder / "a.rct").c_str());
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(PackedRows(surface, 3, 2) == Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    FreeSurface(surface);
}

TEST_CHILD(LoadMissingImage)
{
    Surface* surface = LoadRctImage("insttscr.rct");
    return surface != nullptr ? 3 : 4;
}

TEST(LoadRctImage, MissingFileOffersRetryAndCancelEnds)
{
    ScratchFolder folder("rct");
    driver::Process child = StartChild("LoadMissingImage", {}, folder.Path());
    driver::Box seen = driver::AnswerBox(child.Id(), IDCANCEL);
    EXPECT_EQ(seen.text, "Ffopen : ファイル[insttscr.rct]の読み込みで失敗しました");
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
}

TEST(LoadRctImage, MissingFilePutBackLoadsAfterRetry)
{
    ScratchFolder folder("rct");
    driver::Process child = StartChild("LoadMissingImage", {}, folder.Path());
    HWND box = driver::WaitForWindow(child.Id(), driver::kDialogClass, nullptr);
    WriteFileBytes(folder / "insttscr.rct", RctFile(RCT_TC00, "", 1, 1, {1, 2, 3}));
    driver::Press(box, IDRETRY);
    EXPECT_EQ(child.WaitForExit(), 3u);
}

}  // namespace
