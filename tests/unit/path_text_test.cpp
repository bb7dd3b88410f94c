#include "text/path_text.h"

#include <gtest/gtest.h>

#include <string>

#include "sample_text.h"
#include "text/buffer_sizes.h"
#include <cstring>

namespace {

using kit::kOmote;
using kit::kSo;

struct PathCase {
    std::string input;
    std::string stripped;
    std::string ensured;
};

class TrailingBackslash : public testing::TestWithParam<PathCase> {};

TEST_P(TrailingBackslash, StripAndEnsure)
{
    const PathCase& c = GetParam();
    char buffer[300];
    snprintf(buffer, sizeof buffer, "%s", c.input.c_str());
    EXPECT_EQ(StripTrailingBackslash(buffer), c.stripped);
    snprintf(buffer, sizeof buffer, "%s", c.input.c_str());
    EXPECT_EQ(EnsureTrailingBackslash(buffer), c.ensured);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TrailingBackslash,
    testing::Values(PathCase{"C:\\Games\\", "C:\\Games", "C:\\Games\\"},
                    PathCase{"C:\\Games\\\\", "C:\\Games\\", "C:\\Games\\\\"},
                    PathCase{"C:\\", "C:", "C:\\"},
                    PathCase{"C:\\Temp", "C:\\Temp", "C:\\Temp\\"},
                    PathCase{kOmote, kOmote, kOmote + "\\"},
                    PathCase{"C:\\Temp\\" + kOmote, "C:\\Temp\\" + kOmote, "C:\\Temp\\" + kOmote + "\\"},
                    PathCase{"C:\\" + kOmote + "\\", "C:\\" + kOmote, "C:\\" + kOmote + "\\"},
                    PathCase{"", "", "\\"},
                    PathCase{"\\", "", "\\"}));

TEST(LeadByte, MarksExactlyTheTwoRanges)
{
    for (int byte = 0; byte < 256; ++byte) {
        bool expected = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        EXPECT_EQ(IsLeadByte((unsigned char)byte), expected) << "byte " << byte;
    }
}

TEST(TrailByte, FoundByScanningFromTheStart)
{
    // ソ then a real backslash.
    const std::string text = "a" + kSo + "\\b";
    EXPECT_FALSE(IsTrailByteAt(text.c_str(), 0));
    EXPECT_FALSE(IsTrailByteAt(text.c_str(), 1));
    EXPECT_TRUE(IsTrailByteAt(text.c_str(), 2));
    EXPECT_FALSE(IsTrailByteAt(text.c_str(), 3));
}

TEST(MatchPath, KeepsThePatternsFolderWhateverItsLastByte)
{
    struct {
        std::string pattern, name, expected;
    } cases[] = {
        {"*.*", "a.txt", "a.txt"},
        {"save\\*.dat", "1.dat", "save\\1.dat"},
        {kOmote + "\\*.dat", "x.dat", kOmote + "\\x.dat"},
        {"C:*.dat", "x.dat", "C:x.dat"},
        {"C:\\g\\" + kOmote + "*.dat", "y.dat", "C:\\g\\y.dat"},
        {"d/e/*.*", "f", "d/e/f"},
    };
    for (const auto& c : cases) {
        char result[260];
        ComposeMatchPath(result, sizeof result, c.pattern.c_str(), c.name.c_str());
        EXPECT_EQ(result, c.expected) << c.pattern;
    }
}

// A path is joined whole or refused: the longest that fits has 259 bytes, one more does not.
TEST(JoinPath, JoinsWithOneBackslashOrRefusesWhatDoesNotFit)
{
    char path[PATH_BUFFER_SIZE];
    EXPECT_TRUE(JoinPath(path, "C:\\Games\\\x95\x5c", "data\\a.dat"));
    EXPECT_STREQ(path, "C:\\Games\\\x95\x5c\\data\\a.dat");
    const std::string folder(200, 'f');
    EXPECT_TRUE(JoinPath(path, folder.c_str(), std::string(58, 'n').c_str()));
    EXPECT_EQ(strlen(path), 259u);
    EXPECT_FALSE(JoinPath(path, folder.c_str(), std::string(59, 'n').c_str()));
    EXPECT_EQ(strlen(path), 259u) << "cut, but terminated";
}

TEST(CopyText, CutsAndTerminates)
{
    char buffer[4] = {'x', 'x', 'x', 'x'};
    CopyText(buffer, "abcdef", sizeof buffer);
    EXPECT_STREQ(buffer, "abc");
}

// Reparse tags as Windows reports them: only those that name another place are links.
TEST(LinkReparseTag, OnlyNameSurrogatesAndUnknownTagsAreLinks)
{
    const struct {
        uint32_t tag;
        bool link;
        const char* kind;
    } cases[] = {
        {0xA000000Cu, true, "symbolic link"},
        {0xA0000003u, true, "junction or mount point"},
        {0xA0000027u, true, "AF_UNIX socket-style name surrogate"},
        {0x00000000u, true, "no tag told (treated as a link)"},
        {0x80000017u, false, "compressed by compact.exe (WOF)"},
        {0x80000013u, false, "deduplicated"},
        {0x9000001Au, false, "cloud placeholder"},
        {0x9000301Au, false, "cloud placeholder, variant 3 (OneDrive)"},
        {0x80000018u, false, "container isolation (WCI)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsLinkReparseTag(c.tag), c.link) << c.kind;
}

}  // namespace
