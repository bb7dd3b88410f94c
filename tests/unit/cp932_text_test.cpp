// Code page 932 text and the entry-name rules that the updater and every mkupdate command share.
#include "text/cp932_text.h"
#include "text/entry_name_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <clocale>
#include <cwctype>
#include <iconv.h>
#endif

#include "sample_text.h"

namespace {

using kit::kFullWidthT;
using kit::kFullWidthTLower;
using kit::kOmote;
using kit::kPo;
using kit::kSo;

TEST(LowerCp932, LowersWholeCharactersOnly)
{
    struct Case {
        std::string input, lowered;
    } cases[] = {
        {"README.TXT", "readme.txt"},
        {kFullWidthT + "X", kFullWidthTLower + "x"},
        // 0x83 0x41 is ア: its trail byte is 'A' and must not become 'a'.
        {"\x83" "A", "\x83" "A"},
        {"\x84\x40\x84\x4F", "\x84\x70\x84\x80"},  // Cyrillic А and П across the gap at 0x847F
        {"\x83\x9F", "\x83\xBF"},                  // Greek Α
        {"Z\x95", "z\x95"},                        // a lone lead byte at the end stays
    };
    for (const Case& c : cases) {
        std::string text = c.input;
        LowerCp932(&text[0]);
        EXPECT_EQ(text, c.lowered) << c.input;
    }
}

// Spellings that are one file name on Windows, and spellings that stay two.
TEST(FoldCp932Name, OneFormForEverySpellingOfOneName)
{
    struct Case {
        std::string a, b;
        bool same;
    } cases[] = {
        {"Data.DAT", "data.dat", true},
        {kFullWidthT, kFullWidthTLower, true},
        {"\x87\x54.dat", "\xFA\x4A.dat", true},      // Roman numeral one: NEC row 13 and IBM
        {"\x87\x54.dat", "\xEE\xEF.dat", true},      // and its lower case, NEC-selected
        {"\x87\x54.dat", "\xFA\x40.dat", true},      // and its lower case, IBM
        {"\x81\xCA", "\xEE\xF9", true},              // not sign: JIS, NEC-selected and IBM
        {"\x81\xCA", "\xFA\x54", true},
        {"\xED\x40", "\xFA\x5C", true},              // the same kanji, NEC-selected and IBM
        {"\xEE\xEC", "\xFC\x4B", true},              // the last of those
        {"\x81\xE6", "\x87\x9A", true},              // because: JIS and NEC row 13
        {"\x81\xE6", "\xFA\x5B", true},              // and IBM
        {"\x84\x46", "\x84\x76", true},              // Cyrillic Yo across the gap at 0x847F
        {"\x83\x9F", "\x83\xBF", true},              // Greek Alpha
        {"\x83\x41", "\xB1", false},                  // full-width and half-width katakana
        {"a", "\x82\x81", false},                      // ASCII and full-width a
        {"\x83" "A", "\x83" "a", false},              // trail bytes are never letters
        {"\x87\x54", "\x87\x55", false},             // one and two
    };
    for (const Case& c : cases) {
        std::string a = c.a, b = c.b;
        FoldCp932Name(&a[0]);
        FoldCp932Name(&b[0]);
        EXPECT_EQ(a == b, c.same) << c.a << " / " << c.b;
    }
}

// Every double-byte character against the platform's own code page 932 converter: the code page
// assigns exactly what FindInvalidCp932 accepts, and two characters fold to one form exactly when
// they convert to the same UTF-16 character, case ignored.
TEST(FoldCp932Name, AgreesWithThePlatformOnEveryCharacter)
{
#ifndef _WIN32
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    iconv_t converter = iconv_open("UTF-32LE", "CP932");
    ASSERT_NE(converter, (iconv_t)-1);
#endif
    auto decode = [&](const std::string& bytes, unsigned& unit) {
#ifdef _WIN32
        wchar_t wide[2];
        int made = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), wide, 2);
        if (made != 1)
            return false;
        CharUpperBuffW(wide, 1);
        unit = wide[0];
#else
        char out[8];
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size(), outLeft = sizeof out;
        char* to = out;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter, &in, &inLeft, &to, &outLeft) == (size_t)-1 || to - out != 4)
            return false;
        unit = (unsigned)(unsigned char)out[0] | (unsigned)(unsigned char)out[1] << 8 |
               (unsigned)(unsigned char)out[2] << 16;
        unit = (unsigned)std::towupper((wint_t)unit);
