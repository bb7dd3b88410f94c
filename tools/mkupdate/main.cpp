#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

// Add a command here once it exists.
const Command kCommands[] = {
    {"help", "show this help", nullptr},
    {"build", "pack a folder into an update executable", RunBuild},
    {"list", "list the entries of an update", RunList},
    {"verify", "check an update the way the updater will read it", RunVerify},
    {"extract", "write out what the updater would write", RunExtract},
    {"lint", "check an install.env the way the updater reads it", RunLint},
    {"rct", "make an RCT title image from a PNG or BMP, or decode one", RunRct},
};

int PrintUsage(std::FILE* out)
{
    std::fprintf(out, "usage: mkupdate COMMAND [ARGS...]\n\nBuilds and inspects game update executables.\n\ncommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(out, "\n'mkupdate COMMAND --help' explains a command.\n");
    return out == stdout ? kExitOk : kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0)
        return PrintUsage(argc < 2 ? stderr : stdout);
    for (const Command& command : kCommands) {
        if (command.run != nullptr && std::strcmp(argv[1], command.name) == 0)
            return command.run(Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "mkupdate: unknown command '%s'\n\n", argv[1]);
    PrintUsage(stderr);
    return kExitUsage;
}
