// mkupdate lint: the updater's two readers replayed over install.env, with a finding for every
// line that they would silently skip or take differently from what the author meant.
#include "lint/lint.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "cli/command_line.h"
#include "host/host_files.h"
#include "host/rct_convert.h"
#include "host/image_file.h"
#include "package/entry_names.h"
#include "settings/action_reader.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "lint/settings_replay.h"
#include "text/path_text.h"
#include "cli/text_util.h"
#include "text/removal_pattern.h"

namespace fs = std::filesystem;

namespace {

struct SettingLine {
    std::string value;
    int line;
};

struct EntryLine {
    int section;
    std::string text;
    int line;
};

// Carried by the settings files of this format for other tools; the updater never reads them.
const char* const kForeignKeys[] = {"INST_GROUP", "EXENAME"};
const char kSampleInstallPath[] = "C:\\Program Files\\Game";
const uint32_t kPictureArea = 268;  // the main window's client height, in pixels

class Linter {
public:
    explicit Linter(std::string file) : file_(std::move(file)) {}

    void Warn(int line, const std::string& message) { findings_.push_back({file_, line, false, message}); }
    void Fail(int line, const std::string& message) { findings_.push_back({file_, line, true, message}); }
    std::vector<LintFinding> Take()
    {
        std::stable_sort(findings_.begin(), findings_.end(),
                         [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
        return std::move(findings_);
    }

private:
    std::string file_;
    std::vector<LintFinding> findings_;
};

std::string Upper(std::string text)
{
    for (char& c : text)
        c = (char)std::toupper((unsigned char)c);
    return text;
}

// Code page 932 text lower-cased by whole characters (a second byte is never touched).
std::string Lower(std::string text)
{
    LowerCp932(&text[0]);
    return text;
}

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); j++)
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1])});
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// The closest of the candidates when it is close enough to be a slip of the keyboard, or one
// that the word is the start of.
std::string Suggest(const std::string& word, const std::vector<std::string>& candidates)
{
    for (const std::string& candidate : candidates) {
        if (Upper(candidate).rfind(Upper(word), 0) == 0)
            return candidate;
    }
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& candidate : candidates) {
        size_t distance = EditDistance(Upper(word), Upper(candidate));
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

// An integer setting as the updater takes it: stored with "|" as spaces, then read as decimal.
int ReadAsInteger(std::string value)
{
    ReplaceBarsWithSpaces(&value[0]);
    return ParseDecimal(value.c_str());
}

bool IsWellFormedInteger(const std::string& value)
{
    size_t start = (!value.empty() && (value[0] == '+' || value[0] == '-')) ? 1 : 0;
    return value.size() > start &&
           std::all_of(value.begin() + (long)start, value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Physical lines after text-mode translation (without the line feed), for length and encoding.
std::vector<std::string> PhysicalLines(const std::string& bytes, bool* cutByCtrlZ)
{
    size_t end = bytes.find('\x1A');
    *cutByCtrlZ = end != std::string::npos && bytes.find_first_not_of("\r\n\x1A", end) != std::string::npos;
    std::string text = bytes.substr(0, end);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        size_t stop = newline == std::string::npos ? text.size() : newline;
        std::string line = text.substr(start, stop - start);
        if (newline != std::string::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = stop + 1;
    }
    return lines;
}

bool ContainsSeparator(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return IsSeparatorByte(c); });
}

std::string Quoted(const std::string& cp932)
{
    return "\"" + Cp932ToUtf8(cp932) + "\"";
}

// The update's files as relative paths with backslashes, in the same encoding as the entries.
std::vector<std::string> UpdateFiles(const fs::path& folder)
{
    std::vector<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        // Named in code page 932, as the entries will be; a name without that form is the
        // build's to report.
        std::string relative, component, why;
        bool named = true;
        for (const fs::path& part : fs::relative(it->path(), folder, error)) {
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


// Text that is valid UTF-8 and holds at least one character beyond ASCII: a file saved as UTF-8,
// which code page 932 would show garbled (short Japanese code page 932 texts are almost never
// also valid UTF-8).
bool IsUtf8Text(const std::string& bytes)
{
    bool beyondAscii = false;
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = (unsigned char)bytes[i];
        size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || (length == 2 && c < 0xC2) || i + length > bytes.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if (((unsigned char)bytes[i + k] & 0xC0) != 0x80)
                return false;
        beyondAscii = beyondAscii || length > 1;
        i += length;
    }
    return beyondAscii;
}

// What is wrong with a text's encoding for the updater, or empty: a byte-order mark, UTF-8, or
// bytes that are not code page 932.
std::string EncodingProblem(const std::string& bytes, const std::string& shownName)
{
    const std::string howTo = "; save it as Shift-JIS (code page 932) in your editor, or convert it with: iconv -f UTF-8 "
                              "-t CP932 " + shownName + " > converted && mv converted " + shownName;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return shownName + " starts with a UTF-8 byte-order mark: it is UTF-8 text, which the updater shows garbled" +
               howTo;
    if (IsUtf8Text(bytes))
        return shownName + " is UTF-8 text, not code page 932 (Shift-JIS): the updater would show it garbled" + howTo;
    return "";
}

// A removal line whose name part has no fixed character ("*", "*.*", "?*") at the top of the
// game's folder deletes every file there.
bool WipesGameFolder(const std::string& pattern)
{
    if (FolderPartLength(pattern.c_str()) != 0)
        return false;
    return pattern.find_first_not_of("*?.") == std::string::npos;
}

class SettingsLint {
public:
    SettingsLint(const std::string& path, const std::string& bytes, const LintOptions& options)
        : path_(path), bytes_(bytes), options_(options), lint_(path)
    {
    }

    std::vector<LintFinding> Run()
    {
        if (bytes_.find_first_not_of(" \t\r\n\x1A") == std::string::npos) {
            lint_.Fail(1, "the settings file is empty: the updater would show no title and look for the product under "
                          "Software\\-\\-, which no game registers");
            return lint_.Take();
        }
        std::string encoding = EncodingProblem(bytes_, fs::u8path(path_).filename().u8string());
        if (!encoding.empty()) {
            lint_.Fail(1, encoding);
            return lint_.Take();
        }
        CheckPhysicalLines();
        replay_ = ReplaySettings(bytes_);
        FreeSettings();
        FreeActionLists();
        FindWhereKeysStop();
        for (size_t i = 0; i < replay_.pieces.size(); i++) {
            if (i < replay_.sectionLines.size())
                HearSectionLine(i, replay_.sectionLines[i]);
            else
                LookAtUnreadLine(i);
        }
        bool stoppedAtEofLine = !replay_.sectionLines.empty() && replay_.sectionLines.back().kind == SECTIONLINE_END;
        if (!stoppedAtEofLine && replay_.openSection != SECTION_NONE)
            lint_.Fail(currentLine_, "section " + std::string(GetSectionHeader(replay_.openSection)) +
                                         " is never closed with a \"-\" line: the updater stops with a notice");
        for (const EntryLine& entry : entries_)
            CheckEntry(entry);
        CheckSettingsTogether();
        return lint_.Take();
    }

private:
    void CheckPhysicalLines()
    {
        bool cutByCtrlZ = false;
        std::vector<std::string> lines = PhysicalLines(bytes_, &cutByCtrlZ);
        for (size_t i = 0; i < lines.size(); i++) {
            int number = (int)i + 1;
            if (lines[i].size() > TEXT_BUFFER_SIZE - 1)
                lint_.Fail(number, "line is " + std::to_string(lines[i].size()) +
                                       " bytes long; the updater reads at most 511 bytes a line and takes the rest "
                                       "as further lines");
            size_t zero = lines[i].find('\0');
            if (zero != std::string::npos)
                lint_.Fail(number, "a zero byte at column " + std::to_string(zero + 1) + " ends the line for the "
                                   "updater: it reads only " + Quoted(lines[i].substr(0, zero)));
            long bad = FindInvalidCp932(lines[i].data(), lines[i].size());
            if (bad >= 0) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", (unsigned char)lines[i][(size_t)bad]);
                lint_.Fail(number, "byte " + std::string(hex) + " at column " + std::to_string(bad + 1) +
                                       " is not valid code page 932 (Shift-JIS) text");
            }
        }
        if (cutByCtrlZ)
            lint_.Warn((int)lines.size() + (lines.empty() ? 1 : 0),
                       "a byte 0x1A ends the file for the updater; nothing after it is read");
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
                lint_.Fail(currentLine_, "section " + std::string(GetSectionHeader(report.section)) +
                                             " is not closed before the \"EOF\" line on line " +
                                             std::to_string(piece.line) + ": the updater stops with a notice");
            sectionStopLine_ = piece.line;
            break;
        case SECTIONLINE_HEADER:
            if (sectionSeen_.count(report.section) != 0) {
                lint_.Warn(piece.line, "a second " + std::string(GetSectionHeader(report.section)) +
                                           " section replaces the entries of the one on line " +
                                           std::to_string(sectionSeen_[report.section]));
                int section = report.section;
                entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                              [section](const EntryLine& e) { return e.section == section; }),
                               entries_.end());
            }
            sectionSeen_[report.section] = piece.line;
            currentLine_ = piece.line;
            break;
        case SECTIONLINE_ENTRY:
            if (report.section != SECTION_NONE)
                entries_.push_back({report.section, report.text, piece.line});
            else
                CheckKeyLine(index);
            break;
        default:
            break;
        }
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
            lint_.Warn(piece.line, "section " + std::string(GetSectionHeader(header)) + " stands after the " +
                                       "\"EOF\" line on line " + std::to_string(sectionStopLine_) +
                                       ": the updater never reads it");
            unreadSection_ = header;
        } else if (kind == SECTIONLINE_CLOSE) {
            unreadSection_ = SECTION_NONE;
        } else if (kind == SECTIONLINE_ENTRY && unreadSection_ == SECTION_NONE) {
            CheckKeyLine(index);
        }
    }

    void CheckKeyLine(size_t index)
    {
        const LinePiece& piece = replay_.pieces[index];
        // The rest of an overlong line is reported with the line itself.
        if (piece.continuation)
            return;
        const std::string& text = piece.text;
        bool read = index < keysStop_;
        KeyLine parts = {0, 0, 0};
        int kind = KEYLINE_IGNORED;
        if (read) {
            kind = replay_.keyLines[index].kind;
            parts = replay_.keyLines[index].parts;
        } else {
            // What the line would have been, had the reader gone on.
            kind = SplitKeyLine(text.c_str(), &parts);
        }
        if (kind == KEYLINE_IGNORED) {
            size_t first = text.find_first_not_of(" \t");
            if ((text[0] == ' ' || text[0] == '\t') && first != std::string::npos && !IsSeparatorByte(text[first]) &&
                text.compare(first, 2, "//") != 0)
                lint_.Warn(piece.line, "line starts with a blank: the updater ignores it (a key begins in the first "
                                       "column)");
            return;
        }
        size_t keyLength = 0;
        while (keyLength < text.size() && !IsSeparatorByte(text[keyLength]))
            keyLength++;
        std::string key = text.substr(0, keyLength);
        if (!read) {
            if (kind == KEYLINE_PAIR)
                lint_.Warn(piece.line, "key " + Quoted(key) + " stands " + keyStopReason_ +
                                           ", where the updater has stopped reading keys: it is never read");
            return;
        }
        if (kind == KEYLINE_NO_VALUE) {
            lint_.Warn(piece.line, "key " + Quoted(key) + " has no value: the updater ignores the line");
            return;
        }
        if (kind == KEYLINE_GAP_TOO_LONG) {
            lint_.Warn(piece.line, "the value of " + Quoted(key) +
                                       " stands more than 99 blanks after the key: the updater ignores the line");
            return;
        }
        std::string value = text.substr((size_t)parts.valueStart, (size_t)parts.valueLength);
        CheckKnownKey(key, value, piece.line);
        if (settings_.count(key) != 0)
            lint_.Warn(piece.line, "key " + Quoted(key) + " is given again; the first value, on line " +
                                       std::to_string(settings_[key].line) + ", wins");
        else
            settings_[key] = {value, piece.line};
    }

    void CheckKnownKey(const std::string& key, const std::string& value, int line)
    {
        std::vector<std::string> known(std::begin(kUpdaterTextKeys), std::end(kUpdaterTextKeys));
        known.insert(known.end(), std::begin(kUpdaterIntegerKeys), std::end(kUpdaterIntegerKeys));
        if (std::find(known.begin(), known.end(), key) != known.end()) {
            if (std::find(std::begin(kUpdaterIntegerKeys), std::end(kUpdaterIntegerKeys), key) != std::end(kUpdaterIntegerKeys) &&
                !IsWellFormedInteger(value))
                lint_.Warn(line, "value " + Quoted(value) + " of " + key + " is not a whole number; the updater reads " +
                                     std::to_string(ReadAsInteger(value)));
            return;
        }
        if (std::find(std::begin(kForeignKeys), std::end(kForeignKeys), key) != std::end(kForeignKeys)) {
            lint_.Warn(line, "key " + key + " is not read by the updater (it is kept for other tools)");
            return;
        }
        std::string suggestion = Suggest(key, known);
        lint_.Warn(line, "key " + Quoted(key) + " is not read by any part of the updater" +
                             (suggestion.empty() ? std::string() : "; did you mean " + suggestion + "?"));
    }

    void CheckPlaceholders(const EntryLine& entry, const std::vector<std::string>& known)
    {
        const std::string& text = entry.text;
        const std::string section = GetSectionHeader(entry.section);
        for (const std::string& placeholder : known) {
            const char* first = FindCharacters(text.c_str(), placeholder.c_str());
            if (first == nullptr)
                continue;
            // "REP_CDROM" is found inside "REP_CDROMDRIVE" too; only count where it stands alone.
            if (FindCharacters(first + placeholder.size(), placeholder.c_str()) != nullptr)
                lint_.Warn(entry.line, placeholder + " stands twice in this " + section +
                                           " entry; only the first is replaced");
        }
        const std::string upper = Upper(text);
        for (size_t at = upper.find("REP_"); at != std::string::npos; at = upper.find("REP_", at + 1)) {
            if (IsTrailByteAt(text.c_str(), (int)at))
                continue;
            size_t end = at + 4;
            while (end < text.size() && (std::isalpha((unsigned char)text[end]) || text[end] == '_'))
                end++;
            std::string word = text.substr(at, end - at);
            if (entry.section == SECTION_REG && word.rfind("REP_CDROMDRIVE", 0) == 0) {
                lint_.Warn(entry.line, "[reg] knows only REP_CDROM: REP_CDROMDRIVE becomes the drive root followed "
                                       "by \"DRIVE\"");
                continue;
            }
            bool isKnown = std::any_of(known.begin(), known.end(),
                                       [&](const std::string& p) { return word.rfind(p, 0) == 0; });
            if (isKnown)
                continue;
            std::string suggestion = Suggest(word, known);
            if (suggestion.empty())
                suggestion = known.back();
            lint_.Warn(entry.line, word + " is not a placeholder of " + section + " and stays as it is; did you mean " +
                                       suggestion + "?");
        }
    }

    void CheckEntry(const EntryLine& entry)
    {
        char first[TEXT_BUFFER_SIZE];
        char second[TEXT_BUFFER_SIZE];
        SetInstallPath(kSampleInstallPath);
        if (entry.section == SECTION_INI) {
            CheckVerdict(entry, SplitIniEntry(entry.text.c_str(), first, second),
                         "[ini] entry has no \"=\": the updater skips it", {"REP_CDROMDRIVE", "REP_INSTALL"},
                         "[ini] entry may grow past 511 bytes once REP_INSTALL is replaced; the updater then skips it");
        } else if (entry.section == SECTION_REG) {
            CheckRegEntry(entry, first, second);
        } else if (entry.section == SECTION_DELFILES_AFTERINST) {
            // Removing an old version's file that this update does not carry is the usual case,
            // so a pattern that matches none of the update's files is fine.
            if (!IsConfinedPattern(entry.text.c_str()))
                lint_.Fail(entry.line, "the updater ignores the removal " + Quoted(entry.text) +
                                           ": it names a drive, starts with a backslash or climbs out with '..'; "
                                           "removals are taken inside the game's folder only");
            else if (ContainsSeparator(entry.text))
                lint_.Warn(entry.line, "text after the file name becomes part of the pattern " + Quoted(entry.text) +
                                           " (comments go on lines of their own)");
            else if (WipesGameFolder(entry.text) && !options_.allowWipe)
                lint_.Fail(entry.line, "the removal " + Quoted(entry.text) + " deletes every file in the game's "
                                       "folder; name the files to remove, or give --allow-wipe if that is meant");
        }
    }

    void CheckRegEntry(const EntryLine& entry, char* name, char* data)
    {
        const std::string& text = entry.text;
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
            std::string expected = "[HKEY_CURRENT_USER\\Software\\" + Setting("REG_GLOBAL", "-") + "\\" +
                                   Setting("REG_LOCAL", "-") + "]";
            if (text != expected)
                lint_.Warn(entry.line, "the values below go under the product key " +
                                           Cp932ToUtf8(expected.substr(1, expected.size() - 2)) +
                                           ", not under the key named here");
            return;
        }
        CheckVerdict(entry, SplitRegEntry(text.c_str(), name, data),
                     "[reg] line is not a string value (\"name\"=\"data\"): the updater skips it",
                     {"REP_CDROM", "REP_INSTALL"},
                     "[reg] entry cannot be split into name and data (or grows past 511 bytes): the updater skips it");
    }

    // An [ini] or [reg] entry by its parser's verdict: without its separator it is skipped and
    // no more is said; else its placeholders are checked, and a skip for any other reason told.
    void CheckVerdict(const EntryLine& entry, int verdict, const char* noSeparator,
                      const std::vector<std::string>& placeholders, const char* skipped)
    {
        if (verdict == ENTRY_NO_SEPARATOR) {
            lint_.Warn(entry.line, noSeparator);
            return;
        }
        CheckPlaceholders(entry, placeholders);
        if (verdict != ENTRY_TAKEN)
            lint_.Warn(entry.line, skipped);
    }

    std::string Setting(const std::string& key, const std::string& fallback) const
    {
        auto found = settings_.find(key);
        return found == settings_.end() ? fallback : found->second.value;
    }

    int LineOf(const std::string& key) const
    {
        auto found = settings_.find(key);
        return found == settings_.end() ? 0 : found->second.line;
    }

    bool IsUsed(const std::string& key) const
    {
        auto found = settings_.find(key);
        return found != settings_.end() && found->second.value[0] != '-';
    }

    void CheckSettingsTogether()
    {
        if (IsUsed("INI_FILE") && !IsUsed("INI_SECTION"))
            lint_.Warn(LineOf("INI_FILE"), "INI_FILE is set without INI_SECTION: the [ini] entries go to a section "
                                           "named \"-\"");
        if (IsUsed("INI_FILE") && NamesRelativeFolder(settings_.find("INI_FILE")->second.value))
            lint_.Warn(LineOf("INI_FILE"), "INI_FILE names a folder relative to where the updater runs (its work "
                                           "folder): the file is written there and removed with it; give a bare "
                                           "name (the Windows folder) or a full path");
        if (!IsUsed("INI_FILE") && sectionSeen_.count(SECTION_INI) != 0 && HasEntries(SECTION_INI))
            lint_.Warn(sectionSeen_[SECTION_INI], "[ini] entries are given but INI_FILE is not set");
        if (!IsUsed("REG_GLOBAL") && HasEntries(SECTION_REG))
            lint_.Warn(sectionSeen_[SECTION_REG], "[reg] entries are given but REG_GLOBAL is not set: the updater "
                                                  "writes none of them");
        if (settings_.count("CHKREG") != 0 && settings_.count("CHKREGVERHIGH") == 0)
            lint_.Warn(LineOf("CHKREG"), "CHKREG is set without CHKREGVERHIGH: every installed version above 0 "
                                         "would be refused");
        if (settings_.count("CHKREGVER") != 0 && settings_.count("CHKREGVERHIGH") != 0 &&
            ReadAsInteger(Setting("CHKREGVER", "0")) > ReadAsInteger(Setting("CHKREGVERHIGH", "0")))
            lint_.Warn(LineOf("CHKREGVER"), "CHKREGVER is above CHKREGVERHIGH: no installed version can take the "
                                            "update");
        CheckReadme();
        CheckTitlePicture();
    }

    // The main window draws the picture at its own size, centred in a square as wide as the
    // window's client height; a larger one starts above and left of the window and is cut there.
    void CheckTitlePicture()
    {
        fs::path folder = fs::u8path(path_).parent_path();
        if (folder.empty())
            folder = ".";
        for (const char* name : {"insttscr.rct", "insttscr.png", "insttscr.bmp"}) {
            std::string bytes, error;
            if (!ReadWholeFile(folder / name, bytes))
                continue;
            RgbImage image;
            RctFileInfo info;
            bool read = std::string(name) == "insttscr.rct" ? DecodeRctFile(bytes, image, info, error)
                                                           : ReadImageFile((folder / name).u8string(), image, error);
            if (read && (image.width > kPictureArea || image.height > kPictureArea))
                lint_.Warn(1, std::string("the title picture ") + name + " is " + std::to_string(image.width) + " x " +
                                  std::to_string(image.height) + " pixels; the main window's picture area is " +
                                  std::to_string(kPictureArea) + " x " + std::to_string(kPictureArea) +
                                  " (its client height on Windows with the Japanese dialog font), and the picture "
                                  "is cut at its top and left edges beyond that");
            return;
        }
    }

    // A folder part without a drive or a leading separator is taken from the current folder.
    static bool NamesRelativeFolder(const std::string& path)
    {
        if (FolderPartLength(path.c_str()) == 0 || path[0] == '\\' || path[0] == '/')
            return false;
        return !(path.size() >= 2 && path[1] == ':');
    }

    bool HasEntries(int section) const
    {
        return std::any_of(entries_.begin(), entries_.end(), [section](const EntryLine& e) { return e.section == section; });
    }

    void CheckReadme()
    {
        if (!IsUsed("INSTREADME"))
            return;
        std::string name = Setting("INSTREADMEFL", "readme.txt");
        int line = settings_.count("INSTREADMEFL") != 0 ? LineOf("INSTREADMEFL") : LineOf("INSTREADME");
        bool extracted = IsSetupFileName(name.c_str());
        bool topLevel = FirstSeparator(name.c_str()) < 0 && name.find('/') == std::string::npos;
        std::string lower = Lower(name);
        bool present = std::any_of(files_.begin(), files_.end(), [&](const std::string& f) { return Lower(f) == lower; });
        if (!topLevel || !present)
            lint_.Warn(line, "readme " + Quoted(name) + " is not a file at the top of the update (beside install.env)"
                             ": the readme button would open nothing");
        else if (!extracted)
            lint_.Warn(line, "readme " + Quoted(name) + " is not extracted at start-up (only names containing "
                             "\".txt\", \"install.env\" or \"insttscr.rct\" are): the readme button would open "
                             "nothing");
        if (!topLevel || !present)
            return;
        std::string text;
        fs::path folder = fs::u8path(path_).parent_path();
        fs::path readme;
        if (Cp932ToHostPath(folder.empty() ? fs::path(".") : folder, name, readme) && ReadWholeFile(readme, text)) {
            std::string problem = EncodingProblem(text, Cp932ToUtf8(name));
            if (problem.empty() && FindInvalidCp932(text.data(), text.size()) >= 0)
                problem = Cp932ToUtf8(name) + " is not code page 932 (Shift-JIS) text: the player would see it garbled";
            if (!problem.empty())
                lint_.Fail(line, "readme " + problem);
        }
    }

