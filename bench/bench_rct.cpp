// The RCT title image: decoding speed against memcpy and libpng, and encoded size against a
// greedy encoder and PNG. Every figure is measured in this run on the same pictures.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/rct_decoder.h"
#include "image/rct_encoder.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

struct Picture {
    std::string name;
    uint32_t width, height;
    Bytes bgr;
};

void Put(Bytes& bgr, uint32_t width, uint32_t x, uint32_t y, int b, int g, int r)
{
    unsigned char* p = &bgr[3 * ((size_t)y * width + x)];
    p[0] = (unsigned char)std::clamp(b, 0, 255);
    p[1] = (unsigned char)std::clamp(g, 0, 255);
    p[2] = (unsigned char)std::clamp(r, 0, 255);
}

// What a game's title screen tends to be: a soft gradient sky, flat panels with hard edges, a
// logo of a few colours, lettering, and a painted area with fine noise.
Picture TitleLike(uint32_t width, uint32_t height)
{
    Picture p{"title-like", width, height, Bytes(3 * (size_t)width * height)};
    std::mt19937 random(7);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            int b = 200 - (int)(y * 120 / height), g = 120 + (int)(x * 40 / width), r = 60 + (int)(y * 60 / height);
            if (y > height * 3 / 4)  // a flat panel for the buttons' side
                b = 30, g = 30, r = 40;
            const double dx = x - width * 0.3, dy = y - height * 0.4;
            if (dx * dx + dy * dy < 150.0 * 150.0)  // logo disc with rings
                b = 20, g = (((int)std::sqrt(dx * dx + dy * dy) / 12) % 2) ? 200 : 160, r = 240;
            if (x > width * 0.55 && x < width * 0.95 && y > height * 0.15 && y < height * 0.65) {
                // painted character: smooth shading with brush noise
                const int shade = (int)(90 + 50 * std::sin(x * 0.031) * std::cos(y * 0.023));
                const int noise = (int)(random() % 7) - 3;
                b = shade + noise, g = shade + 20 + noise, r = shade + 60 + noise;
            }
            if (y > height * 0.8 && y < height * 0.86 && x > width / 10 && x < width * 6 / 10 &&
                ((x / 3) * 7 + (y / 2) * 3) % 5 < 2)  // lettering
                b = g = r = 250;
            Put(p.bgr, width, x, y, b, g, r);
        }
    return p;
}

Picture PhotoLike(uint32_t width, uint32_t height)
{
    Picture p{"photo-like", width, height, Bytes(3 * (size_t)width * height)};
    std::mt19937 random(11);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const double v = 120 + 70 * std::sin(x * 0.013 + y * 0.007) + 30 * std::cos(y * 0.05);
            const int n = (int)(random() % 9) - 4;
            Put(p.bgr, width, x, y, (int)v + n, (int)v + 15 + n, (int)v + 35 + n);
        }
    return p;
}

Picture Gradient(uint32_t width, uint32_t height)
{
    Picture p{"gradient", width, height, Bytes(3 * (size_t)width * height)};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            Put(p.bgr, width, x, y, (int)(x * 255 / width), (int)(y * 255 / height), 128);
    return p;
}

Picture FewColours(uint32_t width, uint32_t height)
{
    Picture p{"pixel art", width, height, Bytes(3 * (size_t)width * height)};
    std::mt19937 random(3);
    const int palette[6][3] = {{0, 0, 0}, {255, 255, 255}, {40, 90, 200}, {200, 60, 30}, {30, 160, 60}, {250, 220, 40}};
    // 8 x 8 blocks of mostly one colour, like upscaled pixel art.
    std::vector<int> blocks((width / 8 + 1) * (height / 8 + 1));
    for (int& b : blocks)
        b = (int)(random() % 6);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            int c = blocks[(y / 8) * (width / 8 + 1) + x / 8];
            if (random() % 50 == 0)
                c = (int)(random() % 6);
            Put(p.bgr, width, x, y, palette[c][0], palette[c][1], palette[c][2]);
        }
    return p;
}

Picture Noise(uint32_t width, uint32_t height)
{
    Picture p{"noise", width, height, Bytes(3 * (size_t)width * height)};
    std::mt19937 random(5);
    for (unsigned char& b : p.bgr)
        b = (unsigned char)random();
    return p;
}

