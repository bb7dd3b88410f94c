// Lint's output: the findings as lines, and the explanation as text or as JSON.
#include <algorithm>

#include "cli/command_line.h"
#include "cli/text_util.h"
#include "lint/lint.h"
#include "lint/lint_model.h"
#include "lint/lint_text.h"

namespace {

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

std::string SettingsText(const Explanation& x)
{
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
    return out;
}

std::string ListsText(const Explanation& x)
{
    std::string out;
    auto line = [&out](const std::string& text) { out += text + "\n"; };
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

std::string SettingsJson(const Explanation& x)
{
    std::string out = "{\"title\": " + JsonString(x.title) + ", \"productKey\": " + JsonString(x.productKey) +
                      ", \"keyFile\": " + (x.hasKeyFile ? JsonString(x.keyFile) : "null") +
                      ", \"proposedFolder\": " + JsonString(x.proposal) + ", \"versionRange\": ";
    out += x.hasVersionRange ? "{\"value\": " + JsonString(x.versionValue) + ", \"from\": " +
                                   std::to_string(x.versionFrom) + ", \"to\": " + std::to_string(x.versionTo) + "}"
                             : "null";
    out += ", \"readme\": " + (x.hasReadme ? "{\"button\": " + JsonString(x.readmeButton) + ", \"file\": " +
                                                 JsonString(x.readmeFile) + "}"
                                           : std::string("null"));
    return out;
}

// The removals the updater ignores remove nothing, so they are left out.
std::string ListsJson(const Explanation& x)
{
    std::string out = ", \"sampleInstallFolder\": " + JsonString(kSampleInstallPath);
    out += ", \"ini\": " + (x.hasIni ? "{\"file\": " + JsonString(x.iniFile) + ", \"section\": " +
                                           JsonString(x.iniSection) + ", \"writes\": " + WritesJson(x.ini) + "}"
                                     : std::string("null"));
    out += ", \"registry\": " + (x.regWritten ? WritesJson(x.reg) : std::string("[]"));
    out += ", \"removals\": [";
    bool firstRemoval = true;
    for (const auto& [pattern, taken] : x.removals) {
        if (!taken)
            continue;
        out += (firstRemoval ? "" : ", ") + JsonString(pattern);
        firstRemoval = false;
    }
    return out + "]";
}

}  // namespace

std::string FormatLintFinding(const LintFinding& finding)
{
    // Line 0: the finding concerns the whole file (a picture, a file that cannot be read).
    std::string line = finding.line > 0 ? ":" + std::to_string(finding.line) : std::string();
    return finding.file + line + ": " + (finding.error ? "error" : "warning") + ": " + finding.message;
}

void PrintLintFindings(const std::vector<LintFinding>& findings, std::FILE* out)
{
    for (const LintFinding& finding : findings)
        PrintTo(out, "%s\n", FormatLintFinding(finding).c_str());
}

std::string ExplainSettingsFile(const std::string& installEnvPath)
{
    Explanation x;
    if (!Explain(installEnvPath, x))
        return "";
    if (!x.unclosedSection.empty())
        return SettingsText(x) + "section [" + x.unclosedSection + "] is never closed: the updater stops at start-up\n";
    return SettingsText(x) + ListsText(x);
}

std::string ExplainSettingsFileJson(const std::string& installEnvPath)
{
    Explanation x;
    if (!Explain(installEnvPath, x))
        return "null";
    if (!x.unclosedSection.empty())
        return SettingsJson(x) + ", \"unclosedSection\": " + JsonString(x.unclosedSection) + "}";
    return SettingsJson(x) + ListsJson(x) + "}";
}