public:
    std::vector<std::string> files_;

private:
    std::string path_;
    std::string bytes_;
    LintOptions options_;
    Linter lint_;
    SettingsReplay replay_;
    size_t keysStop_ = 0;  // the first piece that the key/value reader does not take
    std::string keyStopReason_;
    int sectionStopLine_ = 0;
    int unreadSection_ = SECTION_NONE;
    int currentLine_ = 0;  // of the last section header
    std::map<int, int> sectionSeen_;
    std::map<std::string, SettingLine> settings_;
    std::vector<EntryLine> entries_;
};

}  // namespace

std::vector<LintFinding> LintSettingsFile(const std::string& installEnvPath, const LintOptions& options)
{
    std::string bytes;
    if (!ReadWholeFile(installEnvPath, bytes) || fs::is_directory(fs::u8path(installEnvPath)))
        return {{installEnvPath, 0, true, "cannot read the settings file"}};
    SettingsLint lint(installEnvPath, bytes, options);
    fs::path folder = fs::u8path(installEnvPath).parent_path();
    lint.files_ = UpdateFiles(folder.empty() ? fs::path(".") : folder);
    std::vector<LintFinding> findings = lint.Run();
    if (options.strict)
        for (LintFinding& finding : findings)
            finding.error = true;
    return findings;
}

