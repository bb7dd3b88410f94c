// mkupdate rct: makes the title picture insttscr.rct from a PNG or BMP, and turns an RCT file
// back into a picture to check it.
#include <cstdio>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "image/rct_decoder.h"
#include "image/rct_encoder.h"
#include "host/image_file.h"
#include "host/rct_convert.h"
#include "cli/text_util.h"

namespace {

const char kUsage[] =
    "usage: mkupdate rct encode IMAGE OUT.rct [--variant TC00|TS00|TC01|TS01] [--name TEXT]\n"
    "       mkupdate rct decode IN.rct OUT.png|OUT.bmp\n"
    "\n"
    "encode  turns a picture into an RCT title image (insttscr.rct). IMAGE is a PNG or an\n"
    "        uncompressed BMP (1, 4, 8, 24 or 32 bits); transparent parts become black.\n"
    "        The encoder searches for the shortest stream, so large pictures take a moment.\n"
    "        --variant  TC00 (default) plain; TS00 scrambled, with the \"TS\" trailer;\n"
    "                   TC01 and TS01 the same with a name field.\n"
    "        --name     the name field of TC01 and TS01 (at most 65535 bytes; nothing reads it).\n"
    "decode  turns an RCT file back into a picture (.png or .bmp by the output's name), and\n"
    "        refuses a file the updater would not show as stored.\n";

int Usage(const char* problem)
{
    if (problem == nullptr) {
        PrintTo(stderr, "%s", kUsage);
        return kExitUsage;
    }
    return UsageError("rct", problem);
}

int Fail(const std::string& message)
{
    return InputError("rct", message);
}

int RunEncode(const Args& args)
{
    std::vector<std::string> files;
    int variant = RCT_TC00;
    std::string name;
    bool nameGiven = false;
    int stop = ReadCommandLine("rct", kUsage, args,
                               {{{"--variant"}, true,
                                 [&](const std::string& value) {
                                     variant = RctVariantFromName(value);
                                     return variant == RCT_UNKNOWN
                                                ? "unknown variant '" + value + "' (use TC00, TS00, TC01 or TS01)"
                                                : std::string();
                                 }},
                                {{"--name"}, true,
                                 [&](const std::string& value) {
                                     name = value;
                                     nameGiven = true;
                                     return std::string();
                                 }}},
                               files);
    if (stop >= 0)
        return stop;
    if (files.size() != 2)
        return Usage("encode takes a picture and an output file");
    if (nameGiven && !RctVariantHasName(variant))
        return Usage("--name needs --variant TC01 or TS01");

    RgbImage image;
    std::string error;
    if (!ReadImageFile(files[0], image, error))
        return Fail(error);
    if (image.transparentPixels > 0)
        PrintTo(stderr, "mkupdate rct: warning: %s: %s\n", files[0].c_str(), TransparencyWarning(image).c_str());
    std::string rct;
    if (!EncodeRct(image, variant, name, rct, error))
        return Fail(files[0] + ": " + error);
    if (!WriteWholeFile(files[1], rct))
        return Fail(files[1] + ": cannot be written");
    const double raw = 3.0 * image.width * image.height;
    Say("%s: %u x %u, %s, %zu bytes (%.1f%% of the raw pixels)\n", files[1].c_str(), image.width,
                image.height, RctVariantName(variant), rct.size(), 100.0 * (double)rct.size() / raw);
    return kExitOk;
}

int RunDecode(const Args& rawArgs)
{
    std::vector<std::string> args;
    int stop = ReadCommandLine("rct", kUsage, rawArgs, {}, args);
    if (stop >= 0)
        return stop;
    if (args.size() != 2)
        return Usage("decode takes an RCT file and an output picture");
    std::string bytes;
    if (!ReadWholeFile(args[0], bytes))
        return Fail(args[0] + ": cannot be read");
    RgbImage image;
    RctFileInfo info;
    std::string error;
    if (!DecodeRctFile(bytes, image, info, error))
        return Fail(args[0] + ": " + error);
    if (!WriteImageFile(args[1], image, error))
        return Fail(error);
    Say("%s: %u x %u, %s, payload %zu bytes\n", args[1].c_str(), image.width, image.height,
                RctVariantName(info.variant), info.payloadSize);
    return kExitOk;
}

}  // namespace

int RunRct(const Args& args)
{
    if (args.empty())
        return Usage(nullptr);
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintTo(stdout, "%s", kUsage);
        return kExitOk;
    }
    const Args rest(args.begin() + 1, args.end());
    if (args[0] == "encode")
        return RunEncode(rest);
    if (args[0] == "decode")
        return RunDecode(rest);
    return Usage(("unknown action '" + args[0] + "'").c_str());
}
