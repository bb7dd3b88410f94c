// The layout of an RCT file ahead of its payload.
#include "image/rct_layout.h"

#include <string.h>

static int64_t StreamLength(ByteStream* stream)
{
    if (stream->seek(stream->context, 0, SEEK_END) != 0)
        return -1;
    int64_t length = stream->tell(stream->context);
    if (stream->seek(stream->context, 0, SEEK_SET) != 0)
        return -1;
    return length;
}

int ReadRctLayout(ByteStream* stream, RctLayout* layout)
{
    memset(layout, 0, sizeof *layout);
    layout->header.variant = RCT_UNKNOWN;
    int64_t length = StreamLength(stream);
    unsigned char header[RCT_HEADER_SIZE];
    if (length < RCT_HEADER_SIZE || !ReadExactly(stream, header, RCT_HEADER_SIZE))
        return RCT_LAYOUT_HEADER_CUT;
    if (!ParseRctHeader(header, &layout->header))
        return RCT_LAYOUT_UNKNOWN_MAGIC;
    int64_t at = RCT_HEADER_SIZE;
    if (RctVariantHasName(layout->header.variant)) {
        unsigned char field[RCT_NAME_LENGTH_SIZE];
        if (!ReadExactly(stream, field, RCT_NAME_LENGTH_SIZE))
            return RCT_LAYOUT_NAME_CUT;
        at += RCT_NAME_LENGTH_SIZE;
        layout->nameOffset = at;
        layout->nameLength = GetUi16(field);
        if (length - at < (int64_t)layout->nameLength || !SkipBytes(stream, layout->nameLength))
            return RCT_LAYOUT_NAME_CUT;
        at += layout->nameLength;
    }
    layout->payloadOffset = at;
    layout->bytesFromPayload = length - at;
    if (layout->header.payloadSize == 0)
        return RCT_LAYOUT_NO_PAYLOAD;
    if (!RctSizeIsSupported(layout->header.width, layout->header.height))
        return RCT_LAYOUT_UNSUPPORTED;
    // Checked before anything is allocated, so a damaged header cannot ask for memory the file
    // does not back.
    if (layout->bytesFromPayload < (int64_t)layout->header.payloadSize)
        return RCT_LAYOUT_PAYLOAD_CUT;
    return RCT_LAYOUT_OK;
}

bool RctLayoutIsCut(int result)
{
    return result == RCT_LAYOUT_HEADER_CUT || result == RCT_LAYOUT_NAME_CUT || result == RCT_LAYOUT_PAYLOAD_CUT;
}
