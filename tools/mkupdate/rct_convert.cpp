#include "rct_convert.h"

#include <vector>

#include "image/rct_decoder.h"
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

bool DecodeRctFile(const std::string& bytes, RgbImage& image, RctFileInfo& info, std::string& error)
{
    const unsigned char* data = (const unsigned char*)bytes.data();
    if (bytes.size() < RCT_HEADER_SIZE) {
        error = "shorter than the 20-byte RCT header";
        return false;
    }
    RctHeader header;
    if (!ParseRctHeader(data, &header)) {
        error = "not an RCT image (unknown magic)";
        return false;
    }
    info.variant = header.variant;
    size_t at = RCT_HEADER_SIZE;
    if (RctVariantHasName(header.variant)) {
        if (bytes.size() < at + 2) {
            error = "the name field is cut short";
            return false;
        }
        const size_t length = data[at] | (size_t)data[at + 1] << 8;
        at += 2;
        if (bytes.size() - at < length) {
            error = "the name field is cut short";
            return false;
        }
        info.name = bytes.substr(at, length);
        at += length;
    }
    info.payloadSize = header.payloadSize;
    if (header.payloadSize == 0) {
        error = "the payload size is 0";
        return false;
    }
    if (bytes.size() - at < header.payloadSize) {
        error = "the file is shorter than its header says (" + std::to_string(bytes.size() - at) + " of " +
                std::to_string(header.payloadSize) + " payload bytes)";
        return false;
    }
    if (!RctSizeIsSupported(header.width, header.height)) {
        error = "picture size " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                " is not supported";
        return false;
    }
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
