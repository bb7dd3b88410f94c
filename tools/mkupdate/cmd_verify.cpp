// mkupdate verify UPDATE.exe
#include <cstdio>

#include "commands.h"
#include "update_file.h"

namespace {

const char kVerifyHelp[] =
    "usage: mkupdate verify UPDATE.exe\n"
    "\n"
    "Checks an update executable the way the updater will meet it: the trailer and layout, every\n"
    "entry header, the rules of the format (names that stay inside the installed folder, folders\n"
    "before their contents, setup files where the setup pass can unpack them), and inflates\n"
    "every stream, checking its Adler-32 and that it ends exactly where its size says.\n"
    "\n"
    "  --help   show this help\n"
    "\n"
    "exit status: 0 sound, 1 a problem (the first one is printed with its byte offset), 2 wrong usage\n";

}  // namespace

int RunVerify(const Args& args)
{
    std::string path;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kVerifyHelp, stdout);
            return kExitOk;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "mkupdate verify: unknown option '%s'\n\n%s", arg.c_str(), kVerifyHelp);
            return kExitUsage;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "mkupdate verify: one update at a time\n\n%s", kVerifyHelp);
            return kExitUsage;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "mkupdate verify: which update? UPDATE.exe is missing\n\n%s", kVerifyHelp);
        return kExitUsage;
    }
    UpdateFile file;
    if (!file.Open(path)) {
        std::fprintf(stderr, "mkupdate verify: %s: cannot open the file\n", path.c_str());
        return kExitInput;
    }
    PackageWalk walk;
    walk.inflateAll = true;
    walk.checkRules = true;
    walk.begin = [](const WalkedEntry&) { return (int)WALK_SKIP; };
    WalkSummary summary;
    PackageProblem problem;
    if (!WalkPackage(file.Stream(), walk, &summary, &problem)) {
        std::fprintf(stderr, "mkupdate verify: %s: %s\n", path.c_str(), DescribeProblem(problem).c_str());
        return kExitInput;
    }
    std::printf("%s: sound: %d files, %d folders, package of %d bytes at offset %lld\n", path.c_str(), summary.files,
                summary.folders, summary.packageSize, (long long)summary.firstEntryOffset);
    return kExitOk;
}
