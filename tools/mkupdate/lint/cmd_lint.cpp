// The lint command: mkupdate lint [--explain] [--json] [--strict] [--allow-wipe] [INSTALL_ENV | UPDATE_DIR]
#include <cstdio>
#include <filesystem>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "lint/lint.h"
#include "cli/text_util.h"

namespace {

const char kLintHelp[] =
    "usage: mkupdate lint [--explain] [--json] [--strict] [--allow-wipe] [INSTALL_ENV | UPDATE_DIR]\n"
    "\n"
    "Checks a settings file (default: install.env in the current folder; for a folder, the\n"
    "install.env in it) the way the updater will read it. The files beside it are taken as the\n"
    "update's files. Each finding is printed as FILE:LINE: error|warning: message.\n"
    "\n"
    "  --explain     also print what the updater will do: title, product key, version range,\n"
    "                INI and registry writes with a sample install path, files removed afterwards\n"
    "  --json        print the findings (and the explanation) as one JSON object\n"
    "  --strict      count every warning as an error (for CI)\n"
    "  --allow-wipe  accept a removal of every file in the game's folder (\"*\", \"*.*\")\n"
    "  -h, --help    show this help\n"
    "\n"
    "exit status: 0 no errors (warnings may have been printed), 1 errors, 2 wrong usage\n";

std::string FindingsJson(const std::vector<LintFinding>& findings)
{
    std::string out = "[";
    for (size_t i = 0; i < findings.size(); ++i) {
        const LintFinding& f = findings[i];
        out += std::string(i == 0 ? "" : ",") + "\n    {\"file\": " + JsonString(f.file) + ", \"line\": " +
               std::to_string(f.line) + ", \"severity\": \"" + (f.error ? "error" : "warning") +
               "\", \"message\": " + JsonString(f.message) + "}";
    }
    return out + (findings.empty() ? "]" : "\n  ]");
}

}  // namespace

int RunLint(const Args& args)
{
    bool explain = false, json = false;
    LintOptions options;
    auto flag = [](bool& target) {
        return [&target](const std::string&) {
            target = true;
            return std::string();
        };
    };
    std::vector<std::string> operands;
    int stop = ReadCommandLine("lint", kLintHelp, args,
                               {{{"--explain"}, false, flag(explain)},
                                {{"--json"}, false, flag(json)},
                                {{"--strict"}, false, flag(options.strict)},
                                {{"--allow-wipe"}, false, flag(options.allowWipe)}},
                               operands);
    if (stop >= 0)
        return stop;
    if (operands.size() > 1)
        return UsageError("lint", "one settings file at a time");
    std::string path = operands.empty() ? "install.env" : operands[0];
    std::error_code code;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), code))
        path = (std::filesystem::u8path(path) / "install.env").u8string();
    std::vector<LintFinding> findings = LintSettingsFile(path, options);
    bool errors = HasLintErrors(findings);
    if (json) {
        PrintTo(stdout, "{\n  \"file\": %s,\n  \"errors\": %s,\n  \"findings\": %s", JsonString(path).c_str(),
                    errors ? "true" : "false", FindingsJson(findings).c_str());
        if (explain && !errors)
            PrintTo(stdout, ",\n  \"explanation\": %s", ExplainSettingsFileJson(path).c_str());
        PrintTo(stdout, "\n}\n");
        return errors ? kExitInput : kExitOk;
    }
    PrintLintFindings(findings, stdout);
    if (explain && !errors)
        PrintTo(stdout, "%s", ExplainSettingsFile(path).c_str());
    else if (explain)
        PrintTo(stdout, "(no explanation while the file has errors)\n");
    return errors ? kExitInput : kExitOk;
}
