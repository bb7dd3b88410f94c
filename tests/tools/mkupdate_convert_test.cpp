// mkupdate convert: settings files and readmes saved as UTF-8 or UTF-16 become code page 932 with
// CR LF, exactly or not at all; a file the updater already reads is left alone; lint then passes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

// デモ in code page 932.
const std::string kDemoCp932 = "\x83\x66\x83\x82";

std::string Utf16(bool bigEndian, const std::u16string& text)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        char high = (char)(unit >> 8), low = (char)(unit & 0xFF);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

TEST(MkupdateConvert, TurnsEveryUnicodeFormIntoCodePage932WithCrLf)
{
    const std::string expected = "TITLEBAR\t" + kDemoCp932 + "\r\nKEYFILE\tgame.exe\r\nA\r\nB\r\n";
    struct Case {
        const char* label;
        std::string bytes;
        const char* from;  // named in the message
    } cases[] = {
        {"UTF-8, LF", u8"TITLEBAR\tデモ\nKEYFILE\tgame.exe\nA\nB\n", "from UTF-8"},
        {"UTF-8 with a byte-order mark, CR LF", u8"\uFEFFTITLEBAR\tデモ\r\nKEYFILE\tgame.exe\r\nA\r\nB\r\n",
         "UTF-8 with a byte-order mark"},
        {"UTF-8, lone CRs and mixed ends", u8"TITLEBAR\tデモ\rKEYFILE\tgame.exe\r\nA\rB\n", "from UTF-8"},
        {"UTF-16 little-endian", Utf16(false, u"TITLEBAR\tデモ\r\nKEYFILE\tgame.exe\nA\nB\n"), "little-endian"},
        {"UTF-16 big-endian", Utf16(true, u"TITLEBAR\tデモ\nKEYFILE\tgame.exe\nA\nB\r\n"), "big-endian"},
        {"code page 932 with LF: only the line ends", "TITLEBAR\t" + kDemoCp932 + "\nKEYFILE\tgame.exe\nA\nB\n",
         "from code page 932"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scratch scratch;
        fs::path file = scratch.Path() / "install.env";
        Write(file, c.bytes);
        ToolRun run = RunTool("convert " + Q(file));
        EXPECT_EQ(run.code, kExitOk) << run.output;
        EXPECT_NE(run.output.find(c.from), std::string::npos) << run.output;
        EXPECT_EQ(Read(file), expected);
        EXPECT_FALSE(fs::exists(scratch.Path() / "install.env.convert.part"));

        // Converted once, there is nothing left to do.
        ToolRun again = RunTool("convert --check " + Q(file));
        EXPECT_EQ(again.code, kExitOk) << again.output;
        EXPECT_NE(again.output.find("already"), std::string::npos) << again.output;
    }
}

TEST(MkupdateConvert, NamesEveryCharacterWithoutAFormAndChangesNothing)
{
    Scratch scratch;
    fs::path file = scratch.Path() / "readme.txt";
    const std::string original = u8"\uFEFFゲーム\n絵文字😀です\n著作権 © 2026\n";
    Write(file, original);
    ToolRun run = RunTool("convert " + Q(file));
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("line 2, column 4: U+1F600"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("line 3, column 5: U+00A9"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("left as it is"), std::string::npos) << run.output;
    EXPECT_EQ(Read(file), original);
    for (const auto& entry : fs::directory_iterator(scratch.Path()))
        EXPECT_EQ(entry.path().filename(), "readme.txt") << "nothing else is written";
}

TEST(MkupdateConvert, OutputCheckAndUsage)
{
    Scratch scratch;
    fs::path file = scratch.Path() / "install.env";
    const std::string utf8 = u8"TITLEBAR\tデモ\n";
    Write(file, utf8);

    // --check reports and changes nothing.
    ToolRun check = RunTool("convert --check " + Q(file));
    EXPECT_EQ(check.code, kExitInput) << check.output;
    EXPECT_NE(check.output.find("needs converting"), std::string::npos) << check.output;
    EXPECT_EQ(Read(file), utf8);

    // -o writes elsewhere and leaves the file.
    fs::path out = scratch.Path() / "converted.env";
    ToolRun written = RunTool("convert " + Q(file) + " -o " + Q(out));
    EXPECT_EQ(written.code, kExitOk) << written.output;
    EXPECT_EQ(Read(out), "TITLEBAR\t" + kDemoCp932 + "\r\n");
    EXPECT_EQ(Read(file), utf8);

    // What the converted file is, lint accepts.
    Write(scratch.Path() / "game.exe", "x");
    ToolRun lint = RunTool("lint " + Q(out));
    EXPECT_EQ(lint.output.find("UTF-8"), std::string::npos) << lint.output;

    struct Usage {
        std::string arguments, message;
    } usages[] = {
        {"convert", "name the file"},
        {"convert " + Q(file) + " " + Q(out) + " -o " + Q(scratch.Path() / "x"), "-o takes one FILE"},
        {"convert " + Q(file) + " -o " + Q(file), "names FILE itself"},
        {"convert --check " + Q(file) + " -o " + Q(out), "takes no -o"},
    };
    for (const Usage& u : usages) {
        ToolRun run = RunTool(u.arguments);
        EXPECT_EQ(run.code, kExitUsage) << u.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(u.message), std::string::npos) << run.output;
    }
    ToolRun missing = RunTool("convert " + Q(scratch.Path() / "none.env"));
    EXPECT_EQ(missing.code, kExitInput) << missing.output;
    EXPECT_EQ(Read(file), utf8);
}

TEST(MkupdateConvert, RefusesTextThatIsNoKnownEncoding)
{
    Scratch scratch;
    fs::path file = scratch.Path() / "install.env";
    const std::string bytes = "TITLEBAR\t\x85\x40\xFF\n";  // neither UTF-8 nor code page 932
    Write(file, bytes);
    ToolRun run = RunTool("convert " + Q(file));
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("neither UTF-8, UTF-16 nor code page 932"), std::string::npos) << run.output;
    EXPECT_EQ(Read(file), bytes);
}

}  // namespace
