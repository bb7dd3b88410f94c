// Between pictures and RCT files, for the rct command and for build (which takes an
// insttscr.png or insttscr.bmp in place of insttscr.rct).
#ifndef MKUPDATE_RCT_CONVERT_H
#define MKUPDATE_RCT_CONVERT_H

#include <string>

#include "host/image_file.h"

// Reads a PNG or BMP and encodes it as a TC00 RCT file (the shortest stream) into `rct`.
bool EncodeImageFileToRct(const std::string& imagePath, std::string& rct, std::string& error);

// Encodes pixels into a whole RCT file of the variant (an RctVariant) with the name field.
bool EncodeRct(const RgbImage& image, int variant, const std::string& name, std::string& rct, std::string& error);

// What a decoded RCT file held besides its pixels.
struct RctFileInfo {
    int variant = -1;
    std::string name;
    size_t payloadSize = 0;
};

// Decodes a whole RCT file. Refuses what the updater would not show as stored: an unknown
// magic, a file shorter than its header says, a scrambled payload without its trailer, a pixel
// stream that breaks off or reaches outside the picture.
bool DecodeRctFile(const std::string& bytes, RgbImage& image, RctFileInfo& info, std::string& error);

#endif
