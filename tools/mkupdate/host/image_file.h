// Pictures on disk for the rct command and the title picture: BMP and PNG (through stb_image),
// the same in the Linux and the Windows build. Pixels are kept packed, blue-green-red, top row
// first, as the RCT format stores them.
#ifndef MKUPDATE_IMAGE_FILE_H
#define MKUPDATE_IMAGE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<unsigned char> bgr;  // 3 * width * height bytes
    uint32_t transparentPixels = 0;  // read with less than full opacity (and laid over black)
};

// What a maker hears of a picture with transparent pixels: where they went, and what to do.
std::string TransparencyWarning(const RgbImage& image);

// Reads a BMP (1, 4, 8, 24 or 32 bits per pixel, uncompressed, either row order) or a PNG, told
// apart by their signatures. Transparent pixels are laid over black: the RCT format has no
// transparency.
bool ReadImageFile(const std::string& path, RgbImage& image, std::string& error);

// Writes a 24-bit BMP or a PNG, chosen by the extension (".bmp" or ".png", any case).
bool WriteImageFile(const std::string& path, const RgbImage& image, std::string& error);

// Parses BMP bytes (exposed for tests and for callers that already hold the file).
bool ParseBmp(const std::string& bytes, RgbImage& image, std::string& error);

#endif
