// Lint: checks an install.env the way the updater will read it, and explains what it will do.

// A game maker hears about every silently ignored mistake before shipping; `mkupdate build` runs
// LintSettingsFile first and refuses a file with errors. The rules are in lint_rules.cpp and
// lint_file_rules.cpp, the explanation's model in lint_model.cpp, the printing in lint_output.cpp.
#ifndef MKUPDATE_LINT_H
#define MKUPDATE_LINT_H

#include <cstdio>
#include <string>
#include <vector>

struct LintFinding {
    std::string file;
    int line = 0;
    bool error = false;
    std::string message;  // UTF-8
};

struct LintOptions {
    bool allowWipe = false;  // a removal of every file in the game's folder is meant
    bool strict = false;     // every warning counts as an error
};

// The files beside installEnvPath are taken as the update's files.
std::vector<LintFinding> LintSettingsFile(const std::string& installEnvPath, const LintOptions& options = {});
bool HasLintErrors(const std::vector<LintFinding>& findings);
// "FILE:LINE: error|warning: message"
std::string FormatLintFinding(const LintFinding& finding);
void PrintLintFindings(const std::vector<LintFinding>& findings, std::FILE* out);
// What the updater will do with the file, in UTF-8; empty when the file cannot be read.
std::string ExplainSettingsFile(const std::string& installEnvPath);
// The same as a JSON object ("null" when the file cannot be read); removals the updater ignores
// are left out.
std::string ExplainSettingsFileJson(const std::string& installEnvPath);

#endif
