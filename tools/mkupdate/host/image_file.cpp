// BMP and PNG pictures on disk (PNG through stb_image), read and written the same on both hosts.
#include "host/image_file.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include <stb_image.h>
#include <stb_image_write.h>

#include "image/rct_decoder.h"
#include "cli/text_util.h"

namespace {

uint32_t Le16(const std::string& b, size_t at)
{
    return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8;
}

uint32_t Le32(const std::string& b, size_t at)
{
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

void PutLe16(std::string& b, uint32_t v)
{
    b += (char)(v & 0xFF);
    b += (char)((v >> 8) & 0xFF);
}

void PutLe32(std::string& b, uint32_t v)
{
    PutLe16(b, v & 0xFFFF);
    PutLe16(b, v >> 16);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && Lower(text.substr(text.size() - tail.size())) == tail;
}

// Position and width of a channel mask, so 32-bit bitfield BMPs read with any channel order.
struct Channel {
    int shift = 0;
    bool valid = false;
};

Channel ChannelOf(uint32_t mask)
{
    Channel c;
    if (mask == 0)
        return c;
    while (!(mask & 1)) {
        mask >>= 1;
        ++c.shift;
    }
    c.valid = mask == 0xFF;
    return c;
}

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

bool ParseBmp(const std::string& b, RgbImage& image, std::string& error)
{
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') {
        error = "not a BMP file";
        return false;
    }
    const uint32_t pixelOffset = Le32(b, 10);
    const uint32_t infoSize = Le32(b, 14);
    int64_t width, height;
    uint32_t bits, compression = 0, colours = 0, paletteEntrySize = 4;
    if (infoSize == 12) {
        width = Le16(b, 18);
        height = (int16_t)Le16(b, 20);
        bits = Le16(b, 24);
        paletteEntrySize = 3;
    } else if (infoSize >= 40 && b.size() >= 14 + (size_t)infoSize) {
        width = (int32_t)Le32(b, 18);
        height = (int32_t)Le32(b, 22);
        bits = Le16(b, 28);
        compression = Le32(b, 30);
        colours = Le32(b, 46);
    } else {
        error = "BMP header is damaged or of an unknown kind";
        return false;
    }
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width <= 0 || height <= 0 || !RctSizeIsSupported((uint32_t)width, (uint32_t)height)) {
        error = "BMP size " + std::to_string(width) + " x " + std::to_string(height) + " is not supported";
        return false;
    }

    Channel red, green, blue;
    if (compression == 3 && bits == 32) {  // BI_BITFIELDS: masks follow the 40-byte header
        if (b.size() < 14 + 40 + 12) {
            error = "BMP colour masks are missing";
            return false;
        }
        red = ChannelOf(Le32(b, 54));
        green = ChannelOf(Le32(b, 58));
        blue = ChannelOf(Le32(b, 62));
        if (!red.valid || !green.valid || !blue.valid) {
            error = "BMP colour masks other than 8 bits a channel are not supported";
            return false;
        }
    } else if (compression != 0) {
        error = "compressed BMP files are not supported (save it uncompressed)";
        return false;
    } else if (bits == 32) {
        red.shift = 16, green.shift = 8, blue.shift = 0;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        error = std::to_string(bits) + "-bit BMP files are not supported (use 24 bits)";
        return false;
    }

    std::vector<unsigned char> palette;  // blue, green, red per entry
    if (bits <= 8) {
        const uint32_t entries = colours != 0 ? std::min<uint32_t>(colours, 1u << bits) : 1u << bits;
        const size_t at = 14 + (size_t)infoSize;
        if (b.size() < at + (size_t)entries * paletteEntrySize) {
            error = "BMP palette is cut short";
            return false;
        }
        palette.assign(256 * 3, 0);
        for (uint32_t i = 0; i < entries; ++i)
            std::memcpy(&palette[3 * i], b.data() + at + (size_t)i * paletteEntrySize, 3);
    }

    const uint64_t rowSize = ((uint64_t)bits * width + 31) / 32 * 4;
    if (pixelOffset > b.size() || rowSize * height > b.size() - pixelOffset) {
        error = "BMP pixel data is cut short";
        return false;
    }
    image.width = (uint32_t)width;
    image.height = (uint32_t)height;
    image.bgr.assign(3 * (size_t)width * height, 0);
    for (int64_t y = 0; y < height; ++y) {
        const unsigned char* row =
            (const unsigned char*)b.data() + pixelOffset + rowSize * (topDown ? y : height - 1 - y);
        unsigned char* out = &image.bgr[3 * (size_t)(y * width)];
        for (int64_t x = 0; x < width; ++x, out += 3) {
            if (bits == 24) {
                std::memcpy(out, row + 3 * x, 3);
            } else if (bits == 32) {
                const uint32_t v = row[4 * x] | row[4 * x + 1] << 8 | row[4 * x + 2] << 16 | (uint32_t)row[4 * x + 3] << 24;
                out[0] = (unsigned char)(v >> blue.shift);
                out[1] = (unsigned char)(v >> green.shift);
                out[2] = (unsigned char)(v >> red.shift);
            } else {
                const uint64_t bit = (uint64_t)x * bits;
                const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                std::memcpy(out, &palette[3 * index], 3);
            }
        }
    }
    return true;
}

