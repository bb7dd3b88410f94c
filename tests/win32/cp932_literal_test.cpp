// The Windows build turns UTF-8 source literals into code page 932 bytes; every text the
// player sees depends on it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(Cp932Literals, JapaneseLiteralIsExactCodePage932Bytes)
{
    // 表 ソ 六丁 アップデート ｷｬﾝｾﾙ (half-width katakana are single bytes)
    const std::string literal = "表ソ六丁アップデートｷｬﾝｾﾙ";
    const std::string expected =
        "\x95\x5C"
        "\x83\x5C"
        "\x98\x5A\x92\x9A"
        "\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67"
        "\xB7\xAC\xDD\xBE\xD9";
    EXPECT_EQ(literal, expected);
}

TEST(Cp932Literals, TheSystemRunsWithCodePage932)
{
    EXPECT_EQ(GetACP(), 932u);
}
