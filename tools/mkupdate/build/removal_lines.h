// The removal lines of build --base: which files of the previous release a line of
// [delfiles_afterinst] may remove, and the settings text with those lines added so that the
// updater's two readers take everything else exactly as before.
#ifndef MKUPDATE_REMOVAL_LINES_H
#define MKUPDATE_REMOVAL_LINES_H

#include <string>
#include <vector>

// What build --base reads from install.env, through the updater's own readers.
struct SettingsView {
    std::string keyFile;                 // KEYFILE, code page 932; empty when absent
    std::string readme;                  // INSTREADMEFL when INSTREADME is used; else empty
    std::vector<std::string> removals;   // the [delfiles_afterinst] lines the updater acts on
    std::vector<std::string> userData;   // the [delfiles_user] lines: what players make (saves)
};
SettingsView ReadSettingsView(const std::string& settings);

struct RemovalPlan {
    std::vector<std::string> lines;  // code page 932, one removal each
    struct Left {
        std::string name;
        std::string why;  // UTF-8
    };
    std::vector<Left> left;             // missing files no line may remove
    std::vector<std::string> covered;   // missing files a line of the settings file removes already
    // Missing files that look like player data which neither [delfiles_user] nor --keep names:
    // also in `left`. A played copy given as the previous release shows itself by them.
    std::vector<std::string> playerData;
};

// `missing`: names of files in the previous release only. `emptyFolders`: NameKey of the new
// tree's folders that hold nothing (removing the last file of a first-level folder removes that
// folder too). `keep`: the --keep patterns, in code page 932. `writtenLater`: missing files
// whose time says a game wrote them after the release was in place (WrittenAfterRelease).
RemovalPlan PlanRemovals(const std::vector<std::string>& missing, const SettingsView& settings,
                         const std::vector<std::string>& emptyFolders, const std::vector<std::string>& keep = {},
                         const std::vector<std::string>& writtenLater = {});

// Why the file `name` (code page 932) looks like something a player made rather than part of a
// release: "" when it does not. The names checked are listed in build's help: saves, settings
// files a game writes (*.ini, *.cfg, ...), logs and dumps, and what lies in folders of saves,
// screenshots, logs and caches.
std::string PlayerDataSign(const std::string& name);

// True when the --keep pattern (code page 932, "/" or "\" between folders, "*" and "?" within
// one name, case ignored) names the file `name`: a pattern without a folder part names a file or
// folder anywhere, one with a folder part the path from the top; a folder named keeps all it holds.
bool KeepMatches(const std::string& pattern, const std::string& name);

// True when the removal line `pattern` (with "*" and "?" in its last part) deletes the file `name`.
bool RemovalMatches(const std::string& pattern, const std::string& name);

// `settings` with `lines` added at the end of the [delfiles_afterinst] section the updater reads,
// or in a new one before "[EOF]". False with a message when the updater's readers would take any
// other line differently afterwards. `addedLines` receives the line numbers of the added lines.
bool AddRemovalLines(const std::string& settings, const std::vector<std::string>& lines, std::string& result,
                     std::vector<int>& addedLines, std::string& error);

#endif
