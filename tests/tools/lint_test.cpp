// mkupdate lint: each kind of mistake in install.env, alone in a small fixture, gives exactly
// its own finding; the demo update is clean; the command's exit codes.
#include "lint/lint.h"

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "files.h"
#include "host/host_files.h"
#include "host/image_file.h"
#include "init/starter_folder.h"
#include "mkupdate_program.h"
#include "program.h"
#include "sample_text.h"
#include "tool_kit.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh folder holding install.env and the given update files (names in UTF-8), and a sound
// title picture unless the files bring one of their own or `titlePicture` is false.
class Fixture {
public:
    Fixture(const std::string& settings, const std::map<std::string, std::string>& files = {},
            bool titlePicture = true)
        : folder_("lint")
    {
        kit::Write(folder_.Dir() / "install.env", settings);
        for (const auto& [name, bytes] : files) {
            kit::Write(folder_.Dir() / kit::U8(name), bytes);
            if (name.rfind("insttscr.", 0) == 0 || name.rfind("INSTTSCR.", 0) == 0)
                titlePicture = false;
        }
        if (titlePicture)
            toolkit::WriteTitlePicture(folder_.Dir());
    }
    fs::path Beside(const std::string& name) const { return folder_.Dir() / kit::U8(name); }
    std::string Settings() const { return (folder_.Dir() / "install.env").string(); }

private:
    kit::TempFolder folder_;
};

std::string Describe(const std::vector<LintFinding>& findings)
{
    std::string text;
    for (const LintFinding& finding : findings)
        text += FormatLintFinding(finding) + "\n";
    return text.empty() ? "(no findings)" : text;
}

struct LintCase {
    const char* name;
    std::string settings;
    std::map<std::string, std::string> files;
    int line;
    bool error;
    std::string message;  // a part of the message that must be there
};

std::string Repeat(const std::string& piece, int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += piece;
    return text;
}

const std::string kReadme = "INSTREADME\tRead|me\n";
// 表.txt, in UTF-8 as the fixture takes its file names.
const std::string kOmoteTxtOnHost = kit::kOmoteUtf8 + ".txt";

class LintFindings : public testing::TestWithParam<LintCase> {};

