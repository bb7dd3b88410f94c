// build --base as one step of build: the previous release compared and the plan narrowed to it.
#include "build/build_base.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "cli/command_line.h"
#include "host/host_files.h"
#include "text/cp932_text.h"
#include "cli/text_util.h"
#include "build/delta_match.h"

namespace fs = std::filesystem;

namespace {

const char* StateWord(const Verdict& verdict)
{
    switch (verdict.state) {
    case BaseState::kNew: return "new";
    case BaseState::kChanged: return "changed";
    case BaseState::kCarried: return verdict.folder ? "needed" : "setup";
    case BaseState::kUnchanged: return "unchanged";
    }
    return "";
}

// The new tree's folders that hold nothing, as NameKey keys.
std::vector<std::string> EmptyFolders(const std::vector<Verdict>& verdicts)
{
    std::set<std::string> parents;
    for (const Verdict& verdict : verdicts) {
        const char* name = verdict.name.c_str();
        int length = (int)verdict.name.size();
        for (int i = 0; i < length; i = NextCharacter(name, i))
            if (name[i] == '\\' && i + 1 < length)
                parents.insert(NameKey(verdict.name.substr(0, (size_t)i + 1), true));
    }
    std::vector<std::string> empty;
    for (const Verdict& verdict : verdicts)
        if (verdict.folder && parents.count(NameKey(verdict.name, true)) == 0)
            empty.push_back(NameKey(verdict.name, true));
    return empty;
}

// The settings with the removal lines, checked line by line as lint checks a removal.
bool CheckAddedLines(const std::string& settings, const std::vector<int>& added, const LintOptions& options,
                     std::string& error)
{
    // A name of its own, so builds running side by side never share the folder.
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path folder = fs::temp_directory_path() /
                      ("mkupdate-settings-" + std::to_string(now) + "-" + std::to_string(std::hash<std::string>()(settings)));
    std::error_code code;
    fs::create_directories(folder, code);
    fs::path file = folder / "install.env";
    if (code || !WriteWholeFile(file.u8string(), settings)) {
        error = "cannot write a copy of install.env to check it in " + PathForDisplay(folder);
        fs::remove_all(folder, code);
        return false;
    }
    std::vector<LintFinding> findings = LintSettingsFile(file.u8string(), options);
    fs::remove_all(folder, code);
    findings.erase(std::remove_if(findings.begin(), findings.end(),
                                  [&](const LintFinding& f) {
                                      return std::find(added.begin(), added.end(), f.line) == added.end();
                                  }),
                   findings.end());
    for (LintFinding& finding : findings)
        finding.file = "install.env (as packaged)";
    PrintLintFindings(findings, stderr);
    if (HasLintErrors(findings)) {
        error = "a removal line for a missing file breaks a rule of install.env (see above); remove the file from "
                "players' folders another way, or leave out --remove-missing";
        return false;
    }
    return true;
}

bool AddRemovalsToSettings(const BaseRequest& request, const std::string& settings, std::vector<PlannedEntry>& entries,
                           const RemovalPlan& plan, std::string& error)
{
    std::string updated;
    std::vector<int> added;
    if (!AddRemovalLines(settings, plan.lines, updated, added, error) ||
        !CheckAddedLines(updated, added, request.lint, error))
        return false;
    for (PlannedEntry& entry : entries) {
        if (entry.folder || entry.name != "install.env")
            continue;
        entry.generated = true;
        entry.contents = updated;
        entry.size = updated.size();
        return true;
    }
    error = "install.env is not among the files to pack";
    return false;
}

std::string JsonNames(const std::vector<std::string>& names)
{
    std::string out = "[";
    for (size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "" : ", ") + JsonString(DisplayName(names[i]));
    return out + "]";
}

// The OLD_DIR folders, for messages.
std::string BaseFolders(const BaseRequest& request)
{
    std::string text;
    for (const fs::path& base : request.bases)
        text += (text.empty() ? "" : ", ") + PathForDisplay(base);
    return text;
}

// --remove-missing on a played copy would delete players' saves: stop and say how to go on.
std::string PlayerDataError(const BaseRequest& request, const RemovalPlan& plan)
{
    std::string list;
    for (const std::string& name : plan.playerData) {
        list += "\n  " + DisplayName(name);
        for (const RemovalPlan::Left& left : plan.left)
            if (left.name == name)
                list += " (" + left.why.substr(left.why.find(": ") + 2) + ")";
    }
    return "OLD_DIR " + BaseFolders(request) + " holds " +
           Count((long long)plan.playerData.size(), "file", "files") +
           " that SRC_DIR lacks and that look like player data; --remove-missing would delete them from "
           "players' folders:" + list +
           "\nOLD_DIR must be the release as shipped, not a copy anyone has played. Remove them from OLD_DIR, list "
           "them under [delfiles_user] in install.env, keep them in players' folders with --keep PATTERN (e.g. "
           "--keep save/, --keep '*.ini'), or, for a file of the old release that is meant to go, add its line to "
           "[delfiles_afterinst] yourself";
}

// The readme is always packed and replaces a file of the same name in players' folders; one that
// equals the old release's file says the maker's text was lost.
void WarnOfReplacedReadme(const BaseRequest& request, const SettingsView& view, const OldTree& old)
{
    if (view.readme.empty())
        return;
    auto found = old.byName.find(NameKey(view.readme, false));
    if (found == old.byName.end())
        return;
    for (const OldEntry& entry : found->second) {
        fs::path ours;
        if (entry.folder || !Cp932ToHostPath(request.source, view.readme, ours))
            continue;
        std::vector<char> a(1 << 16), b(1 << 16);
        std::string error;
        uint64_t read = 0;
        int same = SameContents(ours, entry.path, a, b, &read, error);
        if (same == 1) {
            // Copying the new version in after mkupdate init puts the game's own readme over the
            // update's, and the two release's readmes agree: no other sign shows it.
            PrintTo(stderr,
                    "mkupdate build: warning: the update's readme %s is byte for byte %s of OLD_DIR: players "
                    "would open the old release's text, not what this update changes. Was it overwritten when "
                    "the game's files were copied in? Write the update's text into it (and, to keep the game's "
                    "readme, give it a name of its own with INSTREADMEFL)\n",
                    PathForDisplay(ours).c_str(), PathForDisplay(entry.path).c_str());
            continue;
        }
        if (same != 0)
            continue;
        PrintTo(stderr,
                "mkupdate build: warning: the update's readme %s replaces %s of OLD_DIR, which says something "
                "else: players lose that text. Give the update's readme a name of its own (INSTREADMEFL) to keep "
                "both\n",
                PathForDisplay(ours).c_str(), PathForDisplay(entry.path).c_str());
    }
}

// A minute in FILETIME ticks (100 ns): a copy of a release takes less, a game session more.
const uint64_t kMinute = 60ull * 10000000ull;

// The missing files written more than a minute after every file of SRC_DIR (`newestSource`) and
// every file an OLD_DIR shares with it: a game wrote them while it was played, after the release
// was in place. A release copied afresh has all its files from the same minute.
std::vector<std::string> WrittenAfterRelease(const BaseResult& result, const std::vector<OldTree>& olds,
                                             uint64_t newestSource)
{
    uint64_t newest = newestSource;
    for (const Verdict& verdict : result.verdicts) {
        if (verdict.folder || verdict.state == BaseState::kNew)
            continue;
        for (const OldTree& old : olds) {
            auto found = old.byName.find(NameKey(verdict.name, false));
            if (found == old.byName.end())
                continue;
            for (const OldEntry& entry : found->second) {
                uint64_t time = 0;
                if (!entry.folder && ReadHostFileTime(entry.path, time))
                    newest = std::max(newest, time);
            }
        }
    }
    std::vector<std::string> later;
    for (const OldEntry& entry : result.missingFiles) {
        uint64_t time = 0;
        if (newest != 0 && ReadHostFileTime(entry.path, time) && time > newest + kMinute)
            later.push_back(entry.name);
    }
    return later;
}

// Only the setup files, no removal: the update would change nothing in players' folders.
bool BringsNothing(const BaseReport& report)
{
    const BaseResult& r = report.result;
    return r.newFiles == 0 && r.changedFiles == 0 && r.newFolders == 0 && !report.removalsAdded;
}

// Reads every OLD_DIR; each must be a folder other than SRC_DIR.
bool ReadBases(const BaseRequest& request, std::vector<OldTree>& olds, std::string& error)
{
    olds.resize(request.bases.size());
    for (size_t b = 0; b < request.bases.size(); ++b) {
        const fs::path& base = request.bases[b];
        std::error_code code;
        if (!fs::is_directory(base, code)) {
            error = PathForDisplay(base) + ": OLD_DIR is not a folder";
            return false;
        }
        if (fs::equivalent(base, request.source, code)) {
            error = "OLD_DIR and SRC_DIR are the same folder; OLD_DIR is the previous release as it shipped";
            return false;
        }
        if (!ReadOldTree(base, ExcludePatterns(request.source, request.collect), request.collect.defaultExcludes,
                         olds[b], error))
            return false;
    }
    return true;
}

// A file's or folder's verdict over every base: unchanged only when unchanged in each, new only
// when new in each.
BaseState MergedState(const std::vector<BaseResult>& results, size_t index)
{
    bool allUnchanged = true, allNew = true, anyNew = false;
    for (const BaseResult& result : results) {
        BaseState state = result.verdicts[index].state;
        if (state == BaseState::kCarried)
            return BaseState::kCarried;
        allUnchanged = allUnchanged && state == BaseState::kUnchanged;
        allNew = allNew && state == BaseState::kNew;
        anyNew = anyNew || state == BaseState::kNew;
    }
    if (allUnchanged)
        return BaseState::kUnchanged;
    if (results[0].verdicts[index].folder)
        return anyNew ? BaseState::kNew : BaseState::kCarried;
    return allNew ? BaseState::kNew : BaseState::kChanged;
}

// The old file of that name in one base, or none (absent, or a folder).
const OldEntry* OldFileOf(const OldTree& old, const std::string& name)
{
    auto found = old.byName.find(NameKey(name, false));
    if (found == old.byName.end())
        return nullptr;
    for (const OldEntry& entry : found->second)
        if (!entry.folder)
            return &entry;
    return nullptr;
}

// The distinct old versions of a changed file for its deltas: none when a base lacks the file
// (those players need it whole anyway), one for each different content among the bases where it
// changed, in --base order.
bool PlanDeltaBases(PlannedEntry& entry, const std::vector<OldTree>& olds, const std::vector<BaseResult>& results,
                    size_t index, std::string& error)
{
    std::vector<fs::path> changed;
    for (size_t b = 0; b < olds.size(); ++b) {
        const OldEntry* old = OldFileOf(olds[b], entry.name);
        if (old == nullptr)
            return true;
        if (results[b].verdicts[index].state == BaseState::kChanged)
            changed.push_back(old->path);
    }
    std::set<std::string> versions;
    for (const fs::path& path : changed) {
        uint64_t size = 0;
        unsigned char hash[SHA256_SIZE];
        if (changed.size() > 1 && !HashFile(path, size, hash, error))
            return false;
        std::string version = std::to_string(size) + ":" + std::string(reinterpret_cast<char*>(hash), SHA256_SIZE);
        if (changed.size() == 1 || versions.insert(version).second)
            entry.deltaBases.push_back(path);
    }
    return true;
}

// Compares SRC_DIR with every base and keeps what any base's players lack; the verdicts, counts
// and missing files of all bases together in `merged`.
bool CompareWithBases(const BaseRequest& request, const std::vector<OldTree>& olds, const BaseOptions& options,
                      std::vector<PlannedEntry>& entries, BaseResult& merged, std::string& error)
{
    std::vector<BaseResult> results(olds.size());
    std::set<std::string> kept;
    for (size_t b = 0; b < olds.size(); ++b) {
        std::vector<PlannedEntry> left = entries;
        if (!CompareWithBase(left, olds[b], options, results[b], error))
            return false;
        for (const PlannedEntry& entry : left)
            kept.insert(NameKey(entry.name, entry.folder));
    }
    merged.verdicts = results[0].verdicts;
    std::set<std::string> missing, missingFolders, unnamed;
    for (const BaseResult& result : results) {
        merged.comparedBytes += result.comparedBytes;
        for (const OldEntry& entry : result.missingFiles)
            if (missing.insert(NameKey(entry.name, false)).second)
                merged.missingFiles.push_back(entry);
        for (const OldEntry& entry : result.missingFolders)
            if (missingFolders.insert(NameKey(entry.name, true)).second)
                merged.missingFolders.push_back(entry);
        for (const std::string& name : result.unnamed)
            if (unnamed.insert(name).second)
                merged.unnamed.push_back(name);
    }
    auto byName = [](const OldEntry& a, const OldEntry& b) { return a.name < b.name; };
    std::sort(merged.missingFiles.begin(), merged.missingFiles.end(), byName);
    std::sort(merged.missingFolders.begin(), merged.missingFolders.end(), byName);
    std::vector<PlannedEntry> packed;
    for (size_t i = 0; i < entries.size(); ++i) {
        Verdict& verdict = merged.verdicts[i];
        verdict.state = MergedState(results, i);
        if (!kept.count(NameKey(entries[i].name, entries[i].folder)))
            verdict.state = BaseState::kUnchanged;
        switch (verdict.state) {
        case BaseState::kNew: verdict.folder ? ++merged.newFolders : ++merged.newFiles; break;
        case BaseState::kChanged: ++merged.changedFiles; break;
        case BaseState::kCarried: verdict.folder ? ++merged.neededFolders : ++merged.carriedFiles; break;
        case BaseState::kUnchanged: verdict.folder ? ++merged.keptFolders : ++merged.unchangedFiles; break;
        }
        if (verdict.state == BaseState::kUnchanged)
            continue;
        if (verdict.state == BaseState::kChanged && request.deltas &&
            !PlanDeltaBases(entries[i], olds, results, i, error))
            return false;
        packed.push_back(std::move(entries[i]));
    }
    entries = std::move(packed);
    return true;
}

}  // namespace

