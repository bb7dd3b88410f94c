// The mkupdate program: the command table, help, version, and the dispatch to a command.
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include <new>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"

namespace {

// Add a command here once it exists.
const Command kCommands[] = {
    {"help", "show this help", nullptr},
    {"init", "write a starter update folder (settings, title picture, readme)", RunInit},
    {"build", "pack a folder into an update executable", RunBuild},
    {"list", "list the entries of an update", RunList},
    {"verify", "check an update the way the updater will read it", RunVerify},
    {"extract", "write out what the updater would write", RunExtract},
    {"lint", "check an install.env the way the updater reads it", RunLint},
    {"rct", "make an RCT title image from a PNG or BMP, or decode one", RunRct},
    {"convert", "turn a UTF-8 or UTF-16 install.env or readme into code page 932", RunConvert},
    {"try", "run an update under Wine as a player would and compare the game folder", RunTry},
};

int PrintUsage(std::FILE* out)
{
    PrintTo(out, "usage: mkupdate COMMAND [ARGS...]\n\nBuilds and inspects game update executables.\n\ncommands:\n");
    for (const Command& command : kCommands)
        PrintTo(out, "  %-10s %s\n", command.name, command.summary);
    PrintTo(out, "\n'mkupdate help COMMAND' or 'mkupdate COMMAND --help' explains a command;\n"
                      "'mkupdate --version' shows the version. Every command takes -q (quiet) and\n"
                      "--option=value as well as --option value.\n");
    return out == stdout ? kExitOk : kExitUsage;
}

const Command* FindCommand(const char* name)
{
    for (const Command& command : kCommands)
        if (command.run != nullptr && std::strcmp(name, command.name) == 0)
            return &command;
    return nullptr;
}

int UnknownCommand(const char* name)
{
    std::vector<std::string> known;
    for (const Command& command : kCommands)
        known.push_back(command.name);
    PrintTo(stderr, "mkupdate: unknown command '%s'%s\nTry 'mkupdate help'.\n", name, DidYouMean(name, known).c_str());
    return kExitUsage;
}

#ifdef _WIN32
// The arguments as the user typed them, as UTF-8: the ANSI argv would lose every character the
// system's code page lacks, and paths are made from UTF-8 everywhere in mkupdate.
Args Utf8Arguments()
{
    Args args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide != nullptr && i < count; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(size > 0 ? (size_t)size - 1 : 0, '\0');
        if (size > 1)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &utf8[0], size, nullptr, nullptr);
        args.push_back(utf8);
    }
    LocalFree(wide);
    return args;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    Args all = Utf8Arguments();
    std::vector<char*> pointers;
    for (std::string& arg : all)
        pointers.push_back(&arg[0]);
    if ((int)all.size() == argc)
        argv = pointers.data();
#endif
    if (argc < 2)
        return PrintUsage(stderr);
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
        PrintTo(stdout, "mkupdate %s (zlib %s)\n", MKUPDATE_VERSION, zlibVersion());
        return kExitOk;
    }
    if (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        if (argc < 3)
            return PrintUsage(stdout);
        if (std::strcmp(argv[2], "help") == 0)
            return PrintUsage(stdout);
        const Command* command = FindCommand(argv[2]);
        return command != nullptr ? command->run({"--help"}) : UnknownCommand(argv[2]);
    }
    const Command* command = FindCommand(argv[1]);
    if (command == nullptr)
        return UnknownCommand(argv[1]);
    try {
        return command->run(Args(argv + 2, argv + argc));
    } catch (const std::bad_alloc&) {
        // A clean end instead of an abort: nothing half-written stays behind.
        RemoveUnfinishedFile();
        PrintTo(stderr, "mkupdate %s: out of memory; nothing was written\n", argv[1]);
        return kExitInput;
    }
}