bool HasLintErrors(const std::vector<LintFinding>& findings)
{
    return std::any_of(findings.begin(), findings.end(), [](const LintFinding& f) { return f.error; });
}

std::string FormatLintFinding(const LintFinding& finding)
{
    return finding.file + ":" + std::to_string(finding.line) + ": " + (finding.error ? "error" : "warning") + ": " +
           finding.message;
}

void PrintLintFindings(const std::vector<LintFinding>& findings, std::FILE* out)
{
    for (const LintFinding& finding : findings)
        PrintTo(out, "%s\n", FormatLintFinding(finding).c_str());
}

namespace {

// A write of the [ini] or [reg] section: name and value, or the raw line the updater skips.
struct ExplainedWrite {
    bool skipped = false;
    std::string name, value, line;  // UTF-8
};

// What the updater will do with a settings file, read by the updater's own readers.
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

ExplainedWrite Explained(bool parsed, const char* first, const char* second, const char* line)
{
    ExplainedWrite write;
    write.skipped = !parsed;
    if (parsed) {
        write.name = Cp932ToUtf8(first);
        write.value = Cp932ToUtf8(second);
    } else {
        write.line = Cp932ToUtf8(line);
    }
    return write;
}

bool Explain(const std::string& installEnvPath, Explanation& x)
{
    std::string bytes;
    if (!ReadWholeFile(installEnvPath, bytes) || fs::is_directory(fs::u8path(installEnvPath)))
        return false;
    // The settings come through the updater's accessors over the table the replay filled: they
    // hold the defaults and the cuts. The lists are lint's model of what the reader kept.
    SettingsModel model = ModelSettings(ReplaySettings(bytes));
    FreeActionLists();

    x.title = Cp932ToUtf8(GetTitleText());
    std::string keyPath = std::string("Software\\") + GetRegGlobal() + "\\" + GetRegLocal();
    x.productKey = Cp932ToUtf8(keyPath);
    x.hasKeyFile = GetKeyFile() != nullptr;
    x.keyFile = x.hasKeyFile ? Cp932ToUtf8(GetKeyFile()) : "";
    x.proposal = Cp932ToUtf8(std::string("<program files>\\") +
                             (GetInstFol() != nullptr ? std::string(GetInstFol()) + "\\" : "") + GetInstTo());
    x.hasVersionRange = GetChkReg() != nullptr;
    if (x.hasVersionRange) {
        x.versionValue = Cp932ToUtf8(GetChkReg());
        x.versionFrom = GetChkRegVer();
        x.versionTo = GetChkRegVerHigh();
    }
    char readme[128];
    GetSetting("INSTREADME", readme, sizeof readme, "-");
    char readmeFile[128];
    GetSetting("INSTREADMEFL", readmeFile, sizeof readmeFile, "readme.txt");
    x.hasReadme = readme[0] != '-';
    x.readmeButton = Cp932ToUtf8(readme);
    x.readmeFile = Cp932ToUtf8(readmeFile);
    x.iniFile = Cp932ToUtf8(GetIniFile());
    x.iniSection = Cp932ToUtf8(GetIniSection());
    x.regWritten = GetRegGlobal()[0] != '-';
    FreeSettings();
    if (model.openSection != SECTION_NONE) {
        x.unclosedSection = GetSectionName(model.openSection);
        return true;
    }
    SetInstallPath(kSampleInstallPath);
    char first[TEXT_BUFFER_SIZE];
    char second[TEXT_BUFFER_SIZE];
    x.hasIni = !model.lists[SECTION_INI].empty();
    for (const std::string& entry : model.lists[SECTION_INI])
        x.ini.push_back(Explained(ParseIniEntry(entry.c_str(), first, second) == 0, first, second, entry.c_str()));
    x.hasReg = !model.lists[SECTION_REG].empty();
    for (const std::string& entry : model.lists[SECTION_REG]) {
        if (x.regWritten)
            x.reg.push_back(Explained(ParseRegEntry(entry.c_str(), first, second) == 0, first, second, entry.c_str()));
    }
    x.hasRemovals = !model.lists[SECTION_DELFILES_AFTERINST].empty();
    for (const std::string& entry : model.lists[SECTION_DELFILES_AFTERINST])
        x.removals.emplace_back(Cp932ToUtf8(entry), IsConfinedPattern(entry.c_str()));
    return true;
}

std::string QuotedUtf8(const std::string& utf8)
{
    return "\"" + utf8 + "\"";
}

std::string WritesJson(const std::vector<ExplainedWrite>& writes)
{
    std::string out = "[";
    for (size_t i = 0; i < writes.size(); ++i) {
        const ExplainedWrite& w = writes[i];
        out += i == 0 ? "" : ", ";
        out += w.skipped ? "{\"skipped\": " + JsonString(w.line) + "}"
                         : "{\"name\": " + JsonString(w.name) + ", \"value\": " + JsonString(w.value) + "}";
    }
    return out + "]";
}

}  // namespace

