// Lint's second pass: the section entries, and the settings taken together with the update's files.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/text_util.h"
#include "host/host_files.h"
#include "host/image_file.h"
#include "host/rct_convert.h"
#include "init/starter_folder.h"
#include "lint/update_faults.h"
#include "lint/lint_rules.h"
#include "lint/lint_text.h"
#include "package/entry_names.h"
#include "settings/action_lists.h"
#include "settings/action_reader.h"
#include "settings/settings.h"
#include "text/cp932_text.h"
#include "text/removal_pattern.h"

namespace fs = std::filesystem;

namespace {

const uint32_t kPictureArea = 268;  // the main window's client height, in pixels

// A placeholder given twice is replaced only where it first stands.
void CheckRepeatedPlaceholders(const EntryLine& entry, const std::vector<std::string>& known, Findings& findings)
{
    const std::string& text = entry.text;
    for (const std::string& placeholder : known) {
        const char* first = FindCharacters(text.c_str(), placeholder.c_str());
        if (first == nullptr)
            continue;
        // "REP_CDROM" is found inside "REP_CDROMDRIVE" too; only count where it stands alone.
        if (FindCharacters(first + placeholder.size(), placeholder.c_str()) != nullptr)
            findings.Warn(entry.line, placeholder + " stands twice in this " + GetSectionHeader(entry.section) +
                                          " entry; only the first is replaced");
    }
}

// A word starting with "REP_" that is no placeholder of the section stays in the text as it is.
void CheckUnknownPlaceholders(const EntryLine& entry, const std::vector<std::string>& known, Findings& findings)
{
    const std::string& text = entry.text;
    const std::string section = GetSectionHeader(entry.section);
    const std::string upper = Upper(text);
    for (size_t at = upper.find("REP_"); at != std::string::npos; at = upper.find("REP_", at + 1)) {
        if (IsTrailByteAt(text.c_str(), (int)at))
            continue;
        size_t end = at + 4;
        while (end < text.size() && (std::isalpha((unsigned char)text[end]) || text[end] == '_'))
            end++;
        std::string word = text.substr(at, end - at);
        if (entry.section == SECTION_REG && word.rfind("REP_CDROMDRIVE", 0) == 0) {
            findings.Warn(entry.line, "[reg] knows only REP_CDROM: REP_CDROMDRIVE becomes the drive root followed "
                                      "by \"DRIVE\"");
            continue;
        }
        bool isKnown =
            std::any_of(known.begin(), known.end(), [&](const std::string& p) { return word.rfind(p, 0) == 0; });
        if (isKnown)
            continue;
        std::string suggestion = Suggest(word, known);
        if (suggestion.empty())
            suggestion = known.back();
        findings.Warn(entry.line, word + " is not a placeholder of " + section + " and stays as it is; did you mean " +
                                      suggestion + "?");
    }
}

// An [ini] or [reg] entry by its parser's verdict: without its separator it is skipped and
// no more is said; else its placeholders are checked, and a skip for any other reason told.
void CheckVerdict(const EntryLine& entry, int verdict, const char* noSeparator,
                  const std::vector<std::string>& placeholders, const char* skipped, Findings& findings)
{
    if (verdict == ENTRY_NO_SEPARATOR) {
        findings.Warn(entry.line, noSeparator);
        return;
    }
    CheckRepeatedPlaceholders(entry, placeholders, findings);
    CheckUnknownPlaceholders(entry, placeholders, findings);
    if (verdict != ENTRY_TAKEN)
        findings.Warn(entry.line, skipped);
}

void CheckIniEntry(const EntryLine& entry, Findings& findings)
{
    char name[TEXT_BUFFER_SIZE];
    char value[TEXT_BUFFER_SIZE];
    CheckVerdict(entry, SplitIniEntry(entry.text.c_str(), name, value),
                 "[ini] entry has no \"=\": the updater skips it", {"REP_CDROMDRIVE", "REP_INSTALL"},
                 "[ini] entry may grow past 511 bytes once REP_INSTALL is replaced; the updater then skips it",
                 findings);
}

// A key line in [reg] names no key of its own: the values always go under the product's key.
void CheckRegEntry(const EntryLine& entry, const LintedFile& file, Findings& findings)
{
    const std::string& text = entry.text;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        std::string expected = "[HKEY_CURRENT_USER\\Software\\" + file.Setting("REG_GLOBAL", "-") + "\\" +
                               file.Setting("REG_LOCAL", "-") + "]";
        if (text != expected)
            findings.Warn(entry.line, "the values below go under the product key " +
                                          Cp932ToUtf8(expected.substr(1, expected.size() - 2)) +
                                          ", not under the key named here");
        return;
    }
    char name[TEXT_BUFFER_SIZE];
    char data[TEXT_BUFFER_SIZE];
    CheckVerdict(entry, SplitRegEntry(text.c_str(), name, data),
                 "[reg] line is not a string value (\"name\"=\"data\"): the updater skips it",
                 {"REP_CDROM", "REP_INSTALL"},
                 "[reg] entry cannot be split into name and data (or grows past 511 bytes): the updater skips it",
                 findings);
}

