// The RCT header checks and the pixel-stream decoder (image/rct_decoder.h).
#include "image/rct_decoder.h"

#include <string.h>

const unsigned char kRctMagics[4][RCT_MAGIC_SIZE] = {
    {0x98, 0x5A, 0x92, 0x9A, 'T', 'C', '0', '0'},
    {0x98, 0x5A, 0x92, 0x9A, 'T', 'S', '0', '0'},
    {0x98, 0x5A, 0x92, 0x9A, 'T', 'C', '0', '1'},
    {0x98, 0x5A, 0x92, 0x9A, 'T', 'S', '0', '1'},
};

// This system never sets a key, so descrambling leaves every byte as stored.
static const unsigned char kImageKeyTable[RCT_IMAGE_KEY_SIZE] = {0};

static uint32_t ReadLe32(const unsigned char* bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

static size_t ReadLe16(const unsigned char* bytes)
{
    return (size_t)bytes[0] | (size_t)bytes[1] << 8;
}

bool ParseRctHeader(const unsigned char* bytes, RctHeader* header)
{
    header->variant = RCT_UNKNOWN;
    header->width = ReadLe32(bytes + 8);
    header->height = ReadLe32(bytes + 12);
    header->payloadSize = ReadLe32(bytes + 16);
    for (int variant = 0; variant < 4; ++variant) {
        if (memcmp(bytes, kRctMagics[variant], RCT_MAGIC_SIZE) == 0) {
            header->variant = variant;
            return true;
        }
    }
    return false;
}

bool RctVariantIsScrambled(int variant)
{
    return variant == RCT_TS00 || variant == RCT_TS01;
}

bool RctVariantHasName(int variant)
{
    return variant == RCT_TC01 || variant == RCT_TS01;
}

uint32_t RctStride(uint32_t width)
{
    uint64_t stride = ((uint64_t)width * 3 + 3) / 4 * 4;
    return stride > 0xFFFFFFFFu ? 0 : (uint32_t)stride;
}

bool RctSizeIsSupported(uint32_t width, uint32_t height)
{
    if (width == 0 || height == 0)
        return false;
    uint64_t stride = RctStride(width);
    return stride != 0 && stride * height <= RCT_MAX_PIXEL_BYTES;
}

void BuildBackReferenceTable(uint32_t width, int64_t table[RCT_TABLE_ENTRIES])
{
    const int64_t w = width;
    for (int k = 0; k < RCT_TABLE_ENTRIES; ++k) {
        if (k <= 5)
            table[k] = -3 * (k + 1);
        else if (k <= 12)
            table[k] = 3 * (9 - k) - 3 * w;
        else if (k <= 19)
            table[k] = 3 * (16 - k) - 6 * w;
        else if (k <= 26)
            table[k] = 3 * (23 - k) - 9 * w;
        else
            table[k] = 3 * (29 - k) - 12 * w;
    }
}

void DescrambleRctPayload(unsigned char* payload, size_t size)
{
    size_t whole = size / RCT_IMAGE_KEY_SIZE * RCT_IMAGE_KEY_SIZE;
    for (size_t block = 0; block < whole; block += RCT_IMAGE_KEY_SIZE) {
        for (size_t i = 0; i < RCT_IMAGE_KEY_SIZE; i += 4) {
            uint32_t word, key;
            memcpy(&word, payload + block + i, 4);
            memcpy(&key, kImageKeyTable + i, 4);
            word ^= key;
            memcpy(payload + block + i, &word, 4);
        }
    }
    for (size_t i = whole; i < size; ++i)
        payload[i] ^= kImageKeyTable[i - whole];
}

bool HasTsTrailer(const unsigned char* payload, size_t size)
{
    return size >= 2 && payload[size - 2] == 0x54 && payload[size - 1] == 0x53;
}

// Copies `bytes` bytes from `distance` bytes back. Where the source overlaps the bytes being
// written, the result must be what a byte-by-byte copy gives (a repeated pattern): copying in
// steps that never exceed the distance already covered gives exactly that with block copies.
static void CopyBackReference(unsigned char* out, size_t distance, size_t bytes)
{
    const unsigned char* source = out - distance;
    if (distance >= bytes) {
        memcpy(out, source, bytes);
        return;
    }
    if (distance < 4) {
        for (size_t i = 0; i < bytes; ++i)
            out[i] = source[i];
        return;
    }
    size_t done = 0;
    while (done < bytes) {
        size_t step = distance + done;  // bytes from source to here, a multiple of distance
        if (step > bytes - done)
            step = bytes - done;
        memcpy(out + done, source, step);
        done += step;
    }
}

// Moves packed rows to their strided places, last row first so no row is overwritten before it
// moved, and clears the padding so the picture's bytes do not depend on the stream's leftovers.
static void SpreadRows(unsigned char* pixels, size_t rowBytes, size_t height, size_t stride)
{
    if (stride == rowBytes)
        return;
    for (size_t r = height; r-- > 0;) {
        memmove(pixels + stride * r, pixels + rowBytes * r, rowBytes);
        memset(pixels + stride * r + rowBytes, 0, stride - rowBytes);
    }
}

int DecodeRctPayload(const unsigned char* payload, size_t payloadSize, unsigned char* pixels,
                     uint32_t width, uint32_t height, size_t stride)
{
    if (width == 0 || height == 0)
        return RCT_DECODE_BAD_SIZE;
    // Both factors capped first, so no product below can overflow in any build.
    const uint64_t rowBytes64 = (uint64_t)width * 3;
    if (stride < rowBytes64 || stride > RCT_MAX_PIXEL_BYTES || height > RCT_MAX_PIXEL_BYTES ||
        (uint64_t)stride * height > RCT_MAX_PIXEL_BYTES)
        return RCT_DECODE_BAD_SIZE;
    const size_t rowBytes = (size_t)rowBytes64;
    const size_t limit = rowBytes * height;

    int64_t table[RCT_TABLE_ENTRIES];
    BuildBackReferenceTable(width, table);

    int result = RCT_DECODE_COMPLETE;
    size_t read = 3;
    size_t write = 3;
    if (payloadSize < 3) {
        result = RCT_DECODE_MALFORMED;
        write = 0;
    } else {
        memcpy(pixels, payload, 3);
    }
    while (result == RCT_DECODE_COMPLETE && write < limit) {
        if (read >= payloadSize) {
            result = RCT_DECODE_MALFORMED;
            break;
        }
        const unsigned op = payload[read++];
        size_t count = 0;
        if (op == 0x7F || (op & 0x83) == 0x83) {
            if (payloadSize - read < 2) {
                result = RCT_DECODE_MALFORMED;
                break;
            }
            count = ReadLe16(payload + read) + (op == 0x7F ? 128 : 4);
            read += 2;
        } else {
            count = (op & 0x80) ? (op & 3) + 1 : op + 1;
        }
        const size_t bytes = count * 3;
        if (bytes > limit - write) {
            result = RCT_DECODE_MALFORMED;
            break;
        }
        if (op < 0x80) {
            if (bytes > payloadSize - read) {
                result = RCT_DECODE_MALFORMED;
                break;
            }
            memcpy(pixels + write, payload + read, bytes);
            read += bytes;
        } else {
            const int64_t offset = table[(op >> 2) & 0x1F];
            if (offset >= 0 || (uint64_t)-offset > write) {
                result = RCT_DECODE_MALFORMED;
                break;
            }
            CopyBackReference(pixels + write, (size_t)-offset, bytes);
        }
        write += bytes;
    }
    if (write < limit)
        memset(pixels + write, 0, limit - write);
    SpreadRows(pixels, rowBytes, height, stride);
    return result;
}
