// Lint's first pass: every line of install.env as the updater's two readers take it.
#include "lint/lint_rules.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "build/name_room.h"
#include "cli/text_util.h"
#include "host/host_files.h"
#include "lint/lint_text.h"
#include "lint/settings_replay.h"
#include "lint/version_rules.h"
#include "settings/action_lists.h"
#include "settings/settings.h"
#include "text/cp932_text.h"

namespace fs = std::filesystem;

namespace {

// Carried by the settings files of this format for other tools; the updater never reads them.
const char* const kForeignKeys[] = {"INST_GROUP", "EXENAME"};

class LineRules {
public:
    LineRules(const std::string& path, const std::string& bytes, const LintOptions& options)
        : bytes_(bytes), options_(options), findings_(path)
    {
        file_.path = path;
    }

    std::vector<LintFinding> Run(std::vector<std::string> files)
    {
        file_.files = std::move(files);
        if (!CheckWholeFile())
            return findings_.Take();
        CheckPhysicalLines();
        // The settings table stays filled for the rules below, which read it through the
        // updater's accessors; the action lists are read from the replay's reports instead.
        replay_ = ReplaySettings(bytes_);
        FreeActionLists();
        KeepStoredValues();
        FindWhereKeysStop();
        for (size_t i = 0; i < replay_.pieces.size(); i++) {
            if (i < replay_.sectionLines.size())
                HearSectionLine(i, replay_.sectionLines[i]);
            else
                LookAtUnreadLine(i);
        }
        CheckSectionLeftOpen();
        for (const EntryLine& entry : file_.entries)
            CheckEntry(entry, file_, options_, findings_);
        CheckSettingsTogether(file_, findings_);
        for (const VersionFinding& finding : CheckVersionGate(replay_)) {
            if (finding.error)
                findings_.Fail(finding.line, finding.message);
            else
                findings_.Warn(finding.line, finding.message);
        }
        FreeSettings();
        return findings_.Take();
    }

private:
    // An empty file or one in the wrong encoding says nothing line by line.
    bool CheckWholeFile()
    {
        if (bytes_.find_first_not_of(" \t\r\n\x1A") == std::string::npos) {
            findings_.Fail(1, "the settings file is empty: the updater would show no title and look for the product "
                              "under Software\\-\\-, which no game registers");
            return false;
        }
        std::string encoding = EncodingProblem(bytes_, fs::u8path(file_.path).filename().u8string(),
                                               PathAsArgument(fs::u8path(file_.path)));
        if (!encoding.empty()) {
            findings_.Fail(1, encoding);
            return false;
        }
        return true;
    }

    void CheckPhysicalLines()
    {
        bool cutByCtrlZ = false;
        std::vector<std::string> lines = PhysicalLines(bytes_, &cutByCtrlZ);
        for (size_t i = 0; i < lines.size(); i++) {
            int number = (int)i + 1;
            if (lines[i].size() > TEXT_BUFFER_SIZE - 1)
                findings_.Fail(number, "line is " + std::to_string(lines[i].size()) +
                                           " bytes long; the updater reads at most 511 bytes a line and takes the "
                                           "rest as further lines");
            size_t zero = lines[i].find('\0');
            if (zero != std::string::npos)
                findings_.Fail(number, "a zero byte at column " + std::to_string(zero + 1) + " ends the line for the "
                                       "updater: it reads only " + Quoted(lines[i].substr(0, zero)));
            long bad = FindInvalidCp932(lines[i].data(), lines[i].size());
            if (bad >= 0) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", (unsigned char)lines[i][(size_t)bad]);
                findings_.Fail(number, "byte " + std::string(hex) + " at column " + std::to_string(bad + 1) +
                                           " is not valid code page 932 (Shift-JIS) text");
            }
        }
        if (cutByCtrlZ)
            findings_.Warn((int)lines.size() + (lines.empty() ? 1 : 0),
                           "a byte 0x1A ends the file for the updater; nothing after it is read");
    }

    // The table holds one entry for each pair the key/value reader took, in order, stored as the
    // updater stores it: each read piece gets the value its integer accessors would parse.
    void KeepStoredValues()
    {
        const SettingsEntry* entry = FirstSetting();
        for (const KeyLineReport& report : replay_.keyLines) {
            bool stored = report.kind == KEYLINE_PAIR && entry != nullptr;
            storedValues_.push_back(stored ? entry->value : "");
            if (stored)
                entry = entry->next;
        }
    }

