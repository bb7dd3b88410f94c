// RCT encoding for the builder: the shortest pixel stream for a picture, and the file around
// it.
#ifndef UPDATER_IMAGE_RCT_ENCODER_H
#define UPDATER_IMAGE_RCT_ENCODER_H

#include <stdint.h>

#include <string>
#include <vector>

// `pixels` is packed: height rows of 3 * width bytes (blue, green, red), top row first.
// The result is the shortest stream the format allows for these pixels: every position weighs
// both literal forms and every back-reference entry with both length forms.
std::vector<unsigned char> EncodeRctPayload(const unsigned char* pixels, uint32_t width, uint32_t height);

// A plain greedy encoder (longest match here, else a literal): the yardstick the optimal one is
// measured against.
std::vector<unsigned char> EncodeRctPayloadGreedy(const unsigned char* pixels, uint32_t width, uint32_t height);

// A whole RCT file: header, the name field of the 01 variants, the payload (with the trailer for
// the scrambled variants). Returns false with `error` set for sizes or names the format cannot hold.
bool BuildRctFile(int variant, const std::string& name, uint32_t width, uint32_t height,
                  const std::vector<unsigned char>& payload, std::vector<unsigned char>& file,
                  std::string& error);

// Variant by its name ("TC00", "TS00", "TC01", "TS01"); RCT_UNKNOWN for any other text.
int RctVariantFromName(const std::string& name);
const char* RctVariantName(int variant);

#endif