// Median of several timed runs, in milliseconds.
double TimeMs(const std::function<void()>& work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Bytes EncodePng(const Picture& p)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = p.width;
    image.height = p.height;
    image.format = PNG_FORMAT_BGR;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, p.bgr.data(), 0, nullptr);
    Bytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, p.bgr.data(), 0, nullptr)) {
        std::fprintf(stderr, "libpng: %s\n", image.message);
        std::exit(1);
    }
    out.resize(size);
    return out;
}

void DecodePng(const Bytes& png, Bytes& out, size_t stride)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, png.data(), png.size());
    image.format = PNG_FORMAT_BGR;
    png_image_finish_read(&image, nullptr, out.data(), (png_int_32)stride, nullptr);
}

volatile unsigned char g_sink;

void DecodeSpeed()
{
    const Picture title = TitleLike(1280, 720);
    const Bytes payload = EncodeRctPayload(title.bgr.data(), title.width, title.height);
    const Bytes png = EncodePng(title);
    const size_t stride = RctStride(title.width);
    const size_t outputBytes = 3 * (size_t)title.width * title.height;
    Bytes pixels(stride * title.height);
    Bytes source(outputBytes, 1);
    const int runs = 41;

    int result = -1;
    const double rct = TimeMs([&] { result = DecodeRctPayload(payload.data(), payload.size(), pixels.data(), title.width, title.height, stride); }, runs);
    if (result != RCT_DECODE_COMPLETE || std::memcmp(pixels.data(), title.bgr.data(), outputBytes) != 0) {
        std::fprintf(stderr, "decoded picture differs\n");
        std::exit(1);
    }
    const double copy = TimeMs([&] { std::memcpy(pixels.data(), source.data(), outputBytes); g_sink = pixels[outputBytes / 2]; }, runs);
    const double libpng = TimeMs([&] { DecodePng(png, pixels, stride); g_sink = pixels[7]; }, runs);

    std::printf("Decoding a 1280 x 720 title-like picture (median of %d runs)\n", runs);
    std::printf("  RCT decoder       %8.3f ms  (payload %zu bytes)\n", rct, payload.size());
    std::printf("  memcpy baseline   %8.3f ms  (%zu bytes)   RCT / memcpy = %.2f\n", copy, outputBytes, rct / copy);
    std::printf("  libpng baseline   %8.3f ms  (PNG %zu bytes)   RCT / libpng = %.3f\n", libpng, png.size(), rct / libpng);
}

void EncodedSizes()
{
    const Picture pictures[] = {TitleLike(1280, 720), PhotoLike(1280, 720), Gradient(640, 480), FewColours(800, 600),
                                Noise(320, 240), TitleLike(333, 177)};
    std::printf("\nEncoded size (bytes; ratio = optimal / baseline, below 1 is smaller)\n");
    std::printf("  %-12s %9s %10s %10s %7s %10s %7s %9s\n", "picture", "size", "optimal", "greedy", "ratio", "PNG",
                "ratio", "encode ms");
    bool neverLarger = true;
    int smaller = 0;
    for (const Picture& p : pictures) {
        Bytes optimal;
        const double ms = TimeMs([&] { optimal = EncodeRctPayload(p.bgr.data(), p.width, p.height); }, 1);
        const Bytes greedy = EncodeRctPayloadGreedy(p.bgr.data(), p.width, p.height);
        const Bytes png = EncodePng(p);
        neverLarger = neverLarger && optimal.size() <= greedy.size();
        smaller += optimal.size() < greedy.size();
        const std::string size = std::to_string(p.width) + "x" + std::to_string(p.height);
        std::printf("  %-12s %9s %10zu %10zu %7.3f %10zu %7.3f %9.1f\n", p.name.c_str(), size.c_str(), optimal.size(),
                    greedy.size(), (double)optimal.size() / greedy.size(), png.size(),
                    (double)optimal.size() / png.size(), ms);
    }
    std::printf("  optimal never larger than greedy: %s; strictly smaller on %d of %zu pictures (equal where\n"
                "  greedy's choices are already the shortest, e.g. noise without any repeat)\n",
                neverLarger ? "yes" : "NO", smaller, std::size(pictures));
}

}  // namespace

int main()
{
    DecodeSpeed();
    EncodedSizes();
    return 0;
}