    // The key/value reader stops at "[EOF]" (that line is not a key line either) or after its
    // line limit; from there on no key is read.
    void FindWhereKeysStop()
    {
        keysStop_ = replay_.keyLines.size();
        keyStopReason_ = "after line " + std::to_string(SETTINGS_MAX_LINES);
        if (!replay_.keyLines.empty() && replay_.keyLines.back().kind == KEYLINE_END_MARKER) {
            keysStop_--;
            keyStopReason_ = "after \"[EOF]\" on line " + std::to_string(replay_.pieces[keysStop_].line);
        }
    }

    // What the section reader did with a piece it read.
    void HearSectionLine(size_t index, const SectionLineReport& report)
    {
        const LinePiece& piece = replay_.pieces[index];
        switch (report.kind) {
        case SECTIONLINE_END:
            if (report.section != SECTION_NONE)
                findings_.Fail(currentLine_, "section " + std::string(GetSectionHeader(report.section)) +
                                                 " is not closed before the \"EOF\" line on line " +
                                                 std::to_string(piece.line) + ": the updater stops with a notice");
            sectionStopLine_ = piece.line;
            break;
        case SECTIONLINE_HEADER:
            HearSectionHeader(report.section, piece.line);
            break;
        case SECTIONLINE_ENTRY:
            if (report.section != SECTION_NONE)
                file_.entries.push_back({report.section, report.text, piece.line});
            else
                CheckKeyLine(index);
            break;
        default:
            break;
        }
    }

