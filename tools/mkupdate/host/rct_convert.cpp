// Pictures to RCT files and back, through the core's encoder and decoder (host/rct_convert.h).
#include "host/rct_convert.h"

#include <vector>

#include "image/rct_decoder.h"
#include "image/rct_layout.h"
#include "image/rct_encoder.h"

bool EncodeRct(const RgbImage& image, int variant, const std::string& name, std::string& rct, std::string& error)
{
    if (!RctSizeIsSupported(image.width, image.height) || image.bgr.size() != 3 * (size_t)image.width * image.height) {
        error = "picture size " + std::to_string(image.width) + " x " + std::to_string(image.height) + " is not supported";
        return false;
    }
    const std::vector<unsigned char> payload = EncodeRctPayload(image.bgr.data(), image.width, image.height);
    std::vector<unsigned char> file;
    if (!BuildRctFile(variant, name, image.width, image.height, payload, file, error))
        return false;
    rct.assign(file.begin(), file.end());
    return true;
}

bool EncodeImageFileToRct(const std::string& imagePath, std::string& rct, std::string& error)
{
    RgbImage image;
    if (!ReadImageFile(imagePath, image, error))
        return false;
    if (!EncodeRct(image, RCT_TC00, "", rct, error)) {
        error = imagePath + ": " + error;
        return false;
    }
    return true;
}

// What the converter says for each way the layout reader refuses a file.
static std::string DescribeLayoutFault(int result, const RctLayout& layout)
{
    switch (result) {
    case RCT_LAYOUT_HEADER_CUT:
        return "shorter than the 20-byte RCT header";
    case RCT_LAYOUT_UNKNOWN_MAGIC:
        return "not an RCT image (unknown magic)";
    case RCT_LAYOUT_NAME_CUT:
        return "the name field is cut short";
    case RCT_LAYOUT_NO_PAYLOAD:
        return "the payload size is 0";
    case RCT_LAYOUT_UNSUPPORTED:
        return "picture size " + std::to_string(layout.header.width) + " x " + std::to_string(layout.header.height) +
               " is not supported";
    default:
        return "the file is shorter than its header says (" + std::to_string(layout.bytesFromPayload) + " of " +
               std::to_string(layout.header.payloadSize) + " payload bytes)";
    }
}

bool DecodeRctFile(const std::string& bytes, RgbImage& image, RctFileInfo& info, std::string& error)
{
    const unsigned char* data = (const unsigned char*)bytes.data();
    MemoryStream memory{data, bytes.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    RctLayout layout;
    const int fault = ReadRctLayout(&stream, &layout);
    if (layout.header.variant != RCT_UNKNOWN)
        info.variant = layout.header.variant;
    // The name and the payload size are known once the name field was read whole.
    if (fault == RCT_LAYOUT_OK || fault > RCT_LAYOUT_NAME_CUT) {
        info.name = bytes.substr((size_t)layout.nameOffset, layout.nameLength);
        info.payloadSize = layout.header.payloadSize;
    }
    if (fault != RCT_LAYOUT_OK) {
        error = DescribeLayoutFault(fault, layout);
        return false;
    }
    const RctHeader& header = layout.header;
    const size_t at = (size_t)layout.payloadOffset;
    std::vector<unsigned char> payload(data + at, data + at + header.payloadSize);
    if (RctVariantIsScrambled(header.variant)) {
        DescrambleRctPayload(payload.data(), payload.size());
        if (!HasTsTrailer(payload.data(), payload.size())) {
            error = "the scrambled payload lacks its \"TS\" trailer (the updater would show a black picture)";
            return false;
        }
    }
    image.width = header.width;
    image.height = header.height;
    image.bgr.assign(3 * (size_t)header.width * header.height, 0);
    const int result =
        DecodeRctPayload(payload.data(), payload.size(), image.bgr.data(), header.width, header.height, 3 * (size_t)header.width);
    if (result != RCT_DECODE_COMPLETE) {
        error = "the pixel stream is damaged (the updater would show only its start)";
        return false;
    }
    return true;
}
