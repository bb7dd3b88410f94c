// The explanation model: what the updater will do with a settings file, read by its own readers.
#include "lint/lint_model.h"

#include <filesystem>

#include "cli/text_util.h"
#include "host/host_files.h"
#include "lint/lint_text.h"
#include "lint/settings_replay.h"
#include "settings/action_lists.h"
#include "settings/settings.h"
#include "text/removal_pattern.h"

namespace fs = std::filesystem;

namespace {

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

// The settings through the updater's accessors over the table the replay filled: they hold
// the defaults and the cuts.
void ExplainSettings(Explanation& x)
{
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
    GetReadmeFileName(readmeFile, sizeof readmeFile);
    x.hasReadme = readme[0] != '-';
    x.readmeButton = Cp932ToUtf8(readme);
    x.readmeFile = Cp932ToUtf8(readmeFile);
    x.iniFile = Cp932ToUtf8(GetIniFile());
    x.iniSection = Cp932ToUtf8(GetIniSection());
    x.regWritten = GetRegGlobal()[0] != '-';
}

// The lists as lint's model of what the section reader kept, with the sample install folder.
void ExplainLists(const SettingsModel& model, Explanation& x)
{
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
}

}  // namespace

bool Explain(const std::string& installEnvPath, Explanation& x)
{
    std::string bytes;
    if (!ReadWholeFile(installEnvPath, bytes) || fs::is_directory(fs::u8path(installEnvPath)))
        return false;
    SettingsModel model = ModelSettings(ReplaySettings(bytes));
    FreeActionLists();
    ExplainSettings(x);
    FreeSettings();
    if (model.openSection != SECTION_NONE) {
        x.unclosedSection = GetSectionName(model.openSection);
        return true;
    }
    ExplainLists(model, x);
    return true;
}
