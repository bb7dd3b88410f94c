// The version gate as lint, build and verify check it: each version range crossed with each kind
// of [reg] line that writes (or fails to write) the new version, and what each command says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "lint/lint.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

// Line 3 CHKREG, 4 CHKREGVER, 5 CHKREGVERHIGH, 6 [reg], 7 the write.
std::string Settings(const std::string& low, const std::string& high, const std::string& write)
{
    return "REG_GLOBAL\tMaker\nREG_LOCAL\tGame\nCHKREG\tVersion\nCHKREGVER\t" + low + "\nCHKREGVERHIGH\t" + high +
           "\n[reg]\n" + write + "\n-\n";
}

struct Expected {
    int line;
    std::string message;  // a part of the error's message
};

struct VersionCase {
    const char* name;
    std::string low, high, write;
    std::vector<Expected> errors;  // in order of their lines; none: the gate is sound
};

const std::string kNoWrite = "no [reg] line writes it";
const std::string kInside = "inside this update's own range";
const std::string kBelow = "would turn players back to an older number";

const VersionCase kCases[] = {
    // Whole numbers, the new version written above the range: sound.
    {"Sound", "100", "109", "\"Version\"=\"110\"", {}},
    {"SoundFarAbove", "100", "109", "\"Version\"=\"200\"", {}},
    {"SoundNameInOtherCase", "100", "109", "\"VERSION\"=\"110\"", {}},
    {"SoundOneVersionRange", "105", "105", "\"Version\"=\"106\"", {}},
    // The version written, against the range.
    {"WriteInsideRange", "100", "109", "\"Version\"=\"105\"", {{7, kInside}}},
    {"WriteAtTopOfRange", "100", "109", "\"Version\"=\"109\"", {{7, "109 is inside this update's own range CHKREGVER 100 to CHKREGVERHIGH 109"}}},
    {"WriteAtBottomOfRange", "100", "109", "\"Version\"=\"100\"", {{7, kInside}}},
    {"WriteBelowRange", "100", "109", "\"Version\"=\"99\"", {{7, kBelow}}},
    {"WriteWithADot", "100", "109", "\"Version\"=\"1.10\"", {{7, "not a whole number: the updater reads 1; this update's range"}}},
    {"WriteWithADotAboveRange", "100", "109", "\"Version\"=\"110.5\"", {{7, "the updater reads 110; write versions as whole numbers"}}},
    // No write of CHKREG's value.
    {"NoWrite", "100", "109", "\"InstallDir\"=\"REP_INSTALL\"", {{3, kNoWrite}}},
    {"WriteOfAnotherValue", "100", "109", "\"Ver\"=\"110\"", {{3, kNoWrite}}},
    {"WriteAsDword", "100", "109", "\"Version\"=dword:0000006e", {{3, kNoWrite}}},
    // Range values that are no whole numbers: the "1.00".."1.01", read as 1..1.
    {"RangeWithDots", "1.00", "1.01", "\"Version\"=\"110\"",
     {{4, "value \"1.00\" of CHKREGVER is not a whole number; the updater reads 1"},
      {5, "(1.01 as 101)"}}},
    {"RangeWithDotsAndWriteWithADot", "1.00", "1.01", "\"Version\"=\"1.10\"",
     {{4, "reads 1"}, {5, "reads 1"}, {7, "1 is inside this update's own range CHKREGVER 1 to CHKREGVERHIGH 1"}}},
    {"RangeTopWithADot", "100", "1.09", "\"Version\"=\"110\"",
     {{4, "CHKREGVER 100 is above CHKREGVERHIGH 1"}, {5, "reads 1"}}},
    {"RangeTopWithText", "100", "109a", "\"Version\"=\"110\"", {{5, "\"109a\" of CHKREGVERHIGH is not a whole number; the updater reads 109"}}},
};

class VersionGate : public testing::TestWithParam<VersionCase> {};

std::string Describe(const std::vector<LintFinding>& findings)
{
    std::string text;
    for (const LintFinding& finding : findings)
        text += FormatLintFinding(finding) + "\n";
    return text.empty() ? "(no findings)" : text;
}

