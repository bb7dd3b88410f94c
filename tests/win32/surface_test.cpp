// Surfaces against Wine's real GDI: layout of the DIB section, its header, and what it draws.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "ui/surface.h"

namespace {

struct StrideCase {
    int width;
    int stride;
};

class SurfaceStride : public testing::TestWithParam<StrideCase> {};

TEST_P(SurfaceStride, RowsAreRoundedUpToFourBytes)
{
    const StrideCase& c = GetParam();
    Surface* surface = CreateSurface(c.width, 3);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->width, c.width);
    EXPECT_EQ(surface->height, 3);
    EXPECT_EQ(surface->stride, c.stride);
    // The section itself must agree, or the decoder's rows would not be the rows drawn.
    DIBSECTION section;
    ASSERT_EQ(GetObjectA(surface->bitmap, sizeof section, &section), (int)sizeof section);
    EXPECT_EQ(section.dsBm.bmWidthBytes, c.stride);
    EXPECT_EQ(section.dsBm.bmBits, surface->pixels);
    FreeSurface(surface);
}

INSTANTIATE_TEST_SUITE_P(Widths, SurfaceStride,
                         testing::Values(StrideCase{256, 768}, StrideCase{1, 4}, StrideCase{2, 8}, StrideCase{3, 12},
                                         StrideCase{5, 16}, StrideCase{4, 12}, StrideCase{1280, 3840}));

TEST(CreateSurface, HeaderDescribesATopDown24BitPicture)
{
    Surface* surface = CreateSurface(7, 4);
    ASSERT_NE(surface, nullptr);
    const BITMAPINFOHEADER* h = surface->header;
    EXPECT_EQ(h->biSize, 40u);
    EXPECT_EQ(h->biWidth, 7);
    EXPECT_EQ(h->biHeight, -4);
    EXPECT_EQ(h->biPlanes, 1);
    EXPECT_EQ(h->biBitCount, 24);
    EXPECT_EQ(h->biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(h->biSizeImage, 0u);
    EXPECT_EQ(h->biXPelsPerMeter, 0);
    EXPECT_EQ(h->biClrUsed, 0u);
    FreeSurface(surface);
}

// Draws the surface into a white 24-bit memory bitmap, as the main window does, and reads back
// the colour at (x, y).
COLORREF DrawAndRead(const Surface* surface, int x, int y)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, surface->width, surface->height);
    HGDIOBJ old = SelectObject(memory, target);
    RECT all = {0, 0, surface->width, surface->height};
    FillRect(memory, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    StretchDIBits(memory, 0, 0, surface->width, surface->height, 0, 0, surface->width, surface->height,
                  surface->pixels, (const BITMAPINFO*)surface->header, DIB_RGB_COLORS, SRCCOPY);
    COLORREF colour = GetPixel(memory, x, y);
    SelectObject(memory, old);
    DeleteObject(target);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return colour;
}

TEST(CreateSurface, NewSurfaceIsBlackAndRowOneStartsAtStride)
{
    Surface* surface = CreateSurface(2, 2);
    ASSERT_NE(surface, nullptr);
    const unsigned char* bytes = (const unsigned char*)surface->pixels;
    std::vector<unsigned char> zero(surface->stride * 2, 0);
    EXPECT_EQ(memcmp(bytes, zero.data(), zero.size()), 0);
    EXPECT_EQ(DrawAndRead(surface, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(DrawAndRead(surface, 1, 1), RGB(0, 0, 0));

    // Blue, green, red at row 1, column 0: the picture's lower left pixel (top-down).
    unsigned char* row1 = (unsigned char*)surface->pixels + surface->stride;
    row1[0] = 0x10, row1[1] = 0x20, row1[2] = 0x30;
    EXPECT_EQ(DrawAndRead(surface, 0, 1), RGB(0x30, 0x20, 0x10));
    EXPECT_EQ(DrawAndRead(surface, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(DrawAndRead(surface, 1, 1), RGB(0, 0, 0));
    FreeSurface(surface);
}

TEST(CreateSurface, SizesThatCannotBeHadGiveNone)
{
    const int sizes[][2] = {{0, 1}, {1, 0}, {-1, 5}, {5, -1}, {0x7FFFFFFF, 1}, {65536, 65536}};
    for (const auto& size : sizes) {
        Surface* surface = CreateSurface(size[0], size[1]);
        EXPECT_EQ(surface, nullptr) << size[0] << " x " << size[1];
        FreeSurface(surface);
    }
}

TEST(FreeSurface, NoneIsIgnored)
{
    FreeSurface(nullptr);
    // A surface freed after another one keeps working: the first free touched only its own.
    Surface* a = CreateSurface(3, 3);
    Surface* b = CreateSurface(3, 3);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    FreeSurface(a);
    DIBSECTION section;
    EXPECT_EQ(GetObjectA(b->bitmap, sizeof section, &section), (int)sizeof section);
    FreeSurface(b);
}

}  // namespace
