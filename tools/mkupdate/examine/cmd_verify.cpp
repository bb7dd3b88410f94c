// mkupdate verify UPDATE.exe [--json]
#include <cstdio>
#include <filesystem>

#include "build/name_room.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "cli/text_util.h"
#include "examine/update_file.h"

namespace {

const char kVerifyHelp[] =
    "usage: mkupdate verify UPDATE.exe [--json]\n"
    "\n"
    "Checks an update executable the way the updater will meet it: the trailer and layout, every\n"
    "entry header, the rules of the format (names the updater writes under exactly that name,\n"
    "inside the installed folder; no two names that differ only in case; folders before their\n"
    "contents; setup files where the setup pass can unpack them; names that fit under an install\n"
    "folder, with a warning for each that leaves less room than an ordinary one of 80 bytes), and\n"
    "inflates every stream, checking its Adler-32, its size, and that it ends exactly where its\n"
    "packed size says.\n"
    "\n"
    "  --json       print the verdict as a JSON object\n"
    "  -q, --quiet  print nothing but problems\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 sound, 1 a problem (the first one is printed with its byte offset), 2 wrong usage\n";

}  // namespace

int RunVerify(const Args& args)
{
    bool json = false;
    std::string path;
    int stop = ReadUpdateAndJson("verify", kVerifyHelp, args, path, json);
    if (stop >= 0)
        return stop;
    UpdateFile file;
    if (!file.Open(path))
        return InputError("verify", path + ": cannot open the file");
    std::error_code code;
    ProgressLine progress("verify", std::filesystem::file_size(std::filesystem::u8path(path), code));
    PackageWalk walk;
    walk.inflateAll = true;
    walk.checkRules = true;
    PackageProblem problem;
    std::vector<std::string> tight;  // names that leave less room than an ordinary install folder
    walk.begin = [&](const WalkedEntry& e) {
        progress.Reached((uint64_t)e.offset);
        // The rules hold byte by byte; the characters must also exist, or Windows writes the name
        // with a stand-in character and extract cannot write it at all.
        std::filesystem::path mapped;
        if (!Cp932ToHostPath(".", e.entry.name, mapped)) {
            problem.offset = e.offset;
            problem.name = e.entry.name;
            problem.text = "the name holds a character that code page 932 does not assign";
            return (int)WALK_STOP;
        }
        if (!JudgeNameRoom(e.entry.name, IsFolderEntry(&e.entry), problem.text, tight)) {
            problem.offset = e.offset;
            problem.name = e.entry.name;
            return (int)WALK_STOP;
        }
        return (int)WALK_SKIP;
    };
    WalkSummary summary;
    bool sound = WalkPackage(file.Stream(), walk, &summary, &problem) && problem.text.empty();
    for (const std::string& line : tight)
        PrintTo(stderr, "mkupdate verify: warning: %s\n", line.c_str());
    if (json) {
        PrintTo(stdout, "{\"file\": %s, \"sound\": %s", JsonString(path).c_str(), sound ? "true" : "false");
        if (sound)
            PrintTo(stdout, ", \"files\": %d, \"folders\": %d, \"packageSize\": %d, \"packageOffset\": %lld", summary.files,
                        summary.folders, summary.packageSize, (long long)summary.firstEntryOffset);
        else
            PrintTo(stdout, ", \"problem\": {\"offset\": %lld, \"name\": %s, \"text\": %s}", (long long)problem.offset,
                        JsonString(DisplayName(problem.name)).c_str(), JsonString(problem.text).c_str());
        PrintTo(stdout, "}\n");
    }
    if (!sound)
        return InputError("verify", path + ": " + DescribeProblem(problem));
    if (!json)
        Say("%s: sound: %s, %s, package of %d bytes at offset %lld\n", path.c_str(),
            Count(summary.files, "file", "files").c_str(), Count(summary.folders, "folder", "folders").c_str(),
            summary.packageSize, (long long)summary.firstEntryOffset);
    return kExitOk;
}