std::string ExplainSettingsFile(const std::string& installEnvPath)
{
    Explanation x;
    if (!Explain(installEnvPath, x))
        return "";
    std::string out;
    auto line = [&out](const std::string& text) { out += text + "\n"; };
    line("title: " + x.title);
    line("product key: " + x.productKey + " (install folder read from HKEY_LOCAL_MACHINE, version and [reg] "
         "values under HKEY_CURRENT_USER)");
    line("key file: " + (x.hasKeyFile ? x.keyFile : std::string("(none: any folder is accepted)")));
    line("folder proposed when asking: " + x.proposal);
    if (!x.hasVersionRange)
        line("version range: none (every installed version takes the update)");
    else
        line("version range: value " + x.versionValue + " from " + std::to_string(x.versionFrom) + " to " +
             std::to_string(x.versionTo) + " takes the update; above counts as already applied");
    line(!x.hasReadme ? std::string("readme: none") : "readme: button " + QuotedUtf8(x.readmeButton) + " opens " + x.readmeFile);
    if (!x.unclosedSection.empty()) {
        line("section [" + x.unclosedSection + "] is never closed: the updater stops at start-up");
        return out;
    }
    line(std::string("with the product installed in ") + kSampleInstallPath + " and no CD-ROM drive:");
    if (x.hasIni) {
        line("INI writes to " + x.iniFile + " [" + x.iniSection + "]:");
        for (const ExplainedWrite& w : x.ini)
            line(w.skipped ? "  (skipped) " + w.line : "  " + w.name + "=" + w.value);
    }
    if (x.hasReg) {
        line(x.regWritten ? "registry writes under HKEY_CURRENT_USER\\" + x.productKey + ":"
                          : std::string("registry writes: none (REG_GLOBAL is not set)"));
        for (const ExplainedWrite& w : x.reg)
            line(w.skipped ? "  (skipped) " + w.line : "  " + QuotedUtf8(w.name) + " = " + QuotedUtf8(w.value));
    }
    if (x.hasRemovals) {
        line("removed from the product folder after the update:");
        for (const auto& [pattern, taken] : x.removals)
            line((taken ? "  " : "  (ignored: leaves the folder) ") + pattern);
    }
    return out;
}