bool ApplyBase(const BaseRequest& request, std::vector<PlannedEntry>& entries, BaseReport& report, std::string& error)
{
    std::string settings;
    if (!ReadWholeFile(request.source / "install.env", settings)) {
        error = PathForDisplay(request.source / "install.env") + ": cannot read it";
        return false;
    }
    SettingsView view = ReadSettingsView(settings);
    report.keyFile = view.keyFile;

    std::vector<OldTree> olds;
    if (!ReadBases(request, olds, error))
        return false;
    BaseOptions options;
    options.jobs = request.jobs;
    options.progress = request.progress;
    // The updater reads these from its work folder, so every update carries them.
    options.carried = {"install.env", "insttscr.rct"};
    if (!view.readme.empty())
        options.carried.push_back(view.readme);
    uint64_t newestSource = 0;
    for (const PlannedEntry& entry : entries)
        if (!entry.folder && !entry.generated)
            newestSource = std::max(newestSource, entry.lastWriteTime);
    if (!CompareWithBases(request, olds, options, entries, report.result, error))
        return false;
    for (size_t b = 0; b < olds.size(); ++b)
        WarnOfReplacedReadme(request, view, olds[b]);

    for (size_t b = 0; b < olds.size() && !view.keyFile.empty(); ++b) {
        if (OldFileOf(olds[b], view.keyFile) != nullptr)
            continue;
        report.keyFileInBase = false;
        PrintTo(stderr,
                "mkupdate build: warning: the key file %s (KEYFILE) is not in OLD_DIR %s: the updater finds "
                "players' installs by it, so it would refuse every install like OLD_DIR. Is OLD_DIR the game "
                "as it shipped?\n",
                DisplayName(view.keyFile).c_str(), PathForDisplay(request.bases[b]).c_str());
    }

    std::vector<std::string> missing;
    for (const OldEntry& entry : report.result.missingFiles)
        missing.push_back(entry.name);
    report.removals = PlanRemovals(missing, view, EmptyFolders(report.result.verdicts), request.keep,
                                   WrittenAfterRelease(report.result, olds, newestSource));
    if (request.removeMissing && !report.removals.playerData.empty()) {
        error = PlayerDataError(request, report.removals);
        return false;
    }
    if (request.removeMissing && !report.removals.lines.empty()) {
        if (!AddRemovalsToSettings(request, settings, entries, report.removals, error))
            return false;
        report.removalsAdded = true;
    }
    if (BringsNothing(report) && !request.allowEmpty) {
        error = "the update brings nothing of the game: every file of SRC_DIR is the same in OLD_DIR " +
                BaseFolders(request) + " (is OLD_DIR the new version itself?); only the setup files would "
                "be packed. Give the previous release as --base, or --allow-empty if that is meant";
        return false;
    }
    return true;
}

