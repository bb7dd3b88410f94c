// A top-down 24-bit DIB section with its header: decoded into directly, drawn directly.
#ifndef UPDATER_IMAGE_SURFACE_H
#define UPDATER_IMAGE_SURFACE_H

#include <windows.h>

struct Surface {
    int width;
    int height;
    int stride;  // (3 * width + 3) / 4 * 4
    BITMAPINFOHEADER* header;
    void* pixels;
    HBITMAP bitmap;
};

Surface* CreateSurface(int width, int height);
void FreeSurface(Surface* surface);

// Decodes an RCT file into a new Surface; NULL when it is no RCT image.
Surface* LoadRctImage(const char* name);

#endif