static std::string FormatBmp(const RgbImage& image)
{
    const uint32_t rowSize = (3 * image.width + 3) / 4 * 4;
    const uint32_t dataSize = rowSize * image.height;
    std::string b = "BM";
    PutLe32(b, 54 + dataSize);
    PutLe32(b, 0);
    PutLe32(b, 54);
    PutLe32(b, 40);
    PutLe32(b, image.width);
    PutLe32(b, image.height);  // bottom-up, which every reader understands
    PutLe16(b, 1);
    PutLe16(b, 24);
    PutLe32(b, 0);
    PutLe32(b, dataSize);
    PutLe32(b, 2835);  // 72 dots per inch
    PutLe32(b, 2835);
    PutLe32(b, 0);
    PutLe32(b, 0);
    std::string padding(rowSize - 3 * image.width, '\0');
    for (uint32_t y = image.height; y-- > 0;) {
        b.append((const char*)&image.bgr[3 * (size_t)y * image.width], 3 * (size_t)image.width);
        b += padding;
    }
    return b;
}

// stb_image reads the PNG as red-green-blue-alpha; the RCT format has no transparency, so each
// pixel is laid over black.
static bool ReadPng(const std::string& bytes, RgbImage& image, std::string& error)
{
    int width = 0, height = 0, channels = 0;
    if (bytes.size() > (size_t)INT32_MAX ||
        !stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), (int)bytes.size(), &width, &height, &channels)) {
        error = std::string("PNG: ") + stbi_failure_reason();
        return false;
    }
    if (!RctSizeIsSupported((uint32_t)width, (uint32_t)height)) {
        error = "PNG size " + std::to_string(width) + " x " + std::to_string(height) + " is not supported";
        return false;
    }
    stbi_uc* rgba = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), (int)bytes.size(), &width,
                                          &height, &channels, 4);
    if (rgba == nullptr) {
        error = std::string("PNG: ") + stbi_failure_reason();
        return false;
    }
    image.width = (uint32_t)width;
    image.height = (uint32_t)height;
    image.bgr.resize((size_t)width * height * 3);
    for (size_t i = 0; i < (size_t)width * height; ++i) {
        const stbi_uc* p = rgba + 4 * i;
        for (int c = 0; c < 3; ++c)
            image.bgr[3 * i + (size_t)(2 - c)] = (unsigned char)((p[c] * p[3] + 127) / 255);
        if (p[3] != 255)
            image.transparentPixels++;
    }
    stbi_image_free(rgba);
    return true;
}

std::string TransparencyWarning(const RgbImage& image)
{
    return "the picture has " + std::to_string(image.transparentPixels) + " of its " +
           std::to_string((uint64_t)image.width * image.height) + " pixels transparent or partly so; the RCT title "
           "picture has no transparency, so they are laid over black, not over the window's grey: fill them with the "
           "colour you want players to see and save the picture again";
}

static void AppendPng(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), (size_t)size);
}

static bool WritePng(const std::string& path, const RgbImage& image, std::string& error)
{
    std::vector<unsigned char> rgb(image.bgr.size());
    for (size_t i = 0; i + 2 < image.bgr.size(); i += 3) {
        rgb[i] = image.bgr[i + 2];
        rgb[i + 1] = image.bgr[i + 1];
        rgb[i + 2] = image.bgr[i];
    }
    std::string png;
    if (!stbi_write_png_to_func(AppendPng, &png, (int)image.width, (int)image.height, 3, rgb.data(), (int)image.width * 3) ||
        !WriteWholeFile(path, png)) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

bool ReadImageFile(const std::string& path, RgbImage& image, std::string& error)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        error = path + ": cannot be read";
        return false;
    }
    bool ok;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0)
        ok = ReadPng(bytes, image, error);
    else if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
        ok = ParseBmp(bytes, image, error);
    else {
        error = "neither PNG nor BMP";
        ok = false;
    }
    if (!ok)
        error = path + ": " + error;
    return ok;
}

bool WriteImageFile(const std::string& path, const RgbImage& image, std::string& error)
{
    if (EndsWith(path, ".png"))
        return WritePng(path, image, error);
    if (!EndsWith(path, ".bmp")) {
        error = path + ": the name must end in .png or .bmp";
        return false;
    }
    if (!WriteWholeFile(path, FormatBmp(image))) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}