#endif
        return true;
    };
    std::map<unsigned, std::string> formOfUnit;  // upper-cased UTF-16 -> folded bytes
    std::map<std::string, unsigned> unitOfForm;
    int assigned = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsLeadByte((unsigned char)lead))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            std::string bytes = {(char)lead, (char)trail};
            unsigned unit = 0;
            bool converts = decode(bytes, unit);
            EXPECT_EQ(FindInvalidCp932(bytes.data(), bytes.size()) < 0, converts)
                << std::hex << lead << " " << trail;
            if (!converts)
                continue;
            ++assigned;
            std::string form = bytes;
            FoldCp932Name(&form[0]);
            EXPECT_TRUE(FindInvalidCp932(form.data(), form.size()) < 0) << std::hex << lead << " " << trail;
            auto known = formOfUnit.emplace(unit, form);
            EXPECT_EQ(known.first->second, form) << "one character, two forms: " << std::hex << lead << " " << trail;
            auto back = unitOfForm.emplace(form, unit);
            EXPECT_EQ(back.first->second, unit) << "two characters, one form: " << std::hex << lead << " " << trail;
        }
    }
    EXPECT_GT(assigned, 9000);  // the converter did convert: JIS X 0208, the extensions, user rows
#ifndef _WIN32
    iconv_close(converter);
#endif
}

TEST(FindCp932, MatchesStartOnCharacterBoundaries)
{
    EXPECT_EQ(FindCp932("abc\\def", "\\"), 3);
    EXPECT_EQ(FindCp932((kOmote + "a").c_str(), "\\"), -1);
    EXPECT_EQ(FindCp932((kOmote + "\\x").c_str(), "\\"), 2);
    // "\x5C" "txt" hides inside ソ followed by "txt": no match may begin on the trail byte.
    EXPECT_EQ(FindCp932((kSo + "txt").c_str(), "\\txt"), -1);
    EXPECT_EQ(FirstSeparator((kSo + "\\a").c_str()), 2);
}

TEST(Cp932Text, CharactersAndSeparators)
{
    struct Case {
        std::string text;
        int next0;       // NextCharacter(text, 0)
        int first;       // FirstSeparator
        int last;        // LastSeparator over the whole text
        bool endsWith;   // EndsWithSeparator
        int parentFile;  // ParentFolderLength as a file
    } cases[] = {
        {"a\\b\\c", 1, 1, 3, false, 4},
        {kOmote + "x", 2, -1, -1, false, 0},
        {kOmote + "\\" + kSo + "\\", 2, 2, 5, true, 6},
        {"\x95", 1, -1, -1, false, 0},  // a lone lead byte is one character
        {"", 1, -1, -1, false, 0},
        {"\\", 1, 0, 0, true, 1},
    };
    for (const Case& c : cases) {
        const char* t = c.text.c_str();
        EXPECT_EQ(NextCharacter(t, 0), c.next0) << c.text;
        EXPECT_EQ(FirstSeparator(t), c.first) << c.text;
        EXPECT_EQ(LastSeparator(t, (int)c.text.size()), c.last) << c.text;
        EXPECT_EQ(EndsWithSeparator(t), c.endsWith) << c.text;
        EXPECT_EQ(ParentFolderLength(t, false), c.parentFile) << c.text;
    }
    // A folder's own trailing separator is not its parent's.
    EXPECT_EQ(ParentFolderLength("movie\\sub\\", true), 6);
    EXPECT_EQ(ParentFolderLength("movie\\", true), 0);
    EXPECT_EQ(ParentFolderLength((kOmote + "\\").c_str(), true), 0);
    // "|" inside ポ is no "|".
    const std::string barThenBar = kPo + "|";
    EXPECT_EQ(FindCharacters(barThenBar.c_str(), "|"), barThenBar.c_str() + 2);
    EXPECT_TRUE(IsTrailByteAt((kOmote + "\\").c_str(), 1));
    EXPECT_FALSE(IsTrailByteAt((kOmote + "\\").c_str(), 2));
}

TEST(Cp932Text, FindsTheFirstInvalidByte)
{
    struct Case {
        std::string text;
        long invalid;
    } cases[] = {
        {"plain.txt", -1},
        {kOmote + kSo + "\xB1", -1},  // half-width katakana is a single byte
        {"a\x80", 1},
        {"a\xA0", 1},
        {"\xFD", 0},
        {"\xFF", 0},
        {"ab\x81", 2},      // lead byte standing last
        {"\x81\x3F", 0},    // a byte that cannot end a character
        {"\x81\x7F", 0},
        {"\x81\xFD", 0},
        {"x\xE0\x40", -1},
        {"\x85\x40", 0},            // row 9: empty
        {"a\x87\x76", 1},           // the gap in NEC row 13
        {"\xEE\xED", 0},            // between the NEC-selected kanji and its Roman numerals
        {"\xFC\x4C", 0},            // past the last IBM kanji
        {"\x87\x54\xFA\x4A", -1},  // Roman numeral one, NEC and IBM
        {"\xF0\x40", -1},           // user-defined: Windows maps it to the private use area
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindInvalidCp932(c.text.data(), c.text.size()), c.invalid) << c.text;
}