TEST_P(VersionGate, LintReportsEachErrorAtItsLine)
{
    const VersionCase& c = GetParam();
    Scratch scratch;
    Write(scratch.Path() / "install.env", Settings(c.low, c.high, c.write));
    WriteTitlePicture(scratch.Path());
    std::vector<LintFinding> findings = LintSettingsFile((scratch.Path() / "install.env").u8string());
    std::vector<LintFinding> errors;
    for (const LintFinding& finding : findings)
        if (finding.error)
            errors.push_back(finding);
    ASSERT_EQ(errors.size(), c.errors.size()) << Describe(findings);
    for (size_t i = 0; i < errors.size(); i++) {
        EXPECT_EQ(errors[i].line, c.errors[i].line) << Describe(findings);
        EXPECT_NE(errors[i].message.find(c.errors[i].message), std::string::npos) << Describe(findings);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionGate, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

// Without CHKREG the range is never read: a value that is no whole number is only a warning, and
// no [reg] line needs to write a version.
TEST(VersionGate, WithoutChkRegNothingIsAnError)
{
    Scratch scratch;
    Write(scratch.Path() / "install.env", "CHKREGVER\t1.00\nCHKREGVERHIGH\t1.01\n");
    WriteTitlePicture(scratch.Path());
    std::vector<LintFinding> findings = LintSettingsFile((scratch.Path() / "install.env").u8string());
    ASSERT_EQ(findings.size(), 2u) << Describe(findings);
    EXPECT_FALSE(HasLintErrors(findings)) << Describe(findings);
    EXPECT_NE(findings[0].message.find("reads 1"), std::string::npos) << Describe(findings);
}

// build refuses what lint calls an error, and verify finds the same in a package built without
// mkupdate's checks, naming the line of the packaged install.env.
TEST(VersionGate, BuildRefusesAndVerifyFinds)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    fs::create_directories(source);
    Write(source / "install.env", Settings("100", "109", "\"Version\"=\"105\""));
    WriteTitlePicture(source);
    Write(source / "game.dat", "data");
    Write(scratch.Path() / "stub.exe", std::string(1000, 'S'));
    ToolRun build = RunTool("build " + Q(source) + " -o " + Q(scratch.Path() / "update.exe") + " --stub " +
                            Q(scratch.Path() / "stub.exe"));
    EXPECT_EQ(build.code, kExitInput) << build.output;
    EXPECT_NE(build.output.find("install.env:7: error: [reg] writes \"105\" to \"Version\""), std::string::npos)
        << build.output;
    EXPECT_FALSE(fs::exists(scratch.Path() / "update.exe"));

    struct Packaged {
        std::string settings;
        std::string expected;  // "" when sound
    };
    const Packaged packaged[] = {
        {Settings("100", "109", "\"Version\"=\"110\""), ""},
        {Settings("100", "109", "\"Version\"=\"105\""), "inside this update's own range CHKREGVER 100 to CHKREGVERHIGH 109"},
        {Settings("100", "109", "\"Version\"=\"99\""), kBelow + "; write the new version, above 109 (line 7 of the packaged install.env)"},
        {Settings("100", "109", "\"Other\"=\"1\""), kNoWrite},
        {Settings("1.00", "1.01", "\"Version\"=\"110\""), "\"1.00\" of CHKREGVER is not a whole number; the updater reads 1"},
    };
    for (const Packaged& p : packaged) {
        fs::path update = scratch.Path() / "raw.exe";
        Write(update, RawUpdate(std::string(1000, 'S'), {{"install.env", false, p.settings}}, true));
        ToolRun verify = RunTool("verify " + Q(update));
        if (p.expected.empty()) {
            EXPECT_EQ(verify.code, kExitOk) << p.settings << "\n" << verify.output;
            continue;
        }
        EXPECT_EQ(verify.code, kExitInput) << p.settings << "\n" << verify.output;
        EXPECT_NE(verify.output.find(p.expected), std::string::npos) << p.settings << "\n" << verify.output;
    }
}

TEST(VersionGate, TheExampleIsSound)
{
    std::vector<LintFinding> findings = LintSettingsFile(std::string(TEST_SOURCE_DIR) + "/../examples/demo/install.env");
    EXPECT_FALSE(HasLintErrors(findings)) << Describe(findings);
}

}  // namespace
