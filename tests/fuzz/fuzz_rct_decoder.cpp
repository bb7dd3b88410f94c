// Feeds arbitrary pixel streams to the RCT decoder. The first three bytes choose the picture's
// width, height and row padding; the rest is the payload. The pixel memory is sized exactly, so
// AddressSanitizer reports any write outside it. The whole input is also read as an RCT file by
// the layout reader the loader uses: a payload it accepts lies wholly inside the file.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "image/rct_decoder.h"
#include "image/rct_layout.h"

static void ReadAsRctFile(const uint8_t* data, size_t size)
{
    MemoryStream memory{data, size, 0};
    ByteStream stream = MemoryByteStream(&memory);
    RctLayout layout;
    if (ReadRctLayout(&stream, &layout) != RCT_LAYOUT_OK)
        return;
    if (memory.position != (size_t)layout.payloadOffset || layout.payloadOffset + layout.header.payloadSize > (int64_t)size ||
        !RctSizeIsSupported(layout.header.width, layout.header.height))
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ReadAsRctFile(data, size);
    if (size < 3)
        return 0;
    const uint32_t width = data[0] % 72;  // 0 included, and widths 1 to 3 come often
    const uint32_t height = data[1] % 48;
    const size_t stride = (size_t)width * 3 + (data[2] % 8);
    const size_t bytes = stride * height;
    unsigned char* pixels = (unsigned char*)malloc(bytes ? bytes : 1);
    // An exact copy of the payload, so a read past its end is caught as well.
    const size_t payloadSize = size - 3;
    unsigned char* payload = (unsigned char*)malloc(payloadSize ? payloadSize : 1);
    memcpy(payload, data + 3, payloadSize);
    int result = DecodeRctPayload(payload, payloadSize, pixels, width, height, stride);
    if (width == 0 || height == 0 || stride < 3 * (size_t)width) {
        if (result != RCT_DECODE_BAD_SIZE)
            abort();
    } else if (result == RCT_DECODE_BAD_SIZE) {
        abort();
    }
    if (payloadSize >= RCT_HEADER_SIZE) {
        RctHeader header;
        ParseRctHeader(payload, &header);
    }
    free(payload);
    free(pixels);
    return 0;
}