// Removing an old version's file that this update does not carry is the usual case, so a
// pattern that matches none of the update's files is fine.
void CheckRemoval(const EntryLine& entry, const LintOptions& options, Findings& findings)
{
    if (!IsConfinedPattern(entry.text.c_str()))
        findings.Fail(entry.line, "the updater ignores the removal " + Quoted(entry.text) +
                                      ": it names a drive, starts with a backslash or climbs out with '..'; "
                                      "removals are taken inside the game's folder only");
    else if (ContainsSeparator(entry.text))
        findings.Warn(entry.line, "text after the file name becomes part of the pattern " + Quoted(entry.text) +
                                      " (comments go on lines of their own)");
    else if (WipesGameFolder(entry.text) && !options.allowWipe)
        findings.Fail(entry.line, "the removal " + Quoted(entry.text) + " deletes every file in the game's "
                                  "folder; name the files to remove, or give --allow-wipe if that is meant");
}

// A version in the title ("Game Ver1.01", "Game 1.10") is read as part of the product's name:
// the notices show the title in brackets to players of every version. Only single-byte
// characters are looked at, so a second byte of a Japanese character never counts.
std::string VersionInTitle(const std::string& title)
{
    std::string shadow;          // the title with each double-byte character as one 0x01
    std::vector<size_t> offsets;  // the byte where each character of the shadow starts, and the end
    for (int i = 0; i < (int)title.size(); i = NextCharacter(title.c_str(), i)) {
        offsets.push_back((size_t)i);
        int next = NextCharacter(title.c_str(), i);
        shadow += next - i == 1 ? (char)std::tolower((unsigned char)title[(size_t)i]) : '\x01';
    }
    offsets.push_back(title.size());
    auto digitAt = [&](size_t at) { return at < shadow.size() && std::isdigit((unsigned char)shadow[at]); };
    auto letterAt = [&](size_t at) { return at < shadow.size() && std::isalpha((unsigned char)shadow[at]); };
    for (size_t i = 0; i < shadow.size(); ++i) {
        size_t end = i;
        if (shadow.compare(i, 3, "ver") == 0 && (i == 0 || !letterAt(i - 1))) {
            end = i + 3;
            while (end < shadow.size() && (shadow[end] == '.' || shadow[end] == '|' || shadow[end] == ' '))
                end++;
            if (shadow.compare(i, 7, "version") == 0 && !digitAt(end)) {
                end = i + 7;
                while (end < shadow.size() && (shadow[end] == '.' || shadow[end] == '|' || shadow[end] == ' '))
                    end++;
            }
            if (!digitAt(end))
                continue;
        } else if (shadow[i] == 'v' && (i == 0 || !letterAt(i - 1)) && digitAt(i + 1)) {
            end = i + 1;
        } else if (digitAt(i) && (i == 0 || !digitAt(i - 1))) {
            size_t dot = i;
            while (digitAt(dot))
                dot++;
            if (dot >= shadow.size() || shadow[dot] != '.' || !digitAt(dot + 1))
                continue;
            end = i;
        } else {
            continue;
        }
        while (end < shadow.size() && (digitAt(end) || (shadow[end] == '.' && digitAt(end + 1))))
            end++;
        return title.substr(offsets[i], offsets[end] - offsets[i]);
    }
    // バージョン, the word itself.
    const char* word = FindCharacters(title.c_str(), "\x83\x6F\x81\x5B\x83\x57\x83\x87\x83\x93");
    return word != nullptr ? std::string(word, 10) : std::string();
}

