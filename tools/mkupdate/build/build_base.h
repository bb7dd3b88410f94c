// build --base as one step of build: the previous release read and compared, the package's
// entries cut down to what players lack, the removal lines planned (and, with --remove-missing,
// added to the packaged install.env), and the report of it all for people and for CI.
#ifndef MKUPDATE_BUILD_BASE_H
#define MKUPDATE_BUILD_BASE_H

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "build/base_compare.h"
#include "lint/lint.h"
#include "build/package_plan.h"
#include "build/removal_lines.h"

struct BaseRequest {
    std::filesystem::path source;  // SRC_DIR
    // OLD_DIR: every old version the update accepts (each --base); deltas are made from each
    // distinct old version of a changed file, removal lines from every version's files.
    std::vector<std::filesystem::path> bases;
    bool deltas = true;            // false: changed files are packed whole (--no-deltas)
    CollectOptions collect;        // the excludes apply to OLD_DIR too
    LintOptions lint;              // the added removal lines are checked as lint checks the file
    bool removeMissing = false;
    std::vector<std::string> keep;  // --keep patterns, code page 932
    bool allowEmpty = false;        // an update that brings none of the game's files is meant
    int jobs = 1;
    bool progress = false;
};

struct BaseReport {
    BaseResult result;  // every base together: a file is unchanged when it is in every one
    RemovalPlan removals;
    bool removalsAdded = false;
    std::string keyFile;        // KEYFILE (code page 932), empty when absent
    bool keyFileInBase = true;  // false: the warning was given
};

// Cuts `entries` (collected from SRC_DIR, title image made) down to what players lack. False with
// a message when OLD_DIR cannot be read or compared, the removal lines cannot be added, they would
// reach what looks like player data, or the update would bring nothing (unless allowed).
bool ApplyBase(const BaseRequest& request, std::vector<PlannedEntry>& entries, BaseReport& report, std::string& error);

// For people: the missing files and what became of them, and with `explain` every entry's
// verdict. Written to `out`.
void PrintBaseReport(const BaseReport& report, bool explain, std::FILE* out);
// "against OLD_DIR: 2 new, 1 changed, 30 unchanged (left out), 3 removed"
std::string BaseSummary(const BaseReport& report);
// The JSON object of the "base" member of build --json.
std::string BaseReportJson(const BaseReport& report, const std::vector<std::string>& baseDirs);

#endif
