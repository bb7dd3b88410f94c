// Where the parts of an RCT file lie: the 20-byte header, the name field of the named
// variants and the payload, with the checks that come before any payload byte is read. The
// updater's loader and the builder's converter both read a file through this.
#ifndef UPDATER_IMAGE_RCT_LAYOUT_H
#define UPDATER_IMAGE_RCT_LAYOUT_H

#include <stdint.h>

#include "image/rct_decoder.h"
#include "package/byte_stream.h"

// The first fault found, in this order.
enum RctLayoutResult {
    RCT_LAYOUT_OK = 0,
    RCT_LAYOUT_HEADER_CUT = 1,      // the file is shorter than the header
    RCT_LAYOUT_UNKNOWN_MAGIC = 2,   // none of the four magics
    RCT_LAYOUT_NAME_CUT = 3,        // the name field runs past the end of the file
    RCT_LAYOUT_NO_PAYLOAD = 4,      // payloadSize 0
    RCT_LAYOUT_UNSUPPORTED = 5,     // a picture size RctSizeIsSupported refuses
    RCT_LAYOUT_PAYLOAD_CUT = 6,     // fewer bytes after the name field than payloadSize
};

struct RctLayout {
    RctHeader header;
    int64_t nameOffset;        // where the name's bytes begin (named variants)
    uint32_t nameLength;       // 0 for the variants without a name
    int64_t payloadOffset;
    int64_t bytesFromPayload;  // the file's bytes from payloadOffset to its end
};

// Reads a whole RCT file's layout from the stream's start and, on RCT_LAYOUT_OK, leaves the
// stream at the payload. The fields found before a fault stay filled in.
int ReadRctLayout(ByteStream* stream, RctLayout* layout);

// True for the faults a file that is still being written can show.
bool RctLayoutIsCut(int result);

#endif
