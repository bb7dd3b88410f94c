// The [delfiles_afterinst] lines of build --base for files the new version no longer has.
#include "build/removal_lines.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "build/base_compare.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "lint/settings_replay.h"
#include "settings/action_reader.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "text/cp932_text.h"
#include "text/removal_pattern.h"

namespace {

std::vector<const char*> UpdaterKeys()
{
    std::vector<const char*> keys(std::begin(kUpdaterTextKeys), std::end(kUpdaterTextKeys));
    keys.insert(keys.end(), std::begin(kUpdaterIntegerKeys), std::end(kUpdaterIntegerKeys));
    return keys;
}

const char kRemovalComment[] = "// files of the previous release that this one no longer has (mkupdate build --remove-missing)";

// What the updater's two readers make of a settings text.
struct ReaderView {
    std::vector<std::string> settings;               // the value of each UpdaterKeys() key, "\x01" when absent
    std::vector<std::vector<std::string>> sections;  // the entries of each action list
    int openSection = SECTION_NONE;
};

// Fills the settings table and the action lists from `text`, as the updater does at start-up;
// returns the section left open. The caller frees both with FreeSettings and FreeActionLists.
int LoadAsUpdater(const std::string& text)
{
    return ReplaySettings(text).openSection;
}

ReaderView ReadAsUpdater(const std::string& text)
{
    ReaderView view;
    view.openSection = LoadAsUpdater(text);
    for (const char* key : UpdaterKeys()) {
        char value[TEXT_BUFFER_SIZE];
        view.settings.push_back(GetSetting(key, value, sizeof value, "\x01"));
    }
    view.sections.resize(SECTION_COUNT);
    for (int section = 0; section < SECTION_COUNT; ++section)
        for (const ActionEntry* entry = GetActionList(section); entry != nullptr; entry = entry->next)
            view.sections[(size_t)section].push_back(entry->text);
    FreeSettings();
    FreeActionLists();
    return view;
}

// Where the section reader of the updater leaves room for more removal lines, by byte offset.
struct SectionPlaces {
    TextModeReader reader;
    size_t lineStart = 0;                   // of the line the reader read last
    bool inRemovals = false;                // [delfiles_afterinst] is the open section
    bool sawSection = false;                // the reader entered [delfiles_afterinst]
    size_t sectionEnd = std::string::npos;  // where the last such section ends
    size_t freeEnd = std::string::npos;     // a "[EOF]" line outside every section
    size_t readerEnd = 0;                   // where the reader stopped
};

char* ReadLineNotingStart(char* buffer, int size, void* context)
{
    SectionPlaces& places = *static_cast<SectionPlaces*>(context);
    places.lineStart = places.reader.position;
    char* line = ReadTextModeLine(buffer, size, &places.reader);
    if (line == nullptr)
        places.readerEnd = places.lineStart;
    return line;
}

// Every line that ends a section (a close, a header, the end) ends [delfiles_afterinst] when it
// is the open one.
void NoteSectionLine(void* context, int kind, int section, const char* line)
{
    SectionPlaces& places = *static_cast<SectionPlaces*>(context);
    if (kind == SECTIONLINE_CLOSE || kind == SECTIONLINE_HEADER || kind == SECTIONLINE_END) {
        if (places.inRemovals)
            places.sectionEnd = places.lineStart;
        places.inRemovals = kind == SECTIONLINE_HEADER && section == SECTION_DELFILES_AFTERINST;
        if (places.inRemovals) {
            places.sawSection = true;
            places.sectionEnd = std::string::npos;
        }
    }
    if (kind == SECTIONLINE_END)
        places.readerEnd = places.lineStart;
    if (kind == SECTIONLINE_ENTRY && section == SECTION_NONE && IsSettingsEndLine(line) &&
        places.freeEnd == std::string::npos)
        places.freeEnd = places.lineStart;
}

// The updater's section reader run over `settings`, its observer noting the places.
SectionPlaces FindSectionPlaces(const std::string& settings)
{
    SectionPlaces places;
    InitTextModeReader(&places.reader, settings.data(), settings.size());
    FreeActionLists();
    ReadActionSections(ReadLineNotingStart, &places, NoteSectionLine, &places);
    FreeActionLists();
    return places;
}

// Why `name` cannot stand as a line of its own in [delfiles_afterinst], or "".
std::string UnfitLine(const std::string& name)
{
    if (name.size() >= TEXT_BUFFER_SIZE - 1)
        return "the line would be longer than the updater reads";
    char line[TEXT_BUFFER_SIZE];
    std::snprintf(line, sizeof line, "%s", name.c_str());
    int section = SECTION_NONE;
    int kind = ClassifySectionLine(line, &section);
    if (kind != SECTIONLINE_ENTRY || name != line)
        return "the updater would read the line as a comment, a section mark or the end of the list, not as a "
               "file (it starts with \"-\", \";\", \"EOF\" or a section header)";
    if (!IsConfinedPattern(name.c_str()))
        return "the updater ignores removal lines of this form";
    KeyLine parts;
    std::string asRead = name + "\n";
    if (SplitKeyLine(asRead.c_str(), &parts) == KEYLINE_PAIR) {
        std::string key = name.substr(0, (size_t)parts.keyLength);
        for (const char* known : UpdaterKeys())
            if (key == known)
                return "the updater would read the line as the setting " + key;
    }
    return "";
}

// Glob of one name part, case ignored, by whole code page 932 characters.
bool GlobName(const char* pattern, const char* name)
{
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*')
        return GlobName(pattern + 1, name) || (*name != '\0' && GlobName(pattern, name + NextCharacter(name, 0)));
    if (*name == '\0')
        return false;
    int patternStep = NextCharacter(pattern, 0);
    int nameStep = NextCharacter(name, 0);
    if (*pattern != '?' && (patternStep != nameStep || std::memcmp(pattern, name, (size_t)nameStep) != 0))
        return false;
    return GlobName(pattern + patternStep, name + nameStep);
}

// The parts of a folded name or pattern, split at the backslashes that are separators.
std::vector<std::string> NameParts(const std::string& text)
{
    std::vector<std::string> parts;
    std::string rest = text;
    for (int at; (at = FirstSeparator(rest.c_str())) >= 0; rest = rest.substr((size_t)at + 1))
        parts.push_back(rest.substr(0, (size_t)at));
    parts.push_back(rest);
    return parts;
}

// Folders in which games keep saves, folded as NameKey folds them. セーブ is "save" in Japanese.
const char* const kSaveFolders[] = {"save", "saves", "savedata", "savegame", "savegames", "userdata",
                                    "\x83\x5A\x81\x5B\x83\x75"};
// Folders a game fills while it is played: screenshots (スクリーンショット, スクショ), logs, caches.
const char* const kPlayedFolders[] = {"screenshot", "screenshots",
                                      "\x83\x58\x83\x4E\x83\x8A\x81\x5B\x83\x93\x83\x56\x83\x87\x83\x62\x83\x67",
                                      "\x83\x58\x83\x4E\x83\x56\x83\x87",
                                      "log", "logs", "cache", "caches", "shadercache"};
// Files a game writes beside itself: its settings, its logs, crash dumps.
const char* const kSettingsEndings[] = {".ini", ".cfg", ".conf", ".config", ".prefs"};
const char* const kWrittenEndings[] = {".log", ".dmp"};
// Save files by their ending: the common one, RPG Maker 2000/2003, MV and MZ.
const char* const kSaveEndings[] = {".sav", ".save", ".lsd", ".rpgsave", ".rmmzsave"};
// RPG Maker XP, VX and VX Ace: Save01.rxdata and the like.
const char* const kNumberedSaveEndings[] = {".rxdata", ".rvdata", ".rvdata2"};

bool EndsWith(const std::string& text, const std::string& ending)
{
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::string Folded(const char* text)
{
    return NameKey(text, false);
}

}  // namespace

std::string PlayerDataSign(const std::string& name)
{
    std::vector<std::string> parts = NameParts(NameKey(name, false));
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        for (const char* folder : kSaveFolders)
            if (parts[i] == Folded(folder))
                return "it lies in a save folder (" + DisplayName(folder) + "\\)";
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        for (const char* folder : kPlayedFolders)
            if (parts[i] == Folded(folder))
                return "it lies in a folder a game fills while it is played (" + DisplayName(folder) + "\\)";
    const std::string& file = parts.back();
    for (const char* ending : kSettingsEndings)
        if (EndsWith(file, Folded(ending)))
            return std::string("it is a settings file a game writes (*") + ending + ") and the new version lacks it";
    for (const char* ending : kWrittenEndings)
        if (EndsWith(file, Folded(ending)))
            return std::string("it is a file a game writes while it runs (*") + ending + ")";
    for (const char* ending : kSaveEndings)
        if (EndsWith(file, Folded(ending)))
            return std::string("it is a save file (*") + ending + ")";
    for (const char* ending : kNumberedSaveEndings)
        if (EndsWith(file, Folded(ending)) && file.rfind(Folded("save"), 0) == 0)
            return std::string("it is a save file (Save*") + ending + ")";
    return "";
}

bool KeepMatches(const std::string& pattern, const std::string& name)
{
    std::string slashed = pattern;
    for (int i = 0; i < (int)slashed.size(); i = NextCharacter(slashed.c_str(), i))
        if (slashed[(size_t)i] == '/')
            slashed[(size_t)i] = '\\';
    std::vector<std::string> wanted = NameParts(NameKey(slashed, false));
    std::vector<std::string> parts = NameParts(NameKey(name, false));
    bool folderOnly = wanted.size() > 1 && wanted.back().empty();
    if (folderOnly)
        wanted.pop_back();
    if (wanted.empty() || wanted.front().empty())
        return false;
    if (wanted.size() == 1) {
        size_t last = folderOnly ? parts.size() - 1 : parts.size();
        for (size_t i = 0; i < last; ++i)
            if (GlobName(wanted[0].c_str(), parts[i].c_str()))
                return true;
        return false;
    }
    if (wanted.size() > parts.size() || (folderOnly && wanted.size() == parts.size()))
        return false;
    for (size_t i = 0; i < wanted.size(); ++i)
        if (!GlobName(wanted[i].c_str(), parts[i].c_str()))
            return false;
    return true;
}

SettingsView ReadSettingsView(const std::string& settings)
{
    SettingsView view;
    LoadAsUpdater(settings);
    if (const char* keyFile = GetKeyFile())
        view.keyFile = keyFile;
    char value[TEXT_BUFFER_SIZE];
    if (GetSetting("INSTREADME", value, sizeof value, "-")[0] != '-')
        view.readme = GetReadmeFileName(value, sizeof value);
    for (const ActionEntry* entry = GetActionList(SECTION_DELFILES_AFTERINST); entry != nullptr; entry = entry->next)
        view.removals.push_back(entry->text);
    for (const ActionEntry* entry = GetActionList(SECTION_DELFILES_USER); entry != nullptr; entry = entry->next)
        view.userData.push_back(entry->text);
    FreeSettings();
    FreeActionLists();
    return view;
}

bool RemovalMatches(const std::string& pattern, const std::string& name)
{
    std::string foldedPattern = NameKey(pattern, false), foldedName = NameKey(name, false);
    int patternSplit = LastSeparator(foldedPattern.c_str(), (int)foldedPattern.size()) + 1;
    int nameSplit = LastSeparator(foldedName.c_str(), (int)foldedName.size()) + 1;
    if (foldedPattern.compare(0, (size_t)patternSplit, foldedName, 0, (size_t)nameSplit) != 0 ||
        patternSplit != nameSplit)
        return false;
    return GlobName(foldedPattern.c_str() + patternSplit, foldedName.c_str() + nameSplit);
}

RemovalPlan PlanRemovals(const std::vector<std::string>& missing, const SettingsView& settings,
                         const std::vector<std::string>& emptyFolders, const std::vector<std::string>& keep,
                         const std::vector<std::string>& writtenLater)
{
    RemovalPlan plan;
    std::set<std::string> empty(emptyFolders.begin(), emptyFolders.end());
    std::set<std::string> later;
    for (const std::string& name : writtenLater)
        later.insert(NameKey(name, false));
    for (const std::string& name : missing) {
        if (!settings.keyFile.empty() && NameKey(name, false) == NameKey(settings.keyFile, false)) {
            plan.left.push_back({name, "it is the key file (KEYFILE): without it the next update could not find "
                                       "players' installs. Left in place"});
            continue;
        }
        if (std::any_of(settings.removals.begin(), settings.removals.end(),
                        [&](const std::string& line) { return RemovalMatches(line, name); })) {
            plan.covered.push_back(name);
            continue;
        }
        auto userLine = std::find_if(settings.userData.begin(), settings.userData.end(),
                                     [&](const std::string& line) { return RemovalMatches(line, name); });
        if (userLine != settings.userData.end()) {
            plan.left.push_back({name, "install.env names it as player data ([delfiles_user] " +
                                           DisplayName(*userLine) + "). Left in place"});
            continue;
        }
        auto kept = std::find_if(keep.begin(), keep.end(),
                                 [&](const std::string& pattern) { return KeepMatches(pattern, name); });
        if (kept != keep.end()) {
            plan.left.push_back({name, "kept by --keep " + DisplayName(*kept)});
            continue;
        }
        std::string why = UnfitLine(name);
        int separator = FirstSeparator(name.c_str());
        if (why.empty() && separator > 0 && empty.count(NameKey(name.substr(0, (size_t)separator + 1), true)) != 0)
            why = "the updater would then remove the folder " + DisplayName(name.substr(0, (size_t)separator)) +
                  " too, which this update brings empty";
        std::string sign = why.empty() ? PlayerDataSign(name) : std::string();
        if (why.empty() && sign.empty() && later.count(NameKey(name, false)) != 0)
            sign = "it was written more than a minute after every file of SRC_DIR and every file OLD_DIR shares "
                   "with it, as a game writes while it is played";
        if (!sign.empty()) {
            plan.playerData.push_back(name);
            why = "it looks like player data: " + sign;
        }
        if (!why.empty())
            plan.left.push_back({name, why});
        else
            plan.lines.push_back(name);
    }
    return plan;
}

bool AddRemovalLines(const std::string& settings, const std::vector<std::string>& lines, std::string& result,
                     std::vector<int>& addedLines, std::string& error)
{
    addedLines.clear();
    result = settings;
    if (lines.empty())
        return true;
    SectionPlaces places = FindSectionPlaces(settings);
    std::string eol = settings.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string block;
    size_t at;
    int firstLine = 0;  // of the first removal line within the block
    if (places.sawSection) {
        if (places.sectionEnd == std::string::npos) {
            error = "the [delfiles_afterinst] section of install.env is never closed";
            return false;
        }
        at = places.sectionEnd;
        block = kRemovalComment + eol;
        firstLine = 1;
    } else {
        at = places.freeEnd != std::string::npos ? places.freeEnd : places.readerEnd;
        block = std::string("[delfiles_afterinst]") + eol + kRemovalComment + eol;
        firstLine = 2;
    }
    if (at > 0 && settings[at - 1] != '\n') {
        block = eol + block;
        ++firstLine;
    }
    for (const std::string& line : lines)
        block += line + eol;
    if (!places.sawSection)
        block += "-" + eol;
    result = settings.substr(0, at) + block + settings.substr(at);
    int lineNumber = 1 + (int)std::count(settings.begin(), settings.begin() + (long)at, '\n') + firstLine;
    for (size_t i = 0; i < lines.size(); ++i)
        addedLines.push_back(lineNumber + (int)i);

    // Whatever the lines are, the updater must read every other setting and list as before.
    ReaderView before = ReadAsUpdater(settings), after = ReadAsUpdater(result);
    std::vector<std::string>& removals = before.sections[SECTION_DELFILES_AFTERINST];
    removals.insert(removals.end(), lines.begin(), lines.end());
    bool same = before.settings == after.settings && before.openSection == after.openSection &&
                before.sections == after.sections;
    if (!same) {
        error = "adding the removal lines to install.env would change how the updater reads the rest of it (does "
                "it come near 400 lines?); add them yourself, as build lists them without --remove-missing";
        return false;
    }
    return true;
}
