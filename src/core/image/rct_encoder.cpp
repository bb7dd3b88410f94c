// The RCT encoder of the builder (image/rct_encoder.h).
#include "image/rct_encoder.h"

#include "image/rct_decoder.h"

namespace {

const uint32_t kShortLiteralMax = 127;
const uint32_t kLongLiteralMin = 128;
const uint32_t kLongLiteralMax = 65535 + 128;
const uint32_t kShortReferenceMax = 3;
const uint32_t kLongReferenceMax = 65535 + 4;
const uint8_t kChoiceLiteral = 0xFF;

struct Picture {
    const unsigned char* bytes;
    std::vector<uint32_t> pixels;  // one value per pixel, so comparisons are single loads
    int64_t offsets[RCT_TABLE_ENTRIES];  // in pixels; 0 for entries a stream may never use
};

void LoadPicture(const unsigned char* bytes, uint32_t width, uint32_t height, Picture& picture)
{
    const size_t count = (size_t)width * height;
    picture.bytes = bytes;
    picture.pixels.resize(count);
    for (size_t i = 0; i < count; ++i)
        picture.pixels[i] = bytes[3 * i] | bytes[3 * i + 1] << 8 | (uint32_t)bytes[3 * i + 2] << 16;
    int64_t table[RCT_TABLE_ENTRIES];
    BuildBackReferenceTable(width, table);
    for (int k = 0; k < RCT_TABLE_ENTRIES; ++k)
        picture.offsets[k] = table[k] < 0 ? table[k] / 3 : 0;  // widths 1-3: entries ahead are unusable
}

void EmitLiteral(std::vector<unsigned char>& out, const unsigned char* bytes, size_t start, uint32_t length)
{
    if (length <= kShortLiteralMax) {
        out.push_back((unsigned char)(length - 1));
    } else {
        const uint32_t count = length - kLongLiteralMin;
        out.push_back(0x7F);
        out.push_back((unsigned char)(count & 0xFF));
        out.push_back((unsigned char)(count >> 8));
    }
    out.insert(out.end(), bytes + 3 * start, bytes + 3 * (start + length));
}

void EmitReference(std::vector<unsigned char>& out, int entry, uint32_t length)
{
    if (length <= kShortReferenceMax) {
        out.push_back((unsigned char)(0x80 | entry << 2 | (length - 1)));
    } else {
        const uint32_t count = length - 4;
        out.push_back((unsigned char)(0x80 | entry << 2 | 3));
        out.push_back((unsigned char)(count & 0xFF));
        out.push_back((unsigned char)(count >> 8));
    }
}

std::vector<unsigned char> StartPayload(const unsigned char* pixels)
{
    return std::vector<unsigned char>(pixels, pixels + 3);
}

// Sliding-window minimum of cost[j] + 3 j over a window of positions that moves toward the
// start as the parse walks backward; front holds the window's best position.
struct WindowMinimum {
    std::vector<uint32_t> positions;
    size_t head = 0;

    void Push(uint32_t j, const std::vector<uint32_t>& cost)
    {
        const uint64_t value = cost[j] + 3ull * j;
        while (positions.size() > head && cost[positions.back()] + 3ull * positions.back() >= value)
            positions.pop_back();
        positions.push_back(j);
    }
    void Expire(uint64_t last)
    {
        while (positions.size() > head && positions[head] > last)
            ++head;
    }
    bool Empty() const { return positions.size() == head; }
    uint32_t Best() const { return positions[head]; }
};

}  // namespace

std::vector<unsigned char> EncodeRctPayload(const unsigned char* pixels, uint32_t width, uint32_t height)
{
    Picture picture;
    LoadPicture(pixels, width, height, picture);
    const uint32_t n = (uint32_t)picture.pixels.size();
    const uint32_t* pix = picture.pixels.data();

    // cost[i]: fewest bytes that encode pixels i to n - 1. Dropping the first pixel of an
    // operation never makes it dearer, so cost never rises with i: of all lengths a reference
    // may take in one form, the longest is the best, and only literal runs need a window search.
    std::vector<uint32_t> cost(n + 1, 0);
    std::vector<uint32_t> length(n + 1, 0);
    std::vector<uint8_t> choice(n + 1, 0);
    uint32_t match[RCT_TABLE_ENTRIES] = {0};
    WindowMinimum shortLiterals, longLiterals;
    shortLiterals.positions.reserve(n);
    longLiterals.positions.reserve(n);

    for (uint32_t i = n; i-- > 1;) {
        shortLiterals.Push(i + 1, cost);
        shortLiterals.Expire((uint64_t)i + kShortLiteralMax);
        if ((uint64_t)i + kLongLiteralMin <= n)
            longLiterals.Push(i + kLongLiteralMin, cost);
        longLiterals.Expire((uint64_t)i + kLongLiteralMax);

        const uint32_t bestShort = shortLiterals.Best();
        uint64_t best = 1 + 3ull * (bestShort - i) + cost[bestShort];
        uint8_t bestChoice = kChoiceLiteral;
        uint32_t bestLength = bestShort - i;
        if (!longLiterals.Empty()) {
            const uint32_t j = longLiterals.Best();
            const uint64_t c = 3 + 3ull * (j - i) + cost[j];
            if (c < best) {
                best = c;
                bestLength = j - i;
            }
        }

        for (int k = 0; k < RCT_TABLE_ENTRIES; ++k) {
            const int64_t offset = picture.offsets[k];
            const int64_t source = (int64_t)i + offset;
            if (offset == 0 || source < 0 || pix[source] != pix[i]) {
                match[k] = 0;
                continue;
            }
            match[k] = match[k] < kLongReferenceMax ? match[k] + 1 : kLongReferenceMax;
            const uint32_t shortLength = match[k] < kShortReferenceMax ? match[k] : kShortReferenceMax;
            if (1ull + cost[i + shortLength] < best) {
                best = 1ull + cost[i + shortLength];
                bestChoice = (uint8_t)k;
                bestLength = shortLength;
            }
            if (match[k] > kShortReferenceMax && 3ull + cost[i + match[k]] < best) {
                best = 3ull + cost[i + match[k]];
                bestChoice = (uint8_t)k;
                bestLength = match[k];
            }
        }
        cost[i] = (uint32_t)best;
        choice[i] = bestChoice;
        length[i] = bestLength;
    }

    std::vector<unsigned char> out = StartPayload(pixels);
    out.reserve(3 + (size_t)cost[n > 1 ? 1 : 0]);
    for (uint32_t i = 1; i < n; i += length[i]) {
        if (choice[i] == kChoiceLiteral)
            EmitLiteral(out, pixels, i, length[i]);
        else
            EmitReference(out, choice[i], length[i]);
    }
    return out;
}

