// mkupdate convert FILE... [-o OUT] [--check]: settings files and readmes to code page 932, CR LF.
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/text_util.h"
#include "convert/text_convert.h"
#include "host/host_files.h"

namespace fs = std::filesystem;

namespace {

const char kConvertHelp[] =
    "usage: mkupdate convert FILE... [-o OUT] [--check]\n"
    "\n"
    "Converts a settings file (install.env) or readme saved as UTF-8 (with or without a byte-order\n"
    "mark) or UTF-16 to what the updater reads: code page 932 (Shift-JIS) with CR LF line ends.\n"
    "Each FILE is replaced by its converted form; a file that is already code page 932 (or plain\n"
    "ASCII) only gets its line ends mended, if they need it. The conversion is exact: when a\n"
    "character has no code page 932 form (an emoji, a character only Unicode has), every such\n"
    "character is listed with its line and column and the file is left as it was.\n"
    "\n"
    "  -o, --output OUT  write the converted text to OUT and leave FILE as it is (one FILE only)\n"
    "  --check           change nothing; exit status 1 when a file would need converting\n"
    "  -q, --quiet       print nothing but problems\n"
    "  -h, --help        show this help\n"
    "\n"
    "exit status: 0 done (or nothing to do), 1 a file could not be converted (or, with --check,\n"
    "needs converting), 2 wrong usage\n";

// Replaces `path` whole: the text goes to a file beside it first, so a failure never leaves half
// a settings file.
bool ReplaceFile(const fs::path& path, const std::string& bytes, std::string& error)
{
    fs::path part = path;
    part += ".convert.part";
    if (!WriteWholeFile(part.u8string(), bytes)) {
        std::error_code ignored;
        fs::remove(part, ignored);
        error = "cannot write " + PathForDisplay(part);
        return false;
    }
    std::error_code code;
    fs::rename(part, path, code);
    if (code) {
        std::error_code ignored;
        fs::remove(part, ignored);
        error = "cannot replace it: " + code.message();
        return false;
    }
    return true;
}

// Converts one file; returns false on a problem (already printed).
bool ConvertOne(const std::string& file, const std::string& output, bool check, bool& needed)
{
    fs::path path = fs::u8path(file);
    std::string shown = PathForDisplay(path);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        InputError("convert", "cannot read " + shown);
        return false;
    }
    TextConversion conversion = ConvertToCp932Text(bytes);
    if (!conversion.problems.empty()) {
        for (const std::string& problem : conversion.problems)
            PrintTo(stderr, "%s: %s\n", shown.c_str(), problem.c_str());
        InputError("convert", shown + " was left as it is");
        return false;
    }
    const char* from = DescribeTextEncoding(conversion.from);
    if (!conversion.changed && output.empty()) {
        Say("%s: already %s with CR LF line ends\n", shown.c_str(), from);
        return true;
    }
    needed = needed || conversion.changed;
    if (check) {
        Say("%s: %s, needs converting to code page 932 with CR LF line ends\n", shown.c_str(), from);
        return true;
    }
    std::string error;
    if (!output.empty()) {
        fs::path target = fs::u8path(output);
        if (!WriteWholeFile(target.u8string(), conversion.cp932)) {
            InputError("convert", "cannot write " + PathForDisplay(target));
            return false;
        }
        Say("%s: %s, written to %s as code page 932 with CR LF line ends\n", shown.c_str(), from,
            PathForDisplay(target).c_str());
        return true;
    }
    if (!ReplaceFile(path, conversion.cp932, error)) {
        InputError("convert", shown + ": " + error);
        return false;
    }
    Say("%s: converted from %s to code page 932 with CR LF line ends\n", shown.c_str(), from);
    return true;
}

}  // namespace

int RunConvert(const Args& args)
{
    std::string output;
    bool check = false;
    std::vector<std::string> files;
    int stop = ReadCommandLine("convert", kConvertHelp, args,
                               {{{"-o", "--output"}, true,
                                 [&](const std::string& value) {
                                     output = value;
                                     return std::string();
                                 }},
                                {{"--check"}, false,
                                 [&](const std::string&) {
                                     check = true;
                                     return std::string();
                                 }}},
                               files);
    if (stop >= 0)
        return stop;
    if (files.empty())
        return UsageError("convert", "name the file to convert (install.env, readme.txt)");
    if (!output.empty() && files.size() > 1)
        return UsageError("convert", "-o takes one FILE");
    if (!output.empty() && check)
        return UsageError("convert", "--check changes nothing, so it takes no -o");
    if (!output.empty()) {
        std::error_code code;
        if (fs::equivalent(fs::u8path(files[0]), fs::u8path(output), code))
            return UsageError("convert", "-o names FILE itself; leave -o out to convert in place");
    }
    bool sound = true, needed = false;
    for (const std::string& file : files)
        sound = ConvertOne(file, output, check, needed) && sound;
    if (!sound)
        return kExitInput;
    return check && needed ? kExitInput : kExitOk;
}
