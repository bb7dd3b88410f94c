#include "screen.h"

std::vector<COLORREF> CaptureClientPixels(HWND window)
{
    RECT area;
    GetClientRect(window, &area);
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, area.right, area.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, area.right, area.bottom, screen, 0, 0, SRCCOPY);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < area.bottom; ++y)
        for (int x = 0; x < area.right; ++x)
            pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return pixels;
}