void CheckTitleVersion(const LintedFile& file, Findings& findings)
{
    const SettingLine* title = file.Find("TITLEBAR");
    if (title == nullptr || FindInvalidCp932(title->value.data(), title->value.size()) >= 0)
        return;
    std::string version = VersionInTitle(title->value);
    if (version.empty())
        return;
    std::string shown = title->value;
    std::replace(shown.begin(), shown.end(), '|', ' ');
    std::replace(version.begin(), version.end(), '|', ' ');
    findings.Warn(title->line, "TITLEBAR " + Quoted(shown) + " holds a version (" + Quoted(version) + "): the updater "
                               "shows the title as the product's name in its window and in every notice (\"[ " +
                               Cp932ToUtf8(shown) + " ] ...\"), also to players of other versions; name the "
                               "product alone, and tell the version in the readme");
}

void CheckIniSettings(const LintedFile& file, Findings& findings)
{
    if (file.IsUsed("INI_FILE") && !file.IsUsed("INI_SECTION"))
        findings.Warn(file.LineOf("INI_FILE"), "INI_FILE is set without INI_SECTION: the [ini] entries go to a "
                                               "section named \"-\"");
    if (file.IsUsed("INI_FILE") && NamesRelativeFolder(file.Setting("INI_FILE", "")))
        findings.Warn(file.LineOf("INI_FILE"), "INI_FILE names a folder relative to where the updater runs (its "
                                               "work folder): the file is written there and removed with it; give a "
                                               "bare name (the Windows folder) or a full path");
    if (!file.IsUsed("INI_FILE") && file.sectionLines.count(SECTION_INI) != 0 && file.HasEntries(SECTION_INI))
        findings.Warn(file.sectionLines.at(SECTION_INI), "[ini] entries are given but INI_FILE is not set");
}

void CheckRegistrySettings(const LintedFile& file, Findings& findings)
{
    if (!file.IsUsed("REG_GLOBAL") && file.HasEntries(SECTION_REG))
        findings.Warn(file.sectionLines.at(SECTION_REG), "[reg] entries are given but REG_GLOBAL is not set: the "
                                                         "updater writes none of them");
    if (file.Find("CHKREG") != nullptr && file.Find("CHKREGVERHIGH") == nullptr)
        findings.Warn(file.LineOf("CHKREG"), "CHKREG is set without CHKREGVERHIGH: every installed version above 0 "
                                             "would be refused");
}

// How a finding names a file beside install.env: as install.env was named, with the folder.
std::string Beside(const LintedFile& file, const std::string& name)
{
    fs::path folder = fs::u8path(file.path).parent_path();
    return folder.empty() ? name : (folder / fs::u8path(name)).u8string();
}

// A readme the player cannot read is as good as none.
void CheckReadmeText(const LintedFile& file, const std::string& name, int line, Findings& findings)
{
    std::string text;
    fs::path folder = fs::u8path(file.path).parent_path();
    fs::path readme;
    if (!Cp932ToHostPath(folder.empty() ? fs::path(".") : folder, name, readme) || !ReadWholeFile(readme, text))
        return;
    std::string problem = EncodingProblem(text, Cp932ToUtf8(name), PathAsArgument(readme));
    if (problem.empty() && FindInvalidCp932(text.data(), text.size()) >= 0)
        problem = Cp932ToUtf8(name) + " is not code page 932 (Shift-JIS) text: the player would see it garbled";
    if (!problem.empty()) {
        findings.Fail(line, "readme " + problem);
        return;
    }
    std::string placeholder;
    TextToCp932(kStarterReadmePlaceholder, placeholder);
    size_t at = text.find(placeholder);
    if (at != std::string::npos)
        findings.About(Beside(file, Cp932ToUtf8(name)), 1 + (int)std::count(text.begin(), text.begin() + (long)at, '\n'), false,
                       std::string("the readme still holds the placeholder line of mkupdate init \"") +
                           kStarterReadmePlaceholder + "\"; write what this update changes");
}

