// The RCT title image: header layout, back-reference table and the pixel-stream decoder. Byte
// work only, so the loader, the builder, the tests and the fuzzer share one implementation.
#ifndef UPDATER_IMAGE_RCT_DECODER_H
#define UPDATER_IMAGE_RCT_DECODER_H

#include <stddef.h>
#include <stdint.h>

#define RCT_HEADER_SIZE 20
#define RCT_MAGIC_SIZE 8
#define RCT_NAME_LENGTH_SIZE 2
#define RCT_TABLE_ENTRIES 32
#define RCT_IMAGE_KEY_SIZE 1024
// No title picture comes near this; it keeps a damaged header from asking for gigabytes.
#define RCT_MAX_PIXEL_BYTES 0x10000000u

enum RctVariant { RCT_TC00 = 0, RCT_TS00 = 1, RCT_TC01 = 2, RCT_TS01 = 3, RCT_UNKNOWN = -1 };

// The four magics, "六丁" in code page 932 followed by the variant's name, in the order checked.
extern const unsigned char kRctMagics[4][RCT_MAGIC_SIZE];

struct RctHeader {
    int variant;  // an RctVariant
    uint32_t width;
    uint32_t height;
    uint32_t payloadSize;
};

// Reads the 20-byte header. Returns false (variant RCT_UNKNOWN) when the magic is none of the four.
bool ParseRctHeader(const unsigned char* bytes, RctHeader* header);
bool RctVariantIsScrambled(int variant);
bool RctVariantHasName(int variant);

// (3 * width + 3) / 4 * 4, or 0 when that does not fit in 32 bits.
uint32_t RctStride(uint32_t width);
// True for sizes a Surface can hold: both at least 1, stride * height within RCT_MAX_PIXEL_BYTES.
bool RctSizeIsSupported(uint32_t width, uint32_t height);

// Byte offsets of the 32 entries relative to the write position, for this width. For widths 1 to
// 3 some entries of the rows above are 0 or positive: they name bytes not yet written.
void BuildBackReferenceTable(uint32_t width, int64_t table[RCT_TABLE_ENTRIES]);

// XORs the payload with the image key table (all zero, so the bytes stay as they are).
void DescrambleRctPayload(unsigned char* payload, size_t size);
// True when a scrambled payload ends in the two bytes 'T' 'S'.
bool HasTsTrailer(const unsigned char* payload, size_t size);

enum RctDecodeResult {
    RCT_DECODE_COMPLETE = 0,
    // The stream broke one of the bounds below; what was decoded before it stays in place.
    RCT_DECODE_MALFORMED = 1,
    // Width or height 0, stride under 3 * width, or stride * height over RCT_MAX_PIXEL_BYTES:
    // nothing was written.
    RCT_DECODE_BAD_SIZE = 2,
};

// Decodes `payload` into `pixels` (height rows of `stride` bytes, top row first, blue-green-red)
// and returns an RctDecodeResult. It never reads outside the payload nor writes outside the
// height * stride bytes of `pixels`. Decoding stops at the first operation that cannot be carried
// out in full: a payload under 3 bytes, an operation byte, count or literal bytes past the
// payload's end, a run past the picture's end, a back-reference before the first byte or to a
// byte not yet written. Everything decoded before that point stays and the rest of the picture
// is black (zero), so a damaged file shows as much of itself as it can. Rows are then spread to
// `stride` as usual; the padding at the end of each row is zero.
int DecodeRctPayload(const unsigned char* payload, size_t payloadSize, unsigned char* pixels,
                     uint32_t width, uint32_t height, size_t stride);

#endif
