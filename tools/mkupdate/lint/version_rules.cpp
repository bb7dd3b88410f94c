// The version gate: CHKREG's range and the [reg] line that writes the new version.
#include "lint/version_rules.h"

#include <map>

#include "host/host_files.h"
#include "lint/lint_text.h"
#include "lint/update_faults.h"
#include "settings/action_lists.h"
#include "settings/settings.h"
#include "text/cp932_text.h"

namespace {

struct WrittenKey {
    std::string value;  // as written
    int line = 0;
};

// The first line of each key the key/value reader took (the first value of a key wins).
std::map<std::string, WrittenKey> KeyLines(const SettingsReplay& replay)
{
    std::map<std::string, WrittenKey> keys;
    for (size_t i = 0; i < replay.keyLines.size() && i < replay.pieces.size(); i++) {
        const KeyLineReport& report = replay.keyLines[i];
        if (report.kind != KEYLINE_PAIR)
            continue;
        const std::string& text = replay.pieces[i].text;
        std::string key = text.substr(0, (size_t)report.parts.keyLength);
        if (keys.count(key) == 0)
            keys[key] = {text.substr((size_t)report.parts.valueStart, (size_t)report.parts.valueLength),
                         replay.pieces[i].line};
    }
    return keys;
}

struct RegWrite {
    std::string data;  // as the updater writes it
    int line = 0;
};

// The last [reg] line the updater takes that writes `valueName` (registry names ignore case); a
// second [reg] header starts the list afresh, as the section reader does.
bool LastWriteOf(const SettingsReplay& replay, const std::string& valueName, RegWrite& found)
{
    bool any = false;
    for (size_t i = 0; i < replay.sectionLines.size() && i < replay.pieces.size(); i++) {
        const SectionLineReport& report = replay.sectionLines[i];
        if (report.kind == SECTIONLINE_HEADER && report.section == SECTION_REG) {
            any = false;
            continue;
        }
        if (report.kind != SECTIONLINE_ENTRY || report.section != SECTION_REG)
            continue;
        char name[TEXT_BUFFER_SIZE];
        char data[TEXT_BUFFER_SIZE];
        if (SplitRegEntry(report.text.c_str(), name, data) != ENTRY_TAKEN || Lower(name) != Lower(valueName))
            continue;
        found = {data, replay.pieces[i].line};
        any = true;
    }
    return any;
}

// "1.10" is meant as 110: the digits without the dot, as a hint.
std::string AsWholeNumber(const std::string& value)
{
    std::string digits;
    bool dot = false;
    for (char c : value) {
        if (c == '.' && !dot)
            dot = true;
        else if (c >= '0' && c <= '9')
            digits += c;
        else
            return "";
    }
    return dot && !digits.empty() ? digits : "";
}

std::string WholeNumberHint(const std::string& value)
{
    std::string meant = AsWholeNumber(value);
    return meant.empty() ? "write versions as whole numbers"
                         : "write versions as whole numbers (" + Cp932ToUtf8(value) + " as " + meant + ")";
}

}  // namespace

std::vector<VersionFinding> CheckVersionGate(const SettingsReplay& replay)
{
    std::vector<VersionFinding> findings;
    std::map<std::string, WrittenKey> keys = KeyLines(replay);
    const bool gated = GetChkReg() != nullptr;
    // The range's own values: read as numbers whatever they hold.
    for (const char* key : {"CHKREGVER", "CHKREGVERHIGH"}) {
        auto written = keys.find(key);
        if (written == keys.end() || IsWellFormedInteger(written->second.value))
            continue;
        int number = GetSettingInt(key, 0);
        std::string message = "value " + Quoted(written->second.value) + " of " + key + " is not a whole number; the "
                              "updater reads " + std::to_string(number);
        if (gated)
            message += ", so the range of versions that may take the update is not the one written; " +
                       WholeNumberHint(written->second.value);
        findings.push_back({written->second.line, gated, message});
    }
    if (!gated)
        return findings;

    int low = GetChkRegVer(), high = GetChkRegVerHigh();
    std::string range = VersionRangeProblem();
    auto lineOf = [&](const char* key) { return keys.count(key) != 0 ? keys[key].line : 0; };
    if (!range.empty()) {
        findings.push_back({lineOf("CHKREGVER") != 0 ? lineOf("CHKREGVER") : lineOf("CHKREGVERHIGH"), true, range});
        return findings;
    }

    const std::string valueName = GetChkReg();
    const std::string shownName = Quoted(valueName);
    const std::string rangeText = "CHKREGVER " + std::to_string(low) + " to CHKREGVERHIGH " + std::to_string(high);
    const std::string suggestion = "\"" + Cp932ToUtf8(valueName) + "\"=\"" + std::to_string(high + 1) + "\"";
    SetInstallPath(kSampleInstallPath);
    RegWrite write;
    if (!LastWriteOf(replay, valueName, write)) {
        std::string message = "CHKREG names the value " + shownName + " that the range " + rangeText +
                              " is read from, but no [reg] line writes it: players keep their old number after the "
                              "update, so they can take it again and the next update cannot tell them apart; add " +
                              suggestion + " (the new version, above " + std::to_string(high) + ") to [reg]";
        if (GetRegGlobal()[0] == '-')
            message += " and set REG_GLOBAL and REG_LOCAL (without them the updater writes no [reg] line)";
        findings.push_back({lineOf("CHKREG"), true, message});
        return findings;
    }
    int version = ParseDecimal(write.data.c_str());
    bool whole = IsWellFormedInteger(write.data);
    std::string message = "[reg] writes " + Quoted(write.data) + " to " + shownName +
                          ", the value CHKREG reads the installed version from";
    if (!whole)
        message += "; it is not a whole number: the updater reads " + std::to_string(version);
    if (version >= low && version <= high)
        message += "; " + std::to_string(version) + " is inside this update's own range " + rangeText +
                   ": players who have taken the update could take it again; write the new version, above " +
                   std::to_string(high);
    else if (version < low)
        message += "; this update's range " + rangeText + " lies above " + std::to_string(version) +
                   ": the update would turn players back to an older number; write the new version, above " +
                   std::to_string(high);
    else if (!whole)
        message += "; " + WholeNumberHint(write.data);
    else
        return findings;
    findings.push_back({write.line, true, message});
    return findings;
}