// The readme button opens a document that the setup pass put in the work folder.
void CheckReadme(const LintedFile& file, Findings& findings)
{
    if (!file.IsUsed("INSTREADME"))
        return;
    char readme[TEXT_BUFFER_SIZE];
    std::string name = GetReadmeFileName(readme, sizeof readme);
    int line = file.Find("INSTREADMEFL") != nullptr ? file.LineOf("INSTREADMEFL") : file.LineOf("INSTREADME");
    bool extracted = IsSetupFileName(name.c_str());
    bool topLevel = FirstSeparator(name.c_str()) < 0 && name.find('/') == std::string::npos;
    std::string lower = Lower(name);
    bool present =
        std::any_of(file.files.begin(), file.files.end(), [&](const std::string& f) { return Lower(f) == lower; });
    if (!topLevel || !present)
        findings.Warn(line, "readme " + Quoted(name) + " is not a file at the top of the update (beside install.env)"
                            ": the readme button would open nothing");
    else if (!extracted)
        findings.Warn(line, "readme " + Quoted(name) + " is not extracted at start-up (only names containing "
                            "\".txt\", \"install.env\" or \"insttscr.rct\" are): the readme button would open "
                            "nothing");
    if (topLevel && present)
        CheckReadmeText(file, name, line, findings);
}

fs::path UpdateFolder(const LintedFile& file)
{
    fs::path folder = fs::u8path(file.path).parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

std::vector<std::string> TopLevelFiles(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code code;
    for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
        std::error_code status;
        if (it->is_regular_file(status))
            names.push_back(it->path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The main window draws the picture at its own size, centred in a square as wide as the
// window's client height; a larger one starts above and left of the window and is cut there.
void CheckPictureSize(const std::string& where, const RgbImage& image, Findings& findings)
{
    if (image.width > kPictureArea || image.height > kPictureArea)
        findings.About(where, 0, false,
                       "the title picture is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                           " pixels; the main window's picture area is " + std::to_string(kPictureArea) + " x " +
                           std::to_string(kPictureArea) + " (its client height on Windows with the Japanese dialog "
                           "font), and the picture is cut at its top and left edges beyond that");
}

void CheckTitlePicture(const LintedFile& file, Findings& findings)
{
    fs::path folder = UpdateFolder(file);
    TitlePicture title = FindTitlePicture(TopLevelFiles(folder));
    if (!title.problem.empty()) {
        // At the picture of another type when there is one, else at install.env: never at a file
        // that does not exist.
        if (!title.passed.empty())
            findings.About(Beside(file, title.passed.front()), 0, true, title.problem);
        else
            findings.Fail(0, title.problem);
        return;
    }
    bool rct = !title.rct.empty();
    fs::path path = folder / fs::u8path(rct ? title.rct : title.picture);
    std::string where = Beside(file, rct ? title.rct : title.picture);
    std::string bytes, error;
    RgbImage image;
    RctFileInfo info;
    bool read = ReadWholeFile(path, bytes) &&
                (rct ? DecodeRctFile(bytes, image, info, error) : ReadImageFile(where, image, error));
    if (!read) {
        findings.About(where, 0, true,
                       "the title picture cannot be read (" + (error.empty() ? std::string("unreadable") : error) +
                           "), so the updater would show no window; " +
                           (rct ? "make it again with mkupdate rct encode" : "save it again as a PNG or BMP"));
        return;
    }
    CheckPictureSize(where, image, findings);
    if (image.transparentPixels > 0)
        findings.About(where, 0, false, TransparencyWarning(image));
    RgbImage starter = StarterPicture();
    if (image.width == starter.width && image.height == starter.height && image.bgr == starter.bgr)
        findings.About(where, 0, false,
                       "this is still the placeholder picture of mkupdate init; players would see it in place of "
                       "your game's title picture");
}

}  // namespace

void CheckEntry(const EntryLine& entry, const LintedFile& file, const LintOptions& options, Findings& findings)
{
    SetInstallPath(kSampleInstallPath);
    if (entry.section == SECTION_INI)
        CheckIniEntry(entry, findings);
    else if (entry.section == SECTION_REG)
        CheckRegEntry(entry, file, findings);
    else if (entry.section == SECTION_DELFILES_AFTERINST)
        CheckRemoval(entry, options, findings);
}

void CheckSettingsTogether(const LintedFile& file, Findings& findings)
{
    CheckTitleVersion(file, findings);
    CheckIniSettings(file, findings);
    CheckRegistrySettings(file, findings);
    CheckReadme(file, findings);
    CheckTitlePicture(file, findings);
}
