// A top-down 24-bit DIB section with its header: decoded into directly, drawn directly.
#ifndef UPDATER_UI_SURFACE_H
#define UPDATER_UI_SURFACE_H

#include <windows.h>

struct Surface {
    int width;
    int height;
    int stride;  // (3 * width + 3) / 4 * 4
    BITMAPINFOHEADER* header;
    void* pixels;
    HBITMAP bitmap;
};

// A black surface of that size; NULL for a non-positive size, one whose pixel memory would pass
// RCT_MAX_PIXEL_BYTES, or when the platform hands out no bitmap section.
Surface* CreateSurface(int width, int height);
// Nothing happens for NULL.
void FreeSurface(Surface* surface);

#endif
