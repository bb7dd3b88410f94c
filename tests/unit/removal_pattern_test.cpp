#include "text/cp932_text.h"
#include "text/removal_pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "sample_text.h"

namespace {

using kit::kOmote;
using kit::kSo;

TEST(RemovalPattern, LinesThatStayInsideTheFolder)
{
    const std::string lines[] = {
        "install.env", "insttscr.rct", "save\\*.dat", "save\\old\\*.dat", kOmote + "\\*.dat",
        "  indented.txt", "file.dat // a comment", ".\\here.dat", "a..b\\c.dat", "..data",
        "*.*", kSo + "..\\x", "save\\.hidden",
    };
    for (const std::string& line : lines)
        EXPECT_TRUE(IsConfinedPattern(line.c_str())) << line;
}

TEST(RemovalPattern, LinesThatReachOutsideAreRefused)
{
    const std::string lines[] = {
        "\\Windows\\*.dll", "/etc/x", "C:\\Windows\\*.dll", "C:x.dat", "..\\*.dat", "save\\..\\..\\x.dat",
        "save/../../x", "...\\x", ". .\\x", "save\\..", "file.dat:stream", kOmote + "\\..\\x",
    };
    for (const std::string& line : lines)
        EXPECT_FALSE(IsConfinedPattern(line.c_str())) << line;
}

TEST(RemovalPattern, FirstBackslashGoesByCharacters)
{
    struct {
        std::string line;
        int index;
    } cases[] = {
        {"install.env", -1},
        {"save\\*.dat", 4},
        {"save\\old\\*.dat", 4},
        {kOmote + "\\*.dat", 2},        // the 0x5C inside 表 is not the separator
        {kOmote + kSo + "\\x", 4},
        {kOmote, -1},
        {"save/old/*.dat", -1},          // only a backslash names a folder level to remove
        {"\x95", -1},                    // a lone lead byte at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(FirstSeparator(c.line.c_str()), c.index) << c.line;
}

}  // namespace
