// The explanation model: what the updater will do with a settings file, read by its own readers.
#ifndef MKUPDATE_LINT_MODEL_H
#define MKUPDATE_LINT_MODEL_H

#include <string>
#include <utility>
#include <vector>

// A write of the [ini] or [reg] section: name and value, or the raw line the updater skips.
struct ExplainedWrite {
    bool skipped = false;
    std::string name, value, line;  // UTF-8
};

// All texts in UTF-8.
struct Explanation {
    std::string title, productKey, proposal, keyFile, versionValue;
    bool hasKeyFile = false, hasVersionRange = false, hasReadme = false;
    int versionFrom = 0, versionTo = 0;
    std::string readmeButton, readmeFile, unclosedSection;
    bool hasIni = false, hasReg = false, regWritten = false, hasRemovals = false;
    std::string iniFile, iniSection;
    std::vector<ExplainedWrite> ini, reg;
    std::vector<std::pair<std::string, bool>> removals;  // pattern, taken (inside the folder)
};

// False when the file cannot be read. The lists are explained only when no section is left open.
bool Explain(const std::string& installEnvPath, Explanation& x);

#endif