    // A header starts its section afresh: the entries of an earlier one of the same name go.
    void HearSectionHeader(int section, int line)
    {
        auto seen = file_.sectionLines.find(section);
        if (seen != file_.sectionLines.end()) {
            findings_.Warn(line, "a second " + std::string(GetSectionHeader(section)) +
                                     " section replaces the entries of the one on line " +
                                     std::to_string(seen->second));
            std::vector<EntryLine>& entries = file_.entries;
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [section](const EntryLine& e) { return e.section == section; }),
                          entries.end());
        }
        file_.sectionLines[section] = line;
        currentLine_ = line;
    }

    // A piece after the "EOF" line, which the section reader never reads: sections there are
    // never read, and their entries are no key lines either.
    void LookAtUnreadLine(size_t index)
    {
        const LinePiece& piece = replay_.pieces[index];
        char line[TEXT_BUFFER_SIZE];
        std::snprintf(line, sizeof line, "%s", piece.text.c_str());
        int header = SECTION_NONE;
        int kind = ClassifySectionLine(line, &header);
        if (kind == SECTIONLINE_HEADER) {
            findings_.Warn(piece.line, "section " + std::string(GetSectionHeader(header)) + " stands after the " +
                                           "\"EOF\" line on line " + std::to_string(sectionStopLine_) +
                                           ": the updater never reads it");
            unreadSection_ = header;
        } else if (kind == SECTIONLINE_CLOSE) {
            unreadSection_ = SECTION_NONE;
        } else if (kind == SECTIONLINE_ENTRY && unreadSection_ == SECTION_NONE) {
            CheckKeyLine(index);
        }
    }

    void CheckSectionLeftOpen()
    {
        bool stoppedAtEofLine = !replay_.sectionLines.empty() && replay_.sectionLines.back().kind == SECTIONLINE_END;
        if (!stoppedAtEofLine && replay_.openSection != SECTION_NONE)
            findings_.Fail(currentLine_, "section " + std::string(GetSectionHeader(replay_.openSection)) +
                                             " is never closed with a \"-\" line: the updater stops with a notice");
    }

    // What the key/value reader made of a piece; for one it never read, what it would have made.
    int KeyLineKind(size_t index, KeyLine* parts) const
    {
        if (index < keysStop_) {
            *parts = replay_.keyLines[index].parts;
            return replay_.keyLines[index].kind;
        }
        return SplitKeyLine(replay_.pieces[index].text.c_str(), parts);
    }

    void CheckKeyLine(size_t index)
    {
        const LinePiece& piece = replay_.pieces[index];
        // The rest of an overlong line is reported with the line itself.
        if (piece.continuation)
            return;
        const std::string& text = piece.text;
        KeyLine parts = {0, 0, 0};
        int kind = KeyLineKind(index, &parts);
        if (kind == KEYLINE_IGNORED) {
            CheckIgnoredLine(piece);
            return;
        }
        size_t keyLength = 0;
        while (keyLength < text.size() && !IsSeparatorByte(text[keyLength]))
            keyLength++;
        std::string key = text.substr(0, keyLength);
        if (CheckFullWidthSpace(key, piece.line))
            return;
        if (index >= keysStop_) {
            if (kind == KEYLINE_PAIR)
                findings_.Warn(piece.line, "key " + Quoted(key) + " stands " + keyStopReason_ +
                                               ", where the updater has stopped reading keys: it is never read");
            return;
        }
        if (kind == KEYLINE_NO_VALUE) {
            findings_.Warn(piece.line, "key " + Quoted(key) + " has no value: the updater ignores the line");
            return;
        }
        if (kind == KEYLINE_GAP_TOO_LONG) {
            findings_.Warn(piece.line, "the value of " + Quoted(key) +
                                           " stands more than 99 blanks after the key: the updater ignores the line");
            return;
        }
        std::string value = text.substr((size_t)parts.valueStart, (size_t)parts.valueLength);
        CheckKnownKey(key, value, ParseDecimal(storedValues_[index].c_str()), piece.line);
        CheckCutText(key, value, text.substr((size_t)(parts.valueStart + parts.valueLength)), piece.line);
        TakeSetting(key, value, piece.line);
    }

    // A full-width space (U+3000) looks like a blank but is a character: the key runs on through
    // it and the value with it, so the updater never finds the key meant.
    bool CheckFullWidthSpace(const std::string& key, int line)
    {
        for (int i = 0; i < (int)key.size(); i = NextCharacter(key.c_str(), i)) {
            if (key.compare((size_t)i, 2, "\x81\x40") != 0)
                continue;
            std::string meant = key.substr(0, (size_t)i);
            findings_.Warn(line, "a full-width space (U+3000) follows " + Quoted(meant) +
                                     ": the updater takes only a tab or a half-width space between a key and its "
                                     "value, so it reads no key " + Quoted(meant) + " here");
            return true;
        }
        return false;
    }

    // The shown texts end at the first blank; "|" stands for a space in them.
    void CheckCutText(const std::string& key, const std::string& value, const std::string& rest, int line)
    {
        // A byte that is no code page 932 text is an error of its own.
        if ((key != "TITLEBAR" && key != "INSTREADME") || FindInvalidCp932(rest.data(), rest.size()) >= 0 ||
            FindInvalidCp932(value.data(), value.size()) >= 0)
            return;
        size_t start = 0, end = rest.size();
        while (start < end && IsSeparatorByte(rest[start]))
            start++;
        while (end > start && IsSeparatorByte(rest[end - 1]))
            end--;
        if (start == end || rest.compare(start, 2, "//") == 0)
            return;
        std::string dropped = rest.substr(start, end - start);
        findings_.Warn(line, "the value of " + key + " ends at the first blank: the updater shows " + Quoted(value) +
                                 " and drops " + Quoted(dropped) + "; write each space as \"|\"");
    }

    // A line the key/value reader skips is fine, unless a blank hides a key.
    void CheckIgnoredLine(const LinePiece& piece)
    {
        const std::string& text = piece.text;
        size_t first = text.find_first_not_of(" \t");
        if ((text[0] == ' ' || text[0] == '\t') && first != std::string::npos && !IsSeparatorByte(text[first]) &&
            text.compare(first, 2, "//") != 0)
            findings_.Warn(piece.line, "line starts with a blank: the updater ignores it (a key begins in the first "
                                       "column)");
    }

    // The first value of a key wins.
    void TakeSetting(const std::string& key, const std::string& value, int line)
    {
        const SettingLine* earlier = file_.Find(key);
        if (earlier != nullptr)
            findings_.Warn(line, "key " + Quoted(key) + " is given again; the first value, on line " +
                                     std::to_string(earlier->line) + ", wins");
        else
            file_.settings[key] = {value, line};
    }

    // number: the value as the updater's integer accessors read it.
    void CheckKnownKey(const std::string& key, const std::string& value, int number, int line)
    {
        std::vector<std::string> known(std::begin(kUpdaterTextKeys), std::end(kUpdaterTextKeys));
        known.insert(known.end(), std::begin(kUpdaterIntegerKeys), std::end(kUpdaterIntegerKeys));
        if (std::find(known.begin(), known.end(), key) != known.end()) {
            bool integer = std::find(std::begin(kUpdaterIntegerKeys), std::end(kUpdaterIntegerKeys), key) !=
                           std::end(kUpdaterIntegerKeys);
            // The version range's values are the version gate's (version_rules.cpp).
            bool version = key == "CHKREGVER" || key == "CHKREGVERHIGH";
            if (integer && !version && !IsWellFormedInteger(value))
                findings_.Warn(line, "value " + Quoted(value) + " of " + key + " is not a whole number; the updater "
                                     "reads " + std::to_string(number));
            return;
        }
        if (std::find(std::begin(kForeignKeys), std::end(kForeignKeys), key) != std::end(kForeignKeys)) {
            findings_.Warn(line, "key " + key + " is not read by the updater (it is kept for other tools)");
            return;
        }
        std::string suggestion = Suggest(key, known);
        findings_.Warn(line, "key " + Quoted(key) + " is not read by any part of the updater" +
                                 (suggestion.empty() ? std::string() : "; did you mean " + suggestion + "?"));
    }

    std::string bytes_;
    LintOptions options_;
    Findings findings_;
    LintedFile file_;
    SettingsReplay replay_;
    std::vector<std::string> storedValues_;  // by piece, for the pieces the key/value reader read
    size_t keysStop_ = 0;  // the first piece that the key/value reader does not take
    std::string keyStopReason_;
    int sectionStopLine_ = 0;
    int unreadSection_ = SECTION_NONE;
    int currentLine_ = 0;  // of the last section header
};