void PrintBaseReport(const BaseReport& report, bool explain, std::FILE* out)
{
    const BaseResult& result = report.result;
    if (explain) {
        std::vector<Verdict> verdicts = result.verdicts;
        std::sort(verdicts.begin(), verdicts.end(), [](const Verdict& a, const Verdict& b) { return a.name < b.name; });
        for (const Verdict& verdict : verdicts) {
            std::string note;
            if (!verdict.oldName.empty())
                note = "  (OLD_DIR: " + DisplayName(verdict.oldName) + ", the same name on Windows)";
            PrintTo(out, "%-9s %s%s\n", StateWord(verdict), DisplayName(verdict.name).c_str(), note.c_str());
        }
        for (const OldEntry& folder : result.missingFolders)
            PrintTo(out, "%-9s %s\n", "gone", DisplayName(folder.name).c_str());
    }
    for (const std::string& name : report.removals.covered)
        PrintTo(out, "missing: %s (install.env removes it already)\n", DisplayName(name).c_str());
    for (const RemovalPlan::Left& left : report.removals.left)
        PrintTo(out, "missing: %s: no removal line: %s\n", DisplayName(left.name).c_str(), left.why.c_str());
    for (const std::string& name : result.unnamed)
        PrintTo(out, "missing: %s: no removal line: the name has no code page 932 form, so the updater cannot "
                     "name it\n", EscapeControls(name).c_str());
    const std::vector<std::string>& lines = report.removals.lines;
    if (lines.empty())
        return;
    if (report.removalsAdded) {
        PrintTo(out, "%s of OLD_DIR missing from SRC_DIR: these lines are added to [delfiles_afterinst] of the "
                     "packaged install.env (SRC_DIR's file stays as it is):\n",
                Count((long long)lines.size(), "file", "files").c_str());
    } else {
        PrintTo(out, "%s of OLD_DIR missing from SRC_DIR: the update leaves them in players' folders. To remove "
                     "them, add these lines to the [delfiles_afterinst] section of install.env, or build with "
                     "--remove-missing:\n",
                Count((long long)lines.size(), "file", "files").c_str());
    }
    for (const std::string& line : lines)
        PrintTo(out, "%s\n", DisplayName(line).c_str());
}

