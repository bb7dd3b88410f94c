// mkupdate lint [--explain] [install.env]
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "lint.h"

namespace {

const char kLintHelp[] =
    "usage: mkupdate lint [--explain] [--strict] [--allow-wipe] [INSTALL_ENV]\n"
    "\n"
    "Checks a settings file (default: install.env in the current folder) the way the updater\n"
    "will read it. The files beside it are taken as the update's files. Each finding is printed\n"
    "as FILE:LINE: error|warning: message.\n"
    "\n"
    "  --explain   also print what the updater will do: title, product key, version range,\n"
    "              INI and registry writes with a sample install path, files removed afterwards\n"
    "  --strict    count every warning as an error (for CI)\n"
    "  --allow-wipe  accept a removal of every file in the game's folder (\"*\", \"*.*\")\n"
    "  --help      show this help\n"
    "\n"
    "exit status: 0 no errors (warnings may have been printed), 1 errors, 2 wrong usage\n";

}  // namespace

int RunLint(const Args& args)
{
    bool explain = false;
    LintOptions options;
    std::string path;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kLintHelp, stdout);
            return kExitOk;
        }
        if (arg == "--explain") {
            explain = true;
        } else if (arg == "--strict") {
            options.strict = true;
        } else if (arg == "--allow-wipe") {
            options.allowWipe = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "mkupdate lint: unknown option '%s'\n\n%s", arg.c_str(), kLintHelp);
            return kExitUsage;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "mkupdate lint: one settings file at a time\n\n%s", kLintHelp);
            return kExitUsage;
        }
    }
    if (path.empty())
        path = "install.env";
    std::vector<LintFinding> findings = LintSettingsFile(path, options);
    PrintLintFindings(findings, stdout);
    if (explain && !HasLintErrors(findings))
        std::fputs(ExplainSettingsFile(path).c_str(), stdout);
    else if (explain)
        std::fputs("(no explanation while the file has errors)\n", stdout);
    return HasLintErrors(findings) ? kExitInput : kExitOk;
}
