// The key-line rules of install.env and the settings accessors, over the same text-mode line
// reader that the builder uses (natively and under Wine).
#include "settings/settings.h"
#include "settings/settings_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_text.h"

namespace {

const char kAbsent[] = "<absent>";
using kit::kPo;
// Code page 932 bytes: the title suffix " アップデータ", the default title.
const std::string kSuffix = " \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x5E";
const std::string kDefaultTitle = "ZOREDU \x83\x41\x83\x76\x83\x8A\x83\x50\x81\x5B\x83\x56\x83\x87\x83\x93";

void LoadFromText(const std::string& text)
{
    FreeSettings();
    TextModeReader reader;
    InitTextModeReader(&reader, text.data(), text.size());
    ReadSettingsLines(ReadTextModeLine, &reader, nullptr, nullptr);
}

std::string Setting(const char* key)
{
    char buffer[TEXT_BUFFER_SIZE];
    return GetSetting(key, buffer, sizeof buffer, kAbsent);
}

std::string Repeat(const std::string& piece, int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += piece;
    return text;
}

struct KeyLineCase {
    const char* name;
    std::string file;
    const char* key;
    std::string expected;  // kAbsent: no entry for the key
};

class KeyLines : public testing::TestWithParam<KeyLineCase> {};

TEST_P(KeyLines, ReadAsTheUpdaterReadsThem)
{
    LoadFromText(GetParam().file);
    EXPECT_EQ(Setting(GetParam().key), GetParam().expected);
    FreeSettings();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, KeyLines,
    testing::Values(
        KeyLineCase{"BarsBecomeSpaces", "TITLEBAR\tGame|Title|1.10\n", "TITLEBAR", "Game Title 1.10"},
        KeyLineCase{"SecondByte7CKept", "TITLEBAR\tA" + kPo + "|B\n", "TITLEBAR", "A" + kPo + " B"},
        KeyLineCase{"CommentAfterValue", "INSTTO\t\t\tProduct comment here\n", "INSTTO", "Product"},
        KeyLineCase{"KeyAlone", "TITLEBAR\n", "TITLEBAR", kAbsent},
        KeyLineCase{"KeyAloneWithBlanks", "TITLEBAR \t \n", "TITLEBAR", kAbsent},
        KeyLineCase{"FirstOfTwoWins", "INSTTO\tFirst\nINSTTO\tSecond\n", "INSTTO", "First"},
        KeyLineCase{"CaseMatters", "titlebar\tX\n", "TITLEBAR", kAbsent},
        KeyLineCase{"LowerKeyIsItsOwn", "titlebar\tX\n", "titlebar", "X"},
        KeyLineCase{"LeadingSpace", " TITLEBAR\tX\n", "TITLEBAR", kAbsent},
        KeyLineCase{"LeadingTab", "\tTITLEBAR\tX\n", "TITLEBAR", kAbsent},
        KeyLineCase{"SlashLine", "/TITLEBAR\tX\n", "/TITLEBAR", kAbsent},
        KeyLineCase{"EofMarkerStops", "[EOF] the end\nTITLEBAR\tX\n", "TITLEBAR", kAbsent},
        KeyLineCase{"EofMarkerIsNotAKey", "[EOF]\tX\n", "[EOF]", kAbsent},
        KeyLineCase{"LowerEofGoesOn", "[eof]\nTITLEBAR\tX\n", "TITLEBAR", "X"},
        KeyLineCase{"Line400Read", Repeat("// c\n", 399) + "TITLEBAR\tX\n", "TITLEBAR", "X"},
        KeyLineCase{"Line401NotRead", Repeat("// c\n", 400) + "TITLEBAR\tX\n", "TITLEBAR", kAbsent},
        KeyLineCase{"BlankLinesCount", Repeat("\n", 400) + "TITLEBAR\tX\n", "TITLEBAR", kAbsent},
        KeyLineCase{"Gap99", "TITLEBAR" + Repeat("\t", 99) + "X\n", "TITLEBAR", "X"},
        KeyLineCase{"Gap100", "TITLEBAR" + Repeat("\t", 100) + "X\n", "TITLEBAR", kAbsent},
        KeyLineCase{"NoLineFeedAtEnd", "TITLEBAR\tX", "TITLEBAR", "X"},
        KeyLineCase{"CrLf", "TITLEBAR\tX\r\nINSTTO\tY\r\n", "INSTTO", "Y"},
        KeyLineCase{"CtrlZEndsFile", "TITLEBAR\tX\n\x1AINSTTO\tY\n", "INSTTO", kAbsent},
        KeyLineCase{"CtrlZInsideValue", "TITLEBAR\tAB\x1A" "CD\n", "TITLEBAR", "AB"},
        KeyLineCase{"SectionLinesBecomeKeys", "-\tcomment\n", "-", "comment"},
        // A long physical line arrives in 511-byte pieces; the second piece is a line of its own.
        KeyLineCase{"PieceOfLongLine", "//" + std::string(509, 'x') + "INSTTO\tPiece\n", "INSTTO", "Piece"},
        KeyLineCase{"PiecesCountAsLines",
                    Repeat("// c\n", 398) + "//" + std::string(509, 'x') + "x\nTITLEBAR\tX\n", "TITLEBAR", kAbsent}),
    [](const testing::TestParamInfo<KeyLineCase>& info) { return std::string(info.param.name); });

TEST(Settings, TitleTextFollowsTitleBar)
{
    LoadFromText("TITLEBAR\tGame|Title|1.10\n");
    EXPECT_EQ(std::string(GetTitleBar()), "Game Title 1.10");
    EXPECT_EQ(std::string(GetTitleText()), "Game Title 1.10" + kSuffix);
    LoadFromText("TITLEBAR\n");
    EXPECT_EQ(std::string(GetTitleText()), kDefaultTitle + kSuffix);
    FreeSettings();
}

TEST(Settings, LongTextsAreCutTo127Bytes)
{
    std::string title(200, 'T');
    LoadFromText("TITLEBAR\t" + title + "\nREG_GLOBAL\t" + std::string(150, 'G') + "\n");
    EXPECT_EQ(std::string(GetTitleBar()), title.substr(0, 127));
    EXPECT_EQ(std::string(GetTitleText()), title.substr(0, 127) + kSuffix);
    EXPECT_EQ(std::string(GetRegGlobal()), std::string(127, 'G'));
    char small[5];
    EXPECT_STREQ(GetSetting("TITLEBAR", small, sizeof small, kAbsent), "TTTT");
    FreeSettings();
}

TEST(Settings, GetSettingPadsTheBufferWithTerminators)
{
    LoadFromText("KEY\tab\n");
    char buffer[8];
    memset(buffer, 'z', sizeof buffer);
    GetSetting("KEY", buffer, sizeof buffer, kAbsent);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("ab\0\0\0\0\0\0", 8));
    FreeSettings();
}