// The update's files as relative paths with backslashes, in the same encoding as the entries.
std::vector<std::string> UpdateFiles(const fs::path& folder)
{
    std::vector<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // A link is never entered (std::filesystem under MinGW would follow a junction's loop).
        if (IsLink(it->path()))
            it.disable_recursion_pending();
        // A name whose kind cannot be told is passed over; it must not end the walk.
        std::error_code kind;
        if (!it->is_regular_file(kind))
            continue;
        // Named in code page 932, as the entries will be; a name without that form is the
        // build's to report.
        std::string relative, component, why;
        bool named = true;
        for (const fs::path& part : fs::relative(it->path(), folder, kind)) {
            named = named && NameToCp932(part, component, why);
            relative += (relative.empty() ? "" : "\\") + component;
        }
        if (named)
            files.push_back(relative);
    }
    // The title image is made from insttscr.png when the update is built.
    files.push_back("insttscr.rct");
    return files;
}

}  // namespace

std::vector<LintFinding> Findings::Take()
{
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    return std::move(findings_);
}

const SettingLine* LintedFile::Find(const std::string& key) const
{
    auto found = settings.find(key);
    return found == settings.end() ? nullptr : &found->second;
}

std::string LintedFile::Setting(const std::string& key, const std::string& fallback) const
{
    const SettingLine* setting = Find(key);
    return setting == nullptr ? fallback : setting->value;
}

int LintedFile::LineOf(const std::string& key) const
{
    const SettingLine* setting = Find(key);
    return setting == nullptr ? 0 : setting->line;
}

bool LintedFile::IsUsed(const std::string& key) const
{
    const SettingLine* setting = Find(key);
    return setting != nullptr && setting->value[0] != '-';
}

bool LintedFile::HasEntries(int section) const
{
    return std::any_of(entries.begin(), entries.end(), [section](const EntryLine& e) { return e.section == section; });
}

std::vector<LintFinding> LintSettingsFile(const std::string& installEnvPath, const LintOptions& options)
{
    std::string bytes;
    std::error_code code;
    fs::path settings = fs::u8path(installEnvPath);
    if (!fs::exists(settings, code)) {
        fs::path folder = settings.parent_path();
        return {{installEnvPath, 0, true,
                 "no such file; every update folder holds install.env: start one with mkupdate init " +
                     PathAsArgument(folder.empty() ? fs::path(".") : folder)}};
    }
    if (!ReadWholeFile(installEnvPath, bytes) || fs::is_directory(settings, code))
        return {{installEnvPath, 0, true, "cannot read the settings file"}};
    fs::path folder = fs::u8path(installEnvPath).parent_path();
    LineRules rules(installEnvPath, bytes, options);
    std::vector<LintFinding> findings = rules.Run(UpdateFiles(folder.empty() ? fs::path(".") : folder));
    for (const NameRoomNote& note : CheckTreeNameRoom(folder.empty() ? fs::path(".") : folder))
        findings.push_back({note.path, 0, note.error, note.why});
    if (options.strict)
        for (LintFinding& finding : findings)
            finding.error = true;
    return findings;
}

bool HasLintErrors(const std::vector<LintFinding>& findings)
{
    return std::any_of(findings.begin(), findings.end(), [](const LintFinding& f) { return f.error; });
}
