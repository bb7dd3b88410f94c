// The section rules of install.env and the [ini] / [reg] entry parsers with their placeholders.
#include "settings/action_lists.h"
#include "settings/action_reader.h"
#include "text/cp932_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "sample_text.h"

namespace {

using Lists = std::map<int, std::vector<std::string>>;

int LoadFromText(const std::string& text)
{
    FreeActionLists();
    TextModeReader reader;
    InitTextModeReader(&reader, text.data(), text.size());
    return ReadActionSections(ReadTextModeLine, &reader, nullptr, nullptr);
}

Lists CurrentLists()
{
    Lists lists;
    for (int section = SECTION_DELFILES; section <= SECTION_DELFILES_AFTERINST; section++) {
        for (const ActionEntry* entry = GetActionList(section); entry != nullptr; entry = entry->next)
            lists[section].push_back(entry->text);
    }
    return lists;
}

struct SectionCase {
    const char* name;
    std::string file;
    int openSection;
    Lists lists;
};

class SectionRules : public testing::TestWithParam<SectionCase> {};

TEST_P(SectionRules, FillTheLists)
{
    EXPECT_EQ(LoadFromText(GetParam().file), GetParam().openSection);
    EXPECT_EQ(CurrentLists(), GetParam().lists);
    FreeActionLists();
}

const std::string kWholeFile =
    "// header comment\n"
    "TITLEBAR\tGame\n"
    "[delfiles]\nold.dat\n- end\n"
    "[delfiles_user]\nsave\\*.sav\n-\n"
    "[ini]\nPath=REP_INSTALL\\save\n-\n"
    "[reg]\n\"Dir\"=\"REP_INSTALL\"\n-\n"
    "[delfiles_afterinst]\ninstall.env\ninsttscr.rct\n-\n"
    "[EOF]\n";

INSTANTIATE_TEST_SUITE_P(
    Rules, SectionRules,
    testing::Values(
        SectionCase{"WholeFile", kWholeFile, SECTION_NONE,
                    {{SECTION_DELFILES, {"old.dat"}},
                     {SECTION_DELFILES_USER, {"save\\*.sav"}},
                     {SECTION_INI, {"Path=REP_INSTALL\\save"}},
                     {SECTION_REG, {"\"Dir\"=\"REP_INSTALL\""}},
                     {SECTION_DELFILES_AFTERINST, {"install.env", "insttscr.rct"}}}},
        SectionCase{"HeaderAfterHeader", "[reg]\n\"a\"=\"b\"\n[ini]\nk=v\n-\n", SECTION_NONE,
                    {{SECTION_REG, {"\"a\"=\"b\""}}, {SECTION_INI, {"k=v"}}}},
        SectionCase{"HeaderAfterHeaderLeftOpen", "[reg]\n\"a\"=\"b\"\n[ini]\nk=v\n", SECTION_INI,
                    {{SECTION_REG, {"\"a\"=\"b\""}}, {SECTION_INI, {"k=v"}}}},
        SectionCase{"MissingCloseAtEnd", "[reg]\n\"a\"=\"b\"\n", SECTION_REG, {{SECTION_REG, {"\"a\"=\"b\""}}}},
        SectionCase{"EofLineWhileOpen", "[delfiles_afterinst]\nx\nEOF\n-\n", SECTION_DELFILES_AFTERINST,
                    {{SECTION_DELFILES_AFTERINST, {"x"}}}},
        SectionCase{"EofLineStopsReading", "EOF here\n[ini]\nk=v\n", SECTION_NONE, {}},
        SectionCase{"BracketEofInsideIsAnEntry", "[ini]\n[EOF]\n-\n[EOF]\n", SECTION_NONE, {{SECTION_INI, {"[EOF]"}}}},
        SectionCase{"SecondSectionReplacesFirst", "[ini]\na=1\nb=2\n-\n[ini]\nc=3\n-\n", SECTION_NONE,
                    {{SECTION_INI, {"c=3"}}}},
        SectionCase{"DashWithCommentCloses", "[ini]\na=1\n-- closes [ini]\nb=2\n", SECTION_NONE, {{SECTION_INI, {"a=1"}}}},
        SectionCase{"IndentedEntryKeepsBlanks", "[ini]\n  a=1 \t\r\n-\n", SECTION_NONE, {{SECTION_INI, {"  a=1"}}}},
        SectionCase{"CommentsSkipped", "[ini]\n// c\n; c\n\n \t\na=1\n-\n", SECTION_NONE, {{SECTION_INI, {"a=1"}}}},
        SectionCase{"IndentedCommentIsAnEntry", "[ini]\n // c\n-\n", SECTION_NONE, {{SECTION_INI, {" // c"}}}},
        SectionCase{"TextBehindHeaderIgnored", "[ini] INI writes\na=1\n-\n", SECTION_NONE, {{SECTION_INI, {"a=1"}}}},
        SectionCase{"UpperCaseHeaderIsNoHeader", "[INI]\na=1\n-\n", SECTION_NONE, {}},
        SectionCase{"LinesOutsideSectionsIgnored", "a=1\n-\nb=2\n", SECTION_NONE, {}},
        SectionCase{"CtrlZEndsTheFile", "[ini]\na=1\n-\n\x1A[reg]\n", SECTION_NONE, {{SECTION_INI, {"a=1"}}}},
        SectionCase{"CtrlZLeavesSectionOpen", "[ini]\na=1\n\x1A-\n", SECTION_INI, {{SECTION_INI, {"a=1"}}}},
        SectionCase{"LongLineInPieces", "[ini]\n" + std::string(511, 'k') + "=v\n-\n", SECTION_NONE,
                    {{SECTION_INI, {std::string(511, 'k'), "=v"}}}}),
    [](const testing::TestParamInfo<SectionCase>& info) { return std::string(info.param.name); });

// What the reader tells its observer: one report per line it reads, with the section it names.
std::vector<std::string> ObservedSectionLines(const std::string& text, int* open)
{
    std::vector<std::string> reports;
    SectionLineObserver observe = [](void* context, int kind, int section, const char* line) {
        static const char* const kNames[] = {"skip", "end", "close", "header", "entry"};
        std::string name = GetSectionName(section) != nullptr ? GetSectionName(section) : "none";
        static_cast<std::vector<std::string>*>(context)->push_back(std::string(kNames[kind]) + " " + name + " " + line);
    };
    FreeActionLists();
    TextModeReader reader;
    InitTextModeReader(&reader, text.data(), text.size());
    *open = ReadActionSections(ReadTextModeLine, &reader, observe, &reports);
    return reports;
}

TEST(SectionRules, TheObserverHearsWhatBecameOfEachLine)
{
    struct Case {
        std::string file;
        int open;
        std::vector<std::string> reports;
    };
    const Case cases[] = {
        {"outside\n[ini] writes\n// c\na=1 \t\n- end\n\n[reg]\n\"a\"=\"b\"\n",
         SECTION_REG,
         {"entry none outside", "header ini [ini] writes", "skip none // c", "entry ini a=1", "close ini - end",
          "skip none ", "header reg [reg]", "entry reg \"a\"=\"b\""}},
        {"[ini]\na=1\nEOF\n-\n", SECTION_INI, {"header ini [ini]", "entry ini a=1", "end ini EOF"}},
        {"-\nEOF\n[ini]\n", SECTION_NONE, {"close none -", "end none EOF"}},
    };
    for (const Case& c : cases) {
        int open = -1;
        EXPECT_EQ(ObservedSectionLines(c.file, &open), c.reports) << c.file;
        EXPECT_EQ(open, c.open) << c.file;
    }
    FreeActionLists();
}

TEST(SectionNames, HeadersAndNoticeNames)
{
    EXPECT_STREQ(GetSectionName(SECTION_REG), "reg");
    EXPECT_STREQ(GetSectionName(SECTION_DELFILES_AFTERINST), "delfiles_afterinst");
    EXPECT_STREQ(GetSectionHeader(SECTION_DELFILES_USER), "[delfiles_user]");
    EXPECT_EQ(GetSectionName(SECTION_NONE), nullptr);
    EXPECT_EQ(GetSectionName(9), nullptr);
    EXPECT_EQ(GetActionList(-1), nullptr);
    EXPECT_EQ(GetActionList(6), nullptr);
}

using kit::kOmote;
using kit::kSo;

const char* FakeCdrom()
{
    return "Q:\\";
}

struct EntryCase {
    const char* name;
    std::string entry;
    int result;
    std::string first;   // key or value name
    std::string second;  // value or data
};

class EntryParsers : public testing::Test {
protected:
    void SetUp() override { SetInstallPath("C:\\Games\\Demo"); }
    void TearDown() override { SetDriveRootFinder(nullptr); }
};

void Check(int (*parse)(const char*, char*, char*), const EntryCase& c)
{
    char first[TEXT_BUFFER_SIZE] = "untouched";
    char second[TEXT_BUFFER_SIZE] = "untouched";
    EXPECT_EQ(parse(c.entry.c_str(), first, second), c.result) << c.name;
    if (c.result == 0) {
        EXPECT_EQ(std::string(first), c.first) << c.name;
        EXPECT_EQ(std::string(second), c.second) << c.name;
    } else {
        EXPECT_STREQ(first, "untouched") << c.name;
        EXPECT_STREQ(second, "untouched") << c.name;
    }
}

TEST_F(EntryParsers, Ini)
{
    const EntryCase cases[] = {
        {"InstallPath", "Path=REP_INSTALL\\save", 0, "Path", "C:\\Games\\Demo\\save"},
        {"NoCdrom", "Drive=REP_CDROMDRIVE", 0, "Drive", "E:\\"},
        {"BlanksKept", "a = b", 0, "a ", " b"},
        {"FirstEqualsSplits", "x=a=b", 0, "x", "a=b"},
        {"EmptyValue", "x=", 0, "x", ""},
        {"EmptyKey", "=v", 0, "", "v"},
        {"OnlyFirstReplaced", "k=REP_INSTALL;REP_INSTALL", 0, "k", "C:\\Games\\Demo;REP_INSTALL"},
        {"BothPlaceholders", "k=REP_CDROMDRIVE|REP_INSTALL", 0, "k", "E:\\|C:\\Games\\Demo"},
        {"PlaceholderInKey", "REP_INSTALL=1", 0, "C:\\Games\\Demo", "1"},
        {"BackslashesStay", "k=a\\\\b", 0, "k", "a\\\\b"},
        {"NoEquals", "just text", -1, "", ""},
        {"DoubleByteKept", "k=" + kOmote + "REP_INSTALL", 0, "k", kOmote + "C:\\Games\\Demo"},
    };
    for (const EntryCase& c : cases)
        Check(ParseIniEntry, c);
}

TEST_F(EntryParsers, Reg)
{
    const EntryCase cases[] = {
        {"DoubledBackslashes", "\"Dir\"=\"C:\\\\Games\\\\Demo\"", 0, "Dir", "C:\\Games\\Demo"},
        {"CdromShort", "\"Src\"=\"REP_CDROMdata\"", 0, "Src", "E:\\data"},
        {"CdromLongNotKnown", "\"Src\"=\"REP_CDROMDRIVE\"", 0, "Src", "E:\\DRIVE"},
        {"InstallPathStaysSingle", "\"Dir\"=\"REP_INSTALL\\\\save\"", 0, "Dir", "C:\\Games\\Demo\\save"},
        {"OnlyFirstReplaced", "\"D\"=\"REP_INSTALL REP_INSTALL\"", 0, "D", "C:\\Games\\Demo REP_INSTALL"},
        {"EscapedQuotes", "\"Say\"=\"\\\"hi\\\"\"", 0, "Say", "\"hi\""},
        {"EmptyData", "\"N\"=\"\"", 0, "N", ""},
        {"SoInData", "\"N\"=\"" + kSo + "\"", 0, "N", kSo},
        {"OmoteThenEscape", "\"N\"=\"" + kOmote + "\\\\x\"", 0, "N", kOmote + "\\x"},
        {"OmoteInName", "\"" + kOmote + "\"=\"v\"", 0, kOmote, "v"},
        {"DwordSkipped", "\"Ver\"=dword:00000001", -1, "", ""},
        {"KeyHeaderSkipped", "[HKEY_CURRENT_USER\\Software\\Maker\\Game]", -1, "", ""},
        {"DefaultValueSkipped", "@=\"x\"", -1, "", ""},
        {"ExpandNotString", "\"P\"=hex(2):43,00", -1, "", ""},
        {"SeparatorOnlyAtStart", "\"=\"x", -1, "", ""},
    };
    for (const EntryCase& c : cases)
        Check(ParseRegEntry, c);
}

TEST_F(EntryParsers, DriveRootComesFromTheFinder)
{
    SetDriveRootFinder(FakeCdrom);
    Check(ParseIniEntry, {"Ini", "Drive=REP_CDROMDRIVE", 0, "Drive", "Q:\\"});
    Check(ParseRegEntry, {"Reg", "\"Src\"=\"REP_CDROMdata\"", 0, "Src", "Q:\\data"});
}

TEST_F(EntryParsers, TooLongAfterExpansionIsSkipped)
{
    // 511 bytes fit the work buffer; one more would have been cut short.
    SetInstallPath("C:\\Games\\Demo");  // 13 bytes replace 11
    std::string fits = "k=" + std::string(511 - 2 - 13, 'v') + "REP_INSTALL";
    std::string tooLong = "k=" + std::string(511 - 2 - 13 + 1, 'v') + "REP_INSTALL";
    char key[TEXT_BUFFER_SIZE], value[TEXT_BUFFER_SIZE];
    ASSERT_EQ(ParseIniEntry(fits.c_str(), key, value), 0);
    EXPECT_EQ(strlen(value), 509u);
    EXPECT_EQ(ParseIniEntry(tooLong.c_str(), key, value), -1);

    std::string regFits = "\"n\"=\"" + std::string(511 - 6 - 13, 'v') + "REP_INSTALL\"";
    std::string regTooLong = "\"n\"=\"" + std::string(511 - 6 - 13 + 1, 'v') + "REP_INSTALL\"";
    ASSERT_EQ(ParseRegEntry(regFits.c_str(), key, value), 0);
    EXPECT_EQ(strlen(value), 511u - 6);
    EXPECT_EQ(ParseRegEntry(regTooLong.c_str(), key, value), -1);
}

// Why an entry is skipped, which lint turns into its advice.
TEST_F(EntryParsers, SkippedEntriesSayWhy)
{
    struct Case {
        int (*split)(const char*, char*, char*);
        std::string entry;
        int verdict;
    };
    const std::string longer(511, 'v');
    const Case cases[] = {
        {SplitIniEntry, "k=v", ENTRY_TAKEN},
        {SplitIniEntry, "just text", ENTRY_NO_SEPARATOR},
        {SplitIniEntry, "k=" + longer.substr(0, 498) + "REP_INSTALL", ENTRY_TOO_LONG},
        {SplitRegEntry, "\"n\"=\"d\"", ENTRY_TAKEN},
        {SplitRegEntry, "\"Ver\"=dword:00000001", ENTRY_NO_SEPARATOR},
        {SplitRegEntry, "\"=\"x", ENTRY_NO_NAME},
        {SplitRegEntry, "\"n\"=\"" + longer.substr(0, 494) + "REP_INSTALL\"", ENTRY_TOO_LONG},
    };
    char first[TEXT_BUFFER_SIZE], second[TEXT_BUFFER_SIZE];
    for (const Case& c : cases)
        EXPECT_EQ(c.split(c.entry.c_str(), first, second), c.verdict) << c.entry;
}

TEST(Unescape, EachBackslashRemovedAndTheNextByteKept)
{
    struct Case {
        std::string input;
        std::string output;
    };
    const Case cases[] = {
        {"a\\\\b", "a\\b"},       {"\\\\\\\\", "\\\\"}, {"\\\"", "\""},   {"end\\", "end"},
        {"\\a\\b", "ab"},         {kSo + "\\\\", kSo + "\\"}, {kOmote, kOmote},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(UnescapeBackslashes(c.input.c_str())), c.output) << c.input;
}

TEST(Placeholders, SearchGoesByCharacters)
{
    // 0x83 0x52 is a double-byte character whose second byte is "R": no placeholder starts there.
    std::string hidden = "\x83" "REP_INSTALL";
    EXPECT_EQ(FindCharacters(hidden.c_str(), "REP_INSTALL"), nullptr);
    const char* plain = "xxREP_INSTALL";
    EXPECT_EQ(FindCharacters(plain, "REP_INSTALL"), plain + 2);
    std::string afterKanji = kOmote + "REP_INSTALL";
    EXPECT_EQ(FindCharacters(afterKanji.c_str(), "REP_INSTALL"), afterKanji.c_str() + 2);
}

}  // namespace