TEST(Settings, DefaultsWhenNothingIsSet)
{
    LoadFromText("// nothing but a comment\n");
    EXPECT_STREQ(GetRegGlobal(), "-");
    EXPECT_STREQ(GetRegLocal(), "-");
    EXPECT_STREQ(GetIniFile(), "-");
    EXPECT_STREQ(GetIniSection(), "-");
    EXPECT_EQ(std::string(GetTitleBar()), kDefaultTitle);
    EXPECT_STREQ(GetInstTo(), "VUVORI_DIV");
    EXPECT_EQ(GetInstFol(), nullptr);
    EXPECT_EQ(GetKeyFile(), nullptr);
    EXPECT_EQ(GetChkReg(), nullptr);
    EXPECT_EQ(GetInstMakeFol(), 0);
    EXPECT_EQ(GetChkRegVer(), 0);
    EXPECT_EQ(GetChkRegVerHigh(), 0);
    char buffer[128];
    EXPECT_STREQ(GetSetting("INSTREADME", buffer, sizeof buffer, "-"), "-");
    FreeSettings();
}

TEST(Settings, AccessorsReturnTheFileValues)
{
    LoadFromText(
        "REG_GLOBAL\tMaker\nREG_LOCAL\tGame|One\nINI_FILE\tgame.ini\nINI_SECTION\tPaths\n"
        "INSTTO\tGameOne\nINSTFOL\tMaker\nKEYFILE\tgame.exe\nCHKREG\tVersion\n"
        "INSTMAKEFOL\t1\nCHKREGVER\t100\nCHKREGVERHIGH\t109\n");
    EXPECT_STREQ(GetRegGlobal(), "Maker");
    EXPECT_STREQ(GetRegLocal(), "Game One");
    EXPECT_STREQ(GetIniFile(), "game.ini");
    EXPECT_STREQ(GetIniSection(), "Paths");
    EXPECT_STREQ(GetInstTo(), "GameOne");
    EXPECT_STREQ(GetInstFol(), "Maker");
    EXPECT_STREQ(GetKeyFile(), "game.exe");
    EXPECT_STREQ(GetChkReg(), "Version");
    EXPECT_EQ(GetInstMakeFol(), 1);
    EXPECT_EQ(GetChkRegVer(), 100);
    EXPECT_EQ(GetChkRegVerHigh(), 109);
    FreeSettings();
}

TEST(Settings, IntegerValues)
{
    struct Case {
        const char* value;
        int expected;
    };
    const Case cases[] = {
        {"12abc", 12}, {"abc", 0}, {"-7", -7}, {"+8", 8}, {"007", 7}, {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1}, {"|5", 5},  // stored as " 5"
    };
    for (const Case& c : cases) {
        LoadFromText(std::string("CHKREGVER\t") + c.value + "\n");
        EXPECT_EQ(GetSettingInt("CHKREGVER", 42), c.expected) << c.value;
    }
    // The parser alone, as registry values meet it too: every kind of blank, the clamp's edges.
    const Case direct[] = {
        {" \t\r\n\v\f42", 42}, {"110 and text", 110}, {"-", 0}, {"+-3", 0}, {"2147483647", 2147483647},
        {"2147483648", 2147483647}, {"-2147483648", -2147483647 - 1}, {"-2147483649", -2147483647 - 1},
        {"000000000000000000000000009", 9}, {"", 0}, {"|5", 0},
    };
    for (const Case& c : direct)
        EXPECT_EQ(ParseDecimal(c.value), c.expected) << c.value;
    LoadFromText("");
    EXPECT_EQ(GetSettingInt("CHKREGVER", 42), 42);
    FreeSettings();
}