TEST_P(LintFindings, ExactlyTheOneFinding)
{
    const LintCase& c = GetParam();
    Fixture fixture(c.settings, c.files);
    std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
    ASSERT_EQ(findings.size(), 1u) << Describe(findings);
    EXPECT_EQ(findings[0].line, c.line) << Describe(findings);
    EXPECT_EQ(findings[0].error, c.error) << Describe(findings);
    EXPECT_NE(findings[0].message.find(c.message), std::string::npos) << Describe(findings);
    EXPECT_EQ(findings[0].file, fixture.Settings());
    EXPECT_EQ(HasLintErrors(findings), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LintFindings,
    testing::Values(
        // Errors
        LintCase{"SectionLeftOpen", "REG_GLOBAL\tM\nREG_LOCAL\tG\n[reg]\n\"a\"=\"b\"\n", {}, 3, true, "never closed"},
        LintCase{"SectionOpenAtEofLine", "[delfiles]\nb.dat\nEOF\n-\n", {}, 1, true, "not closed before the \"EOF\" line on line 3"},
        LintCase{"LineTooLong", "TITLEBAR\tGame\n//" + std::string(510, 'x') + "\n", {}, 2, true, "512 bytes long"},
        LintCase{"NotCp932", "TITLEBAR\tGa\x81\x20me\n", {}, 1, true, "0x81 at column 12"},
        LintCase{"NotCp932SingleByte", "// \xA0\n", {}, 1, true, "0xA0"},
        // Key lines the updater never reads or reads differently
        LintCase{"KeyAfterLine400", Repeat("//\n", 400) + "TITLEBAR\tGame\n", {}, 401, false, "after line 400"},
        LintCase{"KeyAfterEofMarker", "[EOF]\nTITLEBAR\tGame\n", {}, 2, false, "after \"[EOF]\" on line 1"},
        LintCase{"KeyWithoutValue", "TITLEBAR\n", {}, 1, false, "has no value"},
        LintCase{"ValueTooFarAway", "TITLEBAR" + std::string(100, '\t') + "Game\n", {}, 1, false, "more than 99"},
        LintCase{"LeadingBlank", " TITLEBAR\tGame\n", {}, 1, false, "starts with a blank"},
        LintCase{"KeyTypo", "TITLEBER\tGame\n", {}, 1, false, "did you mean TITLEBAR?"},
        LintCase{"KeyInLowerCase", "instto\tGame\n", {}, 1, false, "did you mean INSTTO?"},
        LintCase{"KeyForOtherTools", "EXENAME\tgame.exe\n", {}, 1, false, "not read by the updater"},
        LintCase{"KeyTwice", "INSTTO\tFirst\nINSTTO\tSecond\n", {}, 2, false, "on line 1, wins"},
        LintCase{"IntegerNotNumber", "CHKREGVER\t12ab\n", {}, 1, false, "reads 12"},
        // Entries
        LintCase{"IniWithoutEquals", "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\nPath\n-\n", {}, 4, false, "no \"=\""},
        LintCase{"RegDword", "REG_GLOBAL\tM\nREG_LOCAL\tG\n[reg]\n\"V\"=dword:00000001\n-\n", {}, 4, false,
                 "not a string value"},
        LintCase{"RegOtherKeyHeader", "REG_GLOBAL\tM\nREG_LOCAL\tG\n[reg]\n[HKEY_CURRENT_USER\\Software\\X]\n-\n", {}, 4,
                 false, "Software\\M\\G"},
        LintCase{"PlaceholderTypo", "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\nPath=REP_INSTAL\\save\n-\n", {}, 4, false,
                 "REP_INSTAL is not a placeholder of [ini] and stays as it is; did you mean REP_INSTALL?"},
        LintCase{"PlaceholderLowerCase", "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\nPath=rep_install\n-\n", {}, 4, false,
                 "did you mean REP_INSTALL?"},
        LintCase{"IniKnowsOnlyTheLongDrive", "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\nDisc=REP_CDROM\n-\n", {}, 4, false,
                 "did you mean REP_CDROMDRIVE?"},
        LintCase{"RegKnowsOnlyTheShortDrive", "REG_GLOBAL\tM\nREG_LOCAL\tG\n[reg]\n\"D\"=\"REP_CDROMDRIVE\"\n-\n", {}, 4,
                 false, "[reg] knows only REP_CDROM"},
        LintCase{"PlaceholderTwice", "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\nP=REP_INSTALL;REP_INSTALL\n-\n", {}, 4,
                 false, "REP_INSTALL stands twice"},
        LintCase{"EntryTooLongOnceExpanded",
                 "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\nP=" + std::string(495, 'v') + "REP_INSTALL\n-\n", {}, 4, false,
                 "511 bytes"},
        LintCase{"SecondSectionReplacesFirst", "INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\na=1\n-\n[ini]\nb=2\n-\n", {}, 6,
                 false, "replaces the entries of the one on line 3"},
        LintCase{"SectionAfterEofLine", "EOF\n[ini]\na=1\n-\n", {}, 2, false, "never reads it"},
        LintCase{"AfterinstTrailingText", "[delfiles_afterinst]\ninstall.env  // setup file\n-\n", {}, 2, false,
                 "becomes part of the pattern"},
        LintCase{"AfterinstLeavesWithDotDot", "[delfiles_afterinst]\n..\\system.ini\n-\n", {}, 2, true,
                 "the updater ignores the removal"},
        LintCase{"AfterinstNamesADrive", "[delfiles_afterinst]\nC:\\Windows\\x.dll\n-\n", {}, 2, true,
                 "names a drive, starts with a backslash or climbs out"},
        LintCase{"AfterinstLeadingBackslash", "[delfiles_afterinst]\n\\x.dll\n-\n", {}, 2, true,
                 "the updater ignores the removal"},
        LintCase{"AfterinstEmptiesTheFolder", "[delfiles_afterinst]\n*.*\n-\n", {}, 2, true,
                 "deletes every file in the game's folder"},
        LintCase{"AfterinstStarAlone", "[delfiles_afterinst]\n*\n-\n", {}, 2, true, "--allow-wipe"},
        LintCase{"AfterinstNoFixedPart", "[delfiles_afterinst]\n?*.*\n-\n", {}, 2, true, "deletes every file"},
        // Encodings and bytes the updater cannot read as meant
        LintCase{"EmptySettingsFile", "", {}, 1, true, "the settings file is empty"},
        LintCase{"BlankSettingsFile", "\r\n\r\n", {}, 1, true, "the settings file is empty"},
        LintCase{"SavedAsUtf8", "TITLEBAR\t\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\n", {}, 1, true,
                 "install.env is UTF-8 text, not code page 932 (Shift-JIS)"},
        LintCase{"Utf8NamesTheConversion", "TITLEBAR\t\xE3\x83\x86\n", {}, 1, true,
                 "convert it with: mkupdate convert "},
        LintCase{"Utf8ByteOrderMark", "\xEF\xBB\xBFTITLEBAR\tGame\n", {}, 1, true, "byte-order mark"},
        LintCase{"ZeroByteCutsALine", std::string("TITLEBAR\tGame\0X\n", 16), {}, 1, true,
                 "it reads only \"TITLEBAR\tGame\""},
        LintCase{"ReadmeSavedAsUtf8", kReadme, {{"readme.txt", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\n"}}, 1, true,
                 "readme readme.txt is UTF-8 text"},
        LintCase{"ReadmeNotCp932", kReadme, {{"readme.txt", "caf\xE9 \xFF\n"}}, 1, true,
                 "not code page 932 (Shift-JIS) text"},
        // Settings that only make sense together
        LintCase{"IniFileWithoutSection", "INI_FILE\tg.ini\n", {}, 1, false, "without INI_SECTION"},
        LintCase{"IniFileInARelativeFolder", "INI_FILE\tsave\\g.ini\nINI_SECTION\tS\n", {}, 1, false,
                 "relative to where the updater runs"},
        LintCase{"IniEntriesWithoutFile", "[ini]\na=1\n-\n", {}, 1, false, "INI_FILE is not set"},
        LintCase{"RegEntriesWithoutKey", "[reg]\n\"a\"=\"b\"\n-\n", {}, 1, false, "REG_GLOBAL is not set"},
        LintCase{"ChkRegWithoutHigh", "REG_GLOBAL\tM\nREG_LOCAL\tG\nCHKREG\tVersion\n[reg]\n\"Version\"=\"1\"\n-\n", {},
                 3, false, "without CHKREGVERHIGH"},
        LintCase{"VersionRangeEmpty", "CHKREG\tV\nCHKREGVER\t5\nCHKREGVERHIGH\t4\n", {}, 2, true,
                 "CHKREGVER 5 is above CHKREGVERHIGH 4: every installed version is refused"},
        LintCase{"VersionRangeEmptyFromTheDefault", "CHKREG\tV\nCHKREGVERHIGH\t-1\n", {}, 2, true,
                 "CHKREGVER 0 is above CHKREGVERHIGH -1"},
        // What the player sees, cut or never found
        LintCase{"TitleCutAtABlank", "TITLEBAR\tMy Game 2\n", {}, 1, false,
                 "the updater shows \"My\" and drops \"Game 2\"; write each space as \"|\""},
        LintCase{"ReadmeButtonCutAtABlank", "INSTREADME\tRead me\n", {{"readme.txt", "r"}}, 1, false, "drops \"me\""},
        LintCase{"FullWidthSpaceAsSeparator", "TITLEBAR\x81\x40Game\n", {}, 1, false,
                 "a full-width space (U+3000) follows \"TITLEBAR\": the updater takes only a tab or a half-width space"},
        LintCase{"FullWidthSpaceThenAValue", "INSTTO\x81\x40Game Folder\n", {}, 1, false,
                 "full-width space (U+3000) follows \"INSTTO\""},
        LintCase{"ReadmeMissing", kReadme, {}, 1, false, "not a file at the top"},
        LintCase{"ReadmeInSubfolder", kReadme + "INSTREADMEFL\tdoc\\readme.txt\n", {{"doc/readme.txt", "r"}}, 2, false,
                 "not a file at the top"},
        LintCase{"ReadmeNotExtracted", kReadme + "INSTREADMEFL\tmanual.pdf\n", {{"manual.pdf", "%PDF"}}, 2, false,
                 "not extracted at start-up"},
        LintCase{"CtrlZCutsTheFile", "TITLEBAR\tGame\n\x1A" "INSTTO\tX\n", {}, 1, false, "0x1A"}),
    [](const testing::TestParamInfo<LintCase>& info) { return std::string(info.param.name); });

// Where lint follows the readers' own reports rather than rules of its own: the order of the
// line limit and "[EOF]", pieces of long lines counting as lines, a zero byte that cuts a line's
// text but not the line, "|" read as a blank before a number.
TEST(Lint, FindingsFollowWhatTheReadersDid)
{
    struct Expected {
        int line;
        bool error;
        std::string message;
    };
    struct Case {
        const char* name;
        std::string settings;
        std::vector<Expected> findings;
    };
    const Case cases[] = {
        {"EofMarkerOnLine400", Repeat("//\n", 399) + "[EOF]\nTITLEBAR\tGame\n",
         {{401, false, "after \"[EOF]\" on line 400"}}},
        {"EofMarkerOnLine401", Repeat("//\n", 400) + "[EOF]\nTITLEBAR\tGame\n", {{402, false, "after line 400"}}},
        {"PiecesOfALongLineCount", Repeat("//\n", 398) + "//" + std::string(510, 'x') + "\nTITLEBAR\tGame\n",
         {{399, true, "512 bytes long"}, {400, false, "after line 400"}}},
        {"ZeroByteThenAnotherLine", std::string("TITLEBAR\tGame\0X\nINSTT\tY\n", 24),
         {{1, true, "it reads only"}, {2, false, "did you mean INSTTO?"}}},
        {"BarBeforeANumber", "CHKREGVER\t|5\n", {{1, false, "reads 5"}}},
        // The settings reader takes key lines inside sections too: the readme is the one it reads.
        {"ReadmeKeyReadInsideASection", "TITLEBAR\tG\nINSTREADME\tRead\n[delfiles_afterinst]\nINSTREADMEFL\tother.txt\n-\n",
         {{2, false, "readme \"other.txt\" is not a file"}, {4, false, "becomes part of the pattern"}}},
    };
    for (const Case& c : cases) {
        Fixture fixture(c.settings);
        std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
        ASSERT_EQ(findings.size(), c.findings.size()) << c.name << "\n" << Describe(findings);
        for (size_t i = 0; i < findings.size(); i++) {
            EXPECT_EQ(findings[i].line, c.findings[i].line) << c.name << "\n" << Describe(findings);
            EXPECT_EQ(findings[i].error, c.findings[i].error) << c.name << "\n" << Describe(findings);
            EXPECT_NE(findings[i].message.find(c.findings[i].message), std::string::npos)
                << c.name << "\n" << Describe(findings);
        }
    }
}

TEST(Lint, CleanFilesGiveNoFindings)
{
    struct Clean {
        std::string settings;
        std::map<std::string, std::string> files;
    };
    const Clean cases[] = {
        {"TITLEBAR\tGame\n", {}},
        {"TITLEBAR\tGame\r\n[EOF]\r\n", {}},
        {kReadme, {{"README.TXT", "r"}}},
        // 表 ends in the byte 0x5C, yet the readme lies at the top of the update.
        {kReadme + "INSTREADMEFL\t" + kit::kOmote + ".txt\n", {{kOmoteTxtOnHost, "r"}}},
        {"[delfiles_afterinst]\ninstall.env\ninsttscr.rct\nDATA\\*.DAT\n-\n", {{"data/a.dat", "x"}}},
        // Removing an old version's file that the update does not carry is the usual case.
        {"[delfiles_afterinst]\nsave\\*.tmp\nold.dll\n-\n", {{"save/a.sav", "x"}}},
        // Japanese code page 932 text reads as what it is.
        {"TITLEBAR\t\x83\x65\x83\x58\x83\x67\n", {}},
        {"REG_GLOBAL\tM\nREG_LOCAL\tG\n[reg]\n[HKEY_CURRENT_USER\\Software\\M\\G]\n\"D\"=\"REP_INSTALL\\\\x\"\n-\n", {}},
        {"[delfiles]\nanything at all\n-\tcomment\n[delfiles_user]\nsave\\*.sav\n- end\n", {}},
        // A comment after the title, a full-width space inside it, an upper-case picture name.
        {"TITLEBAR\tMy|Game  // the window's title\n", {}},
        {"TITLEBAR\tMy\x81\x40Game\n", {}},
        {"TITLEBAR\tGame\n", {{"INSTTSCR.RCT", toolkit::TitlePictureBytes()}}},
        // With its title image, other insttscr.* files are left out.
        {"TITLEBAR\tGame\n", {{"insttscr.rct", toolkit::TitlePictureBytes()}, {"insttscr.psd", "8BPS"}}},
    };
    for (const Clean& c : cases) {
        Fixture fixture(c.settings, c.files);
        std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
        EXPECT_TRUE(findings.empty()) << c.settings << "\n" << Describe(findings);
    }
}

TEST(Lint, OptionsWidenOrHardenTheVerdict)
{
    Fixture wipe("[delfiles_afterinst]\n*.*\n-\n");
    EXPECT_TRUE(HasLintErrors(LintSettingsFile(wipe.Settings())));
    LintOptions allowWipe;
    allowWipe.allowWipe = true;
    EXPECT_TRUE(LintSettingsFile(wipe.Settings(), allowWipe).empty());

    Fixture warning("TITLEBER\tGame\n");
    std::vector<LintFinding> plain = LintSettingsFile(warning.Settings());
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_FALSE(HasLintErrors(plain));
    LintOptions strict;
    strict.strict = true;
    std::vector<LintFinding> hard = LintSettingsFile(warning.Settings(), strict);
    ASSERT_EQ(hard.size(), 1u);
    EXPECT_TRUE(hard[0].error);
    EXPECT_NE(FormatLintFinding(hard[0]).find(": error: "), std::string::npos);
}

// The two commands that read settings take the same options and turn them into exit statuses.
TEST(Lint, StrictAndAllowWipeDecideTheExitStatusOfLintAndBuild)
{
    Fixture warning("TITLEBER\tGame\n", {{"stub.exe", "MZ"}});
    Fixture wipe("TITLEBAR\tGame\n[delfiles_afterinst]\n*.*\n-\n");
    EXPECT_EQ(RunLint({warning.Settings()}), kExitOk);
    EXPECT_EQ(RunLint({"--strict", warning.Settings()}), kExitInput);
    EXPECT_EQ(RunLint({wipe.Settings()}), kExitInput);
    EXPECT_EQ(RunLint({"--allow-wipe", wipe.Settings()}), kExitOk);

    fs::path folder = fs::path(warning.Settings()).parent_path();
    kit::TempFolder elsewhere("lint_build");
    fs::path output = elsewhere.Dir() / "update.exe";
    std::vector<std::string> build = {folder.string(), "-o", output.string(), "--stub", (folder / "stub.exe").string()};
    std::vector<std::string> strictBuild = build;
    strictBuild.push_back("--strict");
    EXPECT_EQ(RunBuild(strictBuild), kExitInput);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(RunBuild(build), kExitOk);
}

TEST(Lint, WarnsOfATitlePictureLargerThanThePictureArea)
{
    struct Case {
        uint32_t width, height;
        bool warned;
    } cases[] = {{256, 256, false}, {268, 268, false}, {300, 200, true}, {200, 269, true}};
    for (const Case& c : cases) {
        RgbImage image;
        image.width = c.width;
        image.height = c.height;
        image.bgr.assign((size_t)c.width * c.height * 3, 0x40);
        kit::TempFolder picture("lint_picture");
        std::string error;
        ASSERT_TRUE(WriteImageFile(picture / "title.bmp", image, error)) << error;
        std::string bytes = kit::ReadFileBytes(picture / "title.bmp");
        Fixture fixture("TITLEBAR\tGame\n", {{"insttscr.bmp", bytes}});
        std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
        std::string size = std::to_string(c.width) + " x " + std::to_string(c.height);
        if (c.warned) {
            ASSERT_EQ(findings.size(), 1u) << size << "\n" << Describe(findings);
            EXPECT_FALSE(findings[0].error);
            // Filed under the picture, not under a line of install.env.
            EXPECT_EQ(findings[0].file, fixture.Beside("insttscr.bmp").u8string());
            EXPECT_EQ(FormatLintFinding(findings[0]).rfind(fixture.Beside("insttscr.bmp").u8string() + ": warning: ", 0),
                      0u);
            EXPECT_NE(findings[0].message.find(size + " pixels; the main window's picture area is 268 x 268"),
                      std::string::npos)
                << findings[0].message;
        } else {
            EXPECT_TRUE(findings.empty()) << size << "\n" << Describe(findings);
        }
    }
}

// A PNG of width x height grey pixels, the first `seeThrough` of them with alpha 0: stored
// uncompressed in zlib's own stored blocks, so no encoder is needed.
std::string TransparentPng(uint32_t width, uint32_t height, uint32_t seeThrough)
{
    auto be32 = [](uint32_t v) {
        return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        std::string body = type + data;
        uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char c : body) {
            crc ^= c;
            for (int k = 0; k < 8; k++)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return be32((uint32_t)data.size()) + body + be32(crc ^ 0xFFFFFFFFu);
    };
    std::string raw;
    for (uint32_t y = 0; y < height; y++) {
        raw += '\0';
        for (uint32_t x = 0; x < width; x++) {
            raw += std::string(3, '\x80');
            raw += y * width + x < seeThrough ? '\0' : '\xFF';
        }
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    std::string zlib = "\x78\x01";
    zlib += '\x01';  // one final stored block
    zlib += (char)(raw.size() & 0xFF);
    zlib += (char)(raw.size() >> 8);
    zlib += (char)(~raw.size() & 0xFF);
    zlib += (char)((~raw.size() >> 8) & 0xFF);
    zlib += raw + be32((b << 16) | a);
    std::string header = be32(width) + be32(height) + std::string{8, 6, 0, 0, 0};
    return std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", header) + chunk("IDAT", zlib) + chunk("IEND", "");
}

// Which file is the title picture, and what becomes of an update without one the updater can show.
TEST(Lint, TitlePictureIsThereAndReadable)
{
    RgbImage image;
    image.width = image.height = 8;
    image.bgr.assign(8 * 8 * 3, 0x20);
    kit::TempFolder pictures("lint_pictures");
    std::string error, starter;
    ASSERT_TRUE(WriteImageFile(pictures / "title.png", image, error)) << error;
    ASSERT_TRUE(StarterPictureFile(starter, error)) << error;
    const std::string png = kit::ReadFileBytes(pictures / "title.png");
    // The same picture with four pixels of its first row see-through, written as RGBA by hand.
    const std::string transparent = TransparentPng(8, 8, 4);
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;
        std::string file;  // the finding's file, beside install.env; empty: no finding
        bool error;
        std::string message;
    };
    const Case cases[] = {
        // Told at install.env, beside which it belongs: never at a file that does not exist.
        {"none at all", {}, "install.env", true, "no title picture: without insttscr.rct the updater shows only"},
        {"a type mkupdate cannot convert", {{"insttscr.jpg", "\xFF\xD8\xFF"}}, "insttscr.jpg", true,
         "insttscr.jpg: mkupdate turns only PNG and BMP pictures into the title picture; save it as insttscr.png"},
        {"a PNG in upper case", {{"INSTTSCR.PNG", png}}, "", false, ""},
        {"a PNG that is none", {{"insttscr.png", "GIF89a"}}, "insttscr.png", true, "the title picture cannot be read"},
        {"an RCT that is none", {{"insttscr.rct", "RCT"}}, "insttscr.rct", true, "make it again with mkupdate rct"},
        {"a PNG with transparent pixels", {{"insttscr.png", transparent}}, "insttscr.png", false,
         "the picture has 4 of its 64 pixels transparent or partly so; the RCT title picture has no transparency, so "
         "they are laid over black"},
        {"the placeholder of mkupdate init", {{"insttscr.rct", starter}}, "insttscr.rct", false,
         "still the placeholder picture of mkupdate init"},
    };
    for (const Case& c : cases) {
        Fixture fixture("TITLEBAR\tGame\n", c.files, false);
        std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
        if (c.file.empty()) {
            EXPECT_TRUE(findings.empty()) << c.what << "\n" << Describe(findings);
            continue;
        }
        ASSERT_EQ(findings.size(), 1u) << c.what << "\n" << Describe(findings);
        EXPECT_EQ(findings[0].file, fixture.Beside(c.file).u8string()) << c.what;
        EXPECT_EQ(findings[0].error, c.error) << c.what;
        EXPECT_NE(findings[0].message.find(c.message), std::string::npos) << c.what << "\n" << Describe(findings);
    }
}

// The starter's readme shipped as it is tells players nothing of the update.
TEST(Lint, WarnsOfTheStartersPlaceholderReadme)
{
    Fixture fixture(kReadme, {{"readme.txt", StarterReadme(GameFacts{})}});
    std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
    ASSERT_EQ(findings.size(), 1u) << Describe(findings);
    EXPECT_EQ(findings[0].file, fixture.Beside("readme.txt").u8string());
    EXPECT_EQ(findings[0].line, 6);
    EXPECT_FALSE(findings[0].error);
    EXPECT_NE(findings[0].message.find("placeholder line of mkupdate init"), std::string::npos) << Describe(findings);
}

// The conversion lint suggests names the file with its folder, as it was given.
TEST(Lint, TheConversionHintNamesTheFolder)
{
    Fixture fixture("TITLEBAR\t\xE3\x83\x86\n", {{"readme.txt", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\n"}});
    std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
    ASSERT_EQ(findings.size(), 1u) << Describe(findings);
    EXPECT_NE(findings[0].message.find("convert it with: mkupdate convert " + PathAsArgument(fixture.Beside("install.env")) +
                                       " ("),
              std::string::npos)
        << Describe(findings);
    Fixture readme("TITLEBAR\tGame\n" + kReadme, {{"readme.txt", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\n"}});
    findings = LintSettingsFile(readme.Settings());
    ASSERT_EQ(findings.size(), 1u) << Describe(findings);
    EXPECT_NE(findings[0].message.find("mkupdate convert " + PathAsArgument(readme.Beside("readme.txt")) + " ("),
              std::string::npos)
        << Describe(findings);
}

// A version in TITLEBAR is also the product's name in every notice.
TEST(Lint, WarnsOfAVersionInTheTitle)
{
    struct Case {
        std::string title;
        std::string version;  // empty: no warning
    } cases[] = {
        {"Game|Ver1.01", "Ver1.01"},
        {"Game|ver.2", "ver.2"},
        {"Game|Version|3.0", "Version 3.0"},
        {"Game|v1.2", "v1.2"},
        {"\x83\x66\x83\x82\x83\x51\x81\x5B\x83\x80|1.10", "1.10"},  // デモゲーム 1.10
        {"Game\x83\x6F\x81\x5B\x83\x57\x83\x87\x83\x93\x82\x51", "\x83\x6F\x81\x5B\x83\x57\x83\x87\x83\x93"},  // バージョン
        {"Game", ""},
        {"Game|2", ""},
        {"Fever|Dream", ""},
        {"Over|9", ""},
        {"Revolver", ""},
        // ボ (0x83 0x7B) and ヴ (0x83 0x94): second bytes are no letters or digits of a version.
        {"\x83\x7B\x83\x94\x82\x50", ""},
    };
    for (const Case& c : cases) {
        Fixture fixture("TITLEBAR\t" + c.title + "\n");
        std::vector<LintFinding> findings = LintSettingsFile(fixture.Settings());
        if (c.version.empty()) {
            EXPECT_TRUE(findings.empty()) << c.title << "\n" << Describe(findings);
            continue;
        }
        ASSERT_EQ(findings.size(), 1u) << c.title << "\n" << Describe(findings);
        EXPECT_FALSE(findings[0].error);
        EXPECT_EQ(findings[0].line, 1);
        EXPECT_NE(findings[0].message.find("holds a version (\"" + Cp932ToUtf8(c.version) + "\")"), std::string::npos)
            << Describe(findings);
        EXPECT_NE(findings[0].message.find("in every notice"), std::string::npos) << Describe(findings);
    }
}

TEST(Lint, DemoUpdateIsClean)
{
    std::vector<LintFinding> findings = LintSettingsFile(std::string(TEST_SOURCE_DIR) + "/../examples/demo/install.env");
    EXPECT_TRUE(findings.empty()) << Describe(findings);
}

TEST(Lint, Cp932FixtureWithManyMistakes)
{
    // Shift-JIS with CR LF, as game makers write it.
    std::vector<LintFinding> findings = LintSettingsFile(std::string(TEST_SOURCE_DIR) + "/tools/lint_fixtures/mistakes/install.env");
    std::vector<std::pair<int, std::string>> seen;
    for (const LintFinding& finding : findings)
        seen.push_back({finding.line, finding.message.substr(0, 24)});
    // The fixture has no title picture either: that finding, about the picture, comes first.
    // CHKREG without a [reg] line writing its value is an error of the version gate.
    std::vector<std::pair<int, bool>> expected = {{0, true}, {3, false},  {6, false}, {6, true},  {7, false},
                                                  {9, false}, {10, false}, {12, true}, {12, false}};
    ASSERT_EQ(findings.size(), expected.size()) << Describe(findings);
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(findings[i].line, expected[i].first) << Describe(findings);
        EXPECT_EQ(findings[i].error, expected[i].second) << Describe(findings);
    }
    EXPECT_NE(findings[0].message.find("no title picture"), std::string::npos);
    EXPECT_NE(findings[1].message.find("did you mean TITLEBAR?"), std::string::npos);
    EXPECT_NE(findings[2].message.find("CHKREGVERHIGH"), std::string::npos);
    EXPECT_NE(findings[3].message.find("no [reg] line writes it"), std::string::npos);
    EXPECT_NE(findings[5].message.find("REP_INSTAL "), std::string::npos);
}

TEST(Lint, ExplainShowsWhatTheUpdaterWillDo)
{
    Fixture fixture(
        "TITLEBAR\tMy|Game\nREG_GLOBAL\tMaker\nREG_LOCAL\tGame\nINI_FILE\tg.ini\nINI_SECTION\tPaths\n"
        "CHKREG\tVersion\nCHKREGVER\t100\nCHKREGVERHIGH\t109\n"
        "[ini]\nPath=REP_INSTALL\\save\n-\n[reg]\n\"Dir\"=\"REP_INSTALL\\\\data\"\n-\n"
        "[delfiles_afterinst]\ninstall.env\n-\n");
    std::string text = ExplainSettingsFile(fixture.Settings());
    const char* expected[] = {
        "title: My Game \xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\n",
        "Software\\Maker\\Game",
        "from 100 to 109",
        "INI writes to g.ini [Paths]:\n  Path=C:\\Program Files\\Game\\save\n",
        "  \"Dir\" = \"C:\\Program Files\\Game\\data\"\n",
        "after the update:\n  install.env\n",
    };
    for (const char* part : expected)
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n---\n" << text;
}

TEST(Lint, ExplainListsWhatTheSectionReaderKept)
{
    struct Case {
        std::string settings;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        // A second [ini] replaces the first; lines outside sections and after "EOF" are no entries.
        {"INI_FILE\tg.ini\nINI_SECTION\tS\n[ini]\na=1\n-\nb=2\n[ini]\nc=3\n-\nEOF\n[ini]\nd=4\n-\n",
         {"INI writes to g.ini [S]:\n  c=3\n"},
         {"a=1", "b=2", "d=4"}},
        {"[delfiles_afterinst]\ninstall.env\n", {"section [delfiles_afterinst] is never closed"}, {"removed from"}},
        {"[reg]\n\"a\"=\"b\"\n-\n", {"registry writes: none (REG_GLOBAL is not set)"}, {"\"a\" = "}},
    };
    for (const Case& c : cases) {
        Fixture fixture(c.settings);
        std::string text = ExplainSettingsFile(fixture.Settings());
        for (const std::string& part : c.present)
            EXPECT_NE(text.find(part), std::string::npos) << part << "\n---\n" << text;
        for (const std::string& part : c.absent)
            EXPECT_EQ(text.find(part), std::string::npos) << part << "\n---\n" << text;
    }
}

int RunMkupdate(const std::string& arguments)
{
    return kit::RunProgram(MkupdateProgram(), arguments).code;
}

TEST(Lint, CommandExitCodes)
{
    Fixture clean("TITLEBAR\tGame\n");
    Fixture warned("TITLEBAR\n");
    Fixture broken("[ini]\na=b\n");
    EXPECT_EQ(RunMkupdate("lint \"" + clean.Settings() + "\""), 0);
    EXPECT_EQ(RunMkupdate("lint \"" + warned.Settings() + "\""), 0);
    EXPECT_EQ(RunMkupdate("lint \"" + broken.Settings() + "\""), 1);
    EXPECT_EQ(RunMkupdate("lint --explain \"" + clean.Settings() + "\""), 0);
    EXPECT_EQ(RunMkupdate("lint no/such/install.env"), 1);
    // A folder without install.env is no update folder yet: say how to start one.
    kit::TempFolder empty("lint_empty");
    kit::ProgramRun run = kit::RunProgram(MkupdateProgram(), "lint " + kit::Quoted(empty.Dir()));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.output.find("install.env: error: no such file; every update folder holds install.env: start one "
                              "with mkupdate init "),
              std::string::npos)
        << run.output;
    EXPECT_EQ(RunMkupdate("lint --bogus"), 2);
    EXPECT_EQ(RunMkupdate("lint a b"), 2);
    EXPECT_EQ(RunMkupdate("lint --help"), 0);
}

}  // namespace