std::vector<unsigned char> EncodeRctPayloadGreedy(const unsigned char* pixels, uint32_t width, uint32_t height)
{
    Picture picture;
    LoadPicture(pixels, width, height, picture);
    const uint32_t n = (uint32_t)picture.pixels.size();
    const uint32_t* pix = picture.pixels.data();

    std::vector<unsigned char> out = StartPayload(pixels);
    uint32_t literalStart = 1;
    uint32_t i = 1;
    while (i < n) {
        uint32_t bestLength = 0;
        int bestEntry = 0;
        for (int k = 0; k < RCT_TABLE_ENTRIES; ++k) {
            const int64_t offset = picture.offsets[k];
            if (offset == 0 || (int64_t)i + offset < 0)
                continue;
            uint32_t m = 0;
            while (m < kLongReferenceMax && i + m < n && pix[i + m] == pix[i + m + offset])
                ++m;
            if (m > bestLength) {
                bestLength = m;
                bestEntry = k;
            }
        }
        if (bestLength == 0) {
            ++i;
            if (i - literalStart == kLongLiteralMax) {
                EmitLiteral(out, pixels, literalStart, i - literalStart);
                literalStart = i;
            }
            continue;
        }
        if (i > literalStart)
            EmitLiteral(out, pixels, literalStart, i - literalStart);
        EmitReference(out, bestEntry, bestLength);
        i += bestLength;
        literalStart = i;
    }
    if (n > literalStart)
        EmitLiteral(out, pixels, literalStart, n - literalStart);
    return out;
}

static void PushLe32(std::vector<unsigned char>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back((unsigned char)(value >> shift));
}

bool BuildRctFile(int variant, const std::string& name, uint32_t width, uint32_t height,
                  const std::vector<unsigned char>& payload, std::vector<unsigned char>& file,
                  std::string& error)
{
    if (variant < RCT_TC00 || variant > RCT_TS01) {
        error = "unknown RCT variant";
        return false;
    }
    if (!RctSizeIsSupported(width, height)) {
        error = "picture size " + std::to_string(width) + " x " + std::to_string(height) + " is not supported";
        return false;
    }
    if (!RctVariantHasName(variant) && !name.empty()) {
        error = std::string("variant ") + RctVariantName(variant) + " carries no name (use TC01 or TS01)";
        return false;
    }
    if (name.size() > 0xFFFF) {
        error = "the name is longer than 65535 bytes";
        return false;
    }
    const bool scrambled = RctVariantIsScrambled(variant);
    const uint64_t payloadSize = payload.size() + (scrambled ? 2 : 0);
    if (payloadSize > 0xFFFFFFFFu) {
        error = "the payload does not fit in 32 bits";
        return false;
    }
    file.assign(kRctMagics[variant], kRctMagics[variant] + RCT_MAGIC_SIZE);
    PushLe32(file, width);
    PushLe32(file, height);
    PushLe32(file, (uint32_t)payloadSize);
    if (RctVariantHasName(variant)) {
        file.push_back((unsigned char)(name.size() & 0xFF));
        file.push_back((unsigned char)(name.size() >> 8));
        file.insert(file.end(), name.begin(), name.end());
    }
    const size_t payloadStart = file.size();
    file.insert(file.end(), payload.begin(), payload.end());
    if (scrambled) {
        file.push_back(0x54);
        file.push_back(0x53);
        // Scrambling is its own inverse (an XOR with the image key table).
        DescrambleRctPayload(file.data() + payloadStart, file.size() - payloadStart);
    }
    return true;
}

static const char* const kVariantNames[4] = {"TC00", "TS00", "TC01", "TS01"};

int RctVariantFromName(const std::string& name)
{
    for (int variant = 0; variant < 4; ++variant) {
        if (name == kVariantNames[variant])
            return variant;
    }
    return RCT_UNKNOWN;
}

const char* RctVariantName(int variant)
{
    return variant >= 0 && variant < 4 ? kVariantNames[variant] : "?";
}