std::string BaseSummary(const BaseReport& report)
{
    const BaseResult& r = report.result;
    size_t missing = r.missingFiles.size();
    std::string text = std::to_string(r.newFiles) + " new, " + std::to_string(r.changedFiles) + " changed, " +
                       std::to_string(r.unchangedFiles) + " unchanged (left out), ";
    if (report.removalsAdded)
        text += std::to_string(report.removals.lines.size()) + " removed";
    else
        text += std::to_string(report.removals.covered.size()) + " removed";
    size_t kept = missing - report.removals.covered.size() - (report.removalsAdded ? report.removals.lines.size() : 0);
    if (kept > 0)
        text += ", " + std::to_string(kept) + " missing left in place";
    if (r.carriedFiles > 0)
        text += "; " + Count(r.carriedFiles, "setup file", "setup files") + " always packed";
    return text;
}

std::string BaseReportJson(const BaseReport& report, const std::vector<std::string>& baseDirs)
{
    const BaseResult& r = report.result;
    std::vector<std::string> groups[4];
    std::string renamed = "[";
    for (const Verdict& verdict : r.verdicts) {
        if (!verdict.folder)
            groups[(int)verdict.state].push_back(verdict.name);
        if (!verdict.oldName.empty())
            renamed += std::string(renamed.size() > 1 ? ", " : "") + "{\"name\": " +
                       JsonString(DisplayName(verdict.name)) + ", \"oldName\": " +
                       JsonString(DisplayName(verdict.oldName)) + "}";
    }
    renamed += "]";
    std::vector<std::string> missing, leftNames, folders;
    for (const OldEntry& entry : r.missingFiles)
        missing.push_back(entry.name);
    for (const OldEntry& entry : r.missingFolders)
        folders.push_back(entry.name);
    std::string left = "[";
    for (const RemovalPlan::Left& item : report.removals.left)
        left += std::string(left.size() > 1 ? ", " : "") + "{\"name\": " + JsonString(DisplayName(item.name)) +
                ", \"why\": " + JsonString(item.why) + "}";
    left += "]";
    std::string unnamed = "[";
    for (const std::string& name : r.unnamed)
        unnamed += std::string(unnamed.size() > 1 ? ", " : "") + JsonString(name);
    unnamed += "]";
    std::string dirs = "[";
    for (const std::string& dir : baseDirs)
        dirs += (dirs.size() > 1 ? ", " : "") + JsonString(dir);
    dirs += "]";
    return "{\"oldDir\": " + JsonString(baseDirs.front()) + ", \"oldDirs\": " + dirs + ", \"new\": " + JsonNames(groups[(int)BaseState::kNew]) +
           ", \"changed\": " + JsonNames(groups[(int)BaseState::kChanged]) +
           ", \"setup\": " + JsonNames(groups[(int)BaseState::kCarried]) +
           ", \"unchanged\": " + std::to_string(r.unchangedFiles) + ", \"comparedBytes\": " +
           std::to_string(r.comparedBytes) + ", \"renamed\": " + renamed + ", \"missing\": " + JsonNames(missing) +
           ", \"missingFolders\": " + JsonNames(folders) + ", \"removalLines\": " + JsonNames(report.removals.lines) +
           ", \"removalLinesAdded\": " + (report.removalsAdded ? "true" : "false") +
           ", \"alreadyRemoved\": " + JsonNames(report.removals.covered) + ", \"notRemovable\": " + left +
           ", \"unnamed\": " + unnamed + ", \"keyFile\": " +
           (report.keyFile.empty() ? std::string("null") : JsonString(DisplayName(report.keyFile))) +
           ", \"keyFileInOldDir\": " + (report.keyFileInBase ? "true" : "false") + "}";
}