std::string ExplainSettingsFileJson(const std::string& installEnvPath)
{
    Explanation x;
    if (!Explain(installEnvPath, x))
        return "null";
    std::string out = "{\"title\": " + JsonString(x.title) + ", \"productKey\": " + JsonString(x.productKey) +
                      ", \"keyFile\": " + (x.hasKeyFile ? JsonString(x.keyFile) : "null") +
                      ", \"proposedFolder\": " + JsonString(x.proposal) + ", \"versionRange\": ";
    out += x.hasVersionRange ? "{\"value\": " + JsonString(x.versionValue) + ", \"from\": " +
                                   std::to_string(x.versionFrom) + ", \"to\": " + std::to_string(x.versionTo) + "}"
                             : "null";
    out += ", \"readme\": " + (x.hasReadme ? "{\"button\": " + JsonString(x.readmeButton) + ", \"file\": " +
                                                 JsonString(x.readmeFile) + "}"
                                           : std::string("null"));
    if (!x.unclosedSection.empty())
        return out + ", \"unclosedSection\": " + JsonString(x.unclosedSection) + "}";
    out += ", \"sampleInstallFolder\": " + JsonString(kSampleInstallPath);
    out += ", \"ini\": " + (x.hasIni ? "{\"file\": " + JsonString(x.iniFile) + ", \"section\": " +
                                           JsonString(x.iniSection) + ", \"writes\": " + WritesJson(x.ini) + "}"
                                     : std::string("null"));
    out += ", \"registry\": " + (x.regWritten ? WritesJson(x.reg) : std::string("[]"));
    out += ", \"removals\": [";
    bool firstRemoval = true;
    for (const auto& [pattern, taken] : x.removals) {
        if (!taken)
            continue;  // the updater ignores it, so it removes nothing
        out += (firstRemoval ? "" : ", ") + JsonString(pattern);
        firstRemoval = false;
    }
    return out + "]}";
}
