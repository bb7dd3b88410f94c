// Surfaces: 24-bit top-down DIB sections that the title image is decoded into and drawn
// from.
#include "ui/surface.h"

#include <stdlib.h>
#include <string.h>

#include "image/rct_decoder.h"
#include "base/notices.h"

Surface* CreateSurface(int width, int height)
{
    if (width <= 0 || height <= 0 || !RctSizeIsSupported((uint32_t)width, (uint32_t)height))
        return NULL;

    Surface* surface = (Surface*)CheckedAlloc(sizeof(Surface));
    memset(surface, 0, sizeof(Surface));
    surface->width = width;
    surface->height = height;
    surface->stride = (3 * width + 3) / 4 * 4;

    BITMAPINFOHEADER* header = (BITMAPINFOHEADER*)CheckedAlloc(sizeof(BITMAPINFOHEADER));
    memset(header, 0, sizeof(BITMAPINFOHEADER));
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = -height;  // negative: row 0 is the top row
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;
    surface->header = header;

    HDC context = CreateCompatibleDC(NULL);
    surface->bitmap = CreateDIBSection(context, (BITMAPINFO*)header, DIB_RGB_COLORS, &surface->pixels, NULL, 0);
    if (context != NULL)
        DeleteDC(context);
    // Callers need pixel memory of the full size; without it there is no surface to hand out.
    if (surface->bitmap == NULL || surface->pixels == NULL) {
        FreeSurface(surface);
        return NULL;
    }
    return surface;
}

void FreeSurface(Surface* surface)
{
    if (surface == NULL)
        return;
    if (surface->bitmap != NULL)
        DeleteObject(surface->bitmap);
    free(surface->header);
    free(surface);
}
