// Reads insttscr.rct through the data-file opener and decodes it straight into the pixel
// memory of a new Surface (ui/rct_image.h).
#include "ui/rct_image.h"

#include <stdio.h>
#include <stdlib.h>

#include "image/rct_decoder.h"
#include "image/rct_layout.h"
#include "base/data_file.h"
#include "base/notices.h"

// The first read and three restarts: a file that another process is still writing gets a few
// chances, one that stays short cannot keep the loader going for ever.
#define RCT_LOAD_ATTEMPTS 4

enum ReadOutcome { READ_DONE, READ_SHORT, READ_REFUSED };

// Steps 2 to 5 of one attempt: header, name field, payload. The caller closes the stream.
static int ReadRctFile(FILE* file, RctHeader* header, unsigned char** payload)
{
    ByteStream stream = FileByteStream(file);
    RctLayout layout;
    int result = ReadRctLayout(&stream, &layout);
    if (result != RCT_LAYOUT_OK)
        return RctLayoutIsCut(result) ? READ_SHORT : READ_REFUSED;
    *header = layout.header;
    *payload = (unsigned char*)CheckedAlloc(header->payloadSize);
    if (!ReadExactly(&stream, *payload, header->payloadSize)) {
        free(*payload);
        *payload = NULL;
        return READ_SHORT;
    }
    return READ_DONE;
}

// Steps 7 to 13: descramble and check the trailer, then decode into a new surface.
static Surface* DecodeRctImage(const RctHeader* header, unsigned char* payload)
{
    if (RctVariantIsScrambled(header->variant)) {
        DescrambleRctPayload(payload, header->payloadSize);
        if (!HasTsTrailer(payload, header->payloadSize))
            return CreateSurface((int)header->width, (int)header->height);
    }
    Surface* surface = CreateSurface((int)header->width, (int)header->height);
    if (surface != NULL)
        DecodeRctPayload(payload, header->payloadSize, (unsigned char*)surface->pixels, header->width,
                         header->height, (size_t)surface->stride);
    return surface;
}

Surface* LoadRctImage(const char* name)
{
    for (int attempt = 0; attempt < RCT_LOAD_ATTEMPTS; ++attempt) {
        FILE* file = OpenDataFile(name, "rb");
        RctHeader header;
        unsigned char* payload = NULL;
        int outcome = ReadRctFile(file, &header, &payload);
        fclose(file);
        if (outcome == READ_REFUSED)
            return NULL;
        if (outcome == READ_SHORT)
            continue;
        Surface* surface = DecodeRctImage(&header, payload);
        free(payload);
        return surface;
    }
    return NULL;
}