TEST(CheckEntryName, OneRuleSetForEveryName)
{
    struct Case {
        std::string name;
        bool folder;
        int fault;
    } cases[] = {
        {"game.dat", false, ENTRY_NAME_OK},
        {"movie\\op.dat", false, ENTRY_NAME_OK},
        {"movie\\", true, ENTRY_NAME_OK},
        {kOmote + "\\" + kSo + ".txt", false, ENTRY_NAME_OK},
        {kOmote, false, ENTRY_NAME_OK},           // 表 ends in 0x5C, yet is no separator
        {kOmote + "\\", true, ENTRY_NAME_OK},
        {kPo + ".dat", false, ENTRY_NAME_OK},    // "|" inside ポ is no "|"
        {"con.txt.bak\\x", false, ENTRY_NAME_DEVICE},
        {"console.dat", false, ENTRY_NAME_OK},    // only the whole base name counts
        {"com10", false, ENTRY_NAME_OK},
        {".hidden", false, ENTRY_NAME_OK},
        {"", false, ENTRY_NAME_EMPTY},
        {"a\\\\b", false, ENTRY_NAME_EMPTY},
        {"evil\x81", false, ENTRY_NAME_NOT_CP932},
        {"s\\x\x81", false, ENTRY_NAME_NOT_CP932},
        {"a\x80.dat", false, ENTRY_NAME_NOT_CP932},
        {"a\xA0", false, ENTRY_NAME_NOT_CP932},
        {"\x86\x5C.dat", false, ENTRY_NAME_UNASSIGNED},  // row 12 is empty
        {"s\\\xEE\xED", false, ENTRY_NAME_UNASSIGNED},
        {"a\xFE", false, ENTRY_NAME_NOT_CP932},
        {"a\x1b[2J", false, ENTRY_NAME_CONTROL_BYTE},
        {"a\rb", false, ENTRY_NAME_CONTROL_BYTE},
        {"a\x7F", false, ENTRY_NAME_CONTROL_BYTE},
        {"a*b.dat", false, ENTRY_NAME_FORBIDDEN},
        {"a?", false, ENTRY_NAME_FORBIDDEN},
        {"<a>", false, ENTRY_NAME_FORBIDDEN},
        {"a|b", false, ENTRY_NAME_FORBIDDEN},
        {"\"q\"", false, ENTRY_NAME_FORBIDDEN},
        {"a/b", false, ENTRY_NAME_FORBIDDEN},
        {"C:\\x", false, ENTRY_NAME_LEAVES_FOLDER},
        {"a:b", false, ENTRY_NAME_LEAVES_FOLDER},
        {"\\x", false, ENTRY_NAME_LEAVES_FOLDER},
        {"..\\x", false, ENTRY_NAME_LEAVES_FOLDER},
        {"/etc/x", false, ENTRY_NAME_LEAVES_FOLDER},
        {"game.dat.", false, ENTRY_NAME_TRAILING_DOT},
        {"game.dat ", false, ENTRY_NAME_TRAILING_DOT},
        {"sub.\\x", false, ENTRY_NAME_TRAILING_DOT},
        {"CON", false, ENTRY_NAME_DEVICE},
        {"nul.txt", false, ENTRY_NAME_DEVICE},
        {"Com1.dat", false, ENTRY_NAME_DEVICE},
        {"lpt9", false, ENTRY_NAME_DEVICE},
        {"aux .dat", false, ENTRY_NAME_DEVICE},
        {"prn\\", true, ENTRY_NAME_DEVICE},
        {"CONOUT$", false, ENTRY_NAME_DEVICE},
        {"~updater.journal", false, ENTRY_NAME_RESERVED},
        {"data\\~UPDATER.Journal", false, ENTRY_NAME_RESERVED},
        {"~updater.journal\\", true, ENTRY_NAME_RESERVED},
        {"~upd0A9f.tmp", false, ENTRY_NAME_RESERVED},
        {"save\\~UPDFFFF.TMP", false, ENTRY_NAME_RESERVED},
        {"~updater.journal.bak", false, ENTRY_NAME_OK},
        {"~upd0A9g.tmp", false, ENTRY_NAME_OK},      // not a hexadecimal digit
        {"~upd0A9.tmp", false, ENTRY_NAME_OK},       // three digits
        {"x~upd0A9f.tmp", false, ENTRY_NAME_OK},
        {"movie", true, ENTRY_NAME_FOLDER_FORM},
        {"movie\\", false, ENTRY_NAME_FOLDER_FORM},
        {"\x95\x95\\", true, ENTRY_NAME_OK},       // the separator after a whole character counts
        {kOmote, true, ENTRY_NAME_FOLDER_FORM},
    };
    for (const Case& c : cases) {
        int fault = CheckEntryName(c.name.c_str(), c.folder);
        EXPECT_EQ(fault, c.fault) << "'" << c.name << "' (" << (c.folder ? "folder" : "file")
                                  << "): " << DescribeEntryNameFault(fault);
    }
}

}  // namespace