TEST(Settings, MemoisedAccessorsKeepTheirFirstAnswer)
{
    LoadFromText("REG_GLOBAL\tMaker\nCHKREGVER\t3\n");
    const char* first = GetRegGlobal();
    EXPECT_EQ(GetRegGlobal(), first);
    EXPECT_EQ(GetChkRegVer(), 3);
    // After a reload (tests only) the memo must not keep the old table's answer.
    LoadFromText("REG_GLOBAL\tOther\nCHKREGVER\t4\n");
    EXPECT_STREQ(GetRegGlobal(), "Other");
    EXPECT_EQ(GetChkRegVer(), 4);
    FreeSettings();
}

TEST(Settings, FreeSettingsEmptiesTheTable)
{
    LoadFromText("KEY\tvalue\n");
    FreeSettings();
    EXPECT_EQ(Setting("KEY"), kAbsent);
    FreeSettings();  // twice is harmless
}

// What the reader tells its observer: one report per line it reads, in order, and the stop.
std::vector<std::string> ObservedKeyLines(const std::string& text)
{
    std::vector<std::string> reports;
    KeyLineObserver observe = [](void* context, int kind, const char* line, const KeyLine* parts) {
        static const char* const kNames[] = {"pair", "ignored", "no value", "gap", "end marker", "line limit"};
        std::string report = kNames[kind];
        if (parts != nullptr)
            report += " " + std::string(line, (size_t)parts->keyLength) + "=" +
                      std::string(line + parts->valueStart, (size_t)parts->valueLength);
        else if (line != nullptr)
            report += " " + std::string(line);
        static_cast<std::vector<std::string>*>(context)->push_back(report);
    };
    FreeSettings();
    TextModeReader reader;
    InitTextModeReader(&reader, text.data(), text.size());
    ReadSettingsLines(ReadTextModeLine, &reader, observe, &reports);
    return reports;
}

TEST(Settings, TheObserverHearsWhatBecameOfEachLine)
{
    struct Case {
        std::string file;
        std::vector<std::string> reports;
    };
    const Case cases[] = {
        {"TITLEBAR\tA|B  comment\n// c\nINSTTO\n\n" "CHKREG" + Repeat("\t", 100) + "V\n",
         {"pair TITLEBAR=A|B", "ignored // c\n", "no value INSTTO\n", "ignored \n",
          "gap CHKREG" + Repeat("\t", 100) + "V\n"}},
        {"A\t1\n[EOF] end\nB\t2\n", {"pair A=1", "end marker [EOF] end\n"}},
        // Nothing after the end of the file: no stop is reported.
        {"A\t1", {"pair A=1"}},
        {Repeat("\n", 399) + "A\t1\nB\t2\n", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> reports = ObservedKeyLines(c.file);
        if (c.reports.empty()) {
            // 400 lines read, then the limit, and nothing of line 401.
            ASSERT_EQ(reports.size(), 401u);
            EXPECT_EQ(reports[399], "pair A=1");
            EXPECT_EQ(reports[400], "line limit");
        } else {
            EXPECT_EQ(reports, c.reports) << c.file;
        }
        // The observer changes nothing: the table holds what the reports say was taken.
        std::vector<std::string> pairs, table;
        for (const std::string& report : reports)
            if (report.rfind("pair ", 0) == 0)
                pairs.push_back(report.substr(5));
        for (const SettingsEntry* entry = FirstSetting(); entry != nullptr; entry = entry->next) {
            std::string value = entry->value;
            table.push_back(std::string(entry->key) + "=" + value);
        }
        for (std::string& pair : pairs)
            for (char& ch : pair)
                ch = ch == '|' ? ' ' : ch;
        EXPECT_EQ(table, pairs) << c.file;
    }
    FreeSettings();
}

TEST(TextMode, LinesAsFgetsDeliversThem)
{
    const std::string text = "a\r\nb\rc\n\r\r\nlast";
    TextModeReader reader;
    InitTextModeReader(&reader, text.data(), text.size());
    char line[8];
    std::vector<std::string> lines;
    while (ReadTextModeLine(line, sizeof line, &reader) != nullptr)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a\n", "b\rc\n", "\r\n", "last"}));

    const std::string longLine = "0123456789\n";
    InitTextModeReader(&reader, longLine.data(), longLine.size());
    lines.clear();
    while (ReadTextModeLine(line, sizeof line, &reader) != nullptr)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"0123456", "789\n"}));
}

}  // namespace
