// What people expect of a command-line tool, checked on the mkupdate program itself: --version,
// help for a command, --option=value, -q, one-line usage errors, JSON for machines, totals that
// agree between build and list, and nothing on standard output for something that is no update.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const std::string kSettings = "TITLEBAR\tTest\r\nREG_GLOBAL\tMaker\r\nREG_LOCAL\tGame\r\nKEYFILE\tgame.exe\r\n"
                              "[delfiles_afterinst]\r\nold.dll\r\n-\r\n";

// A small update: the settings file, the title picture, one file in one folder.
struct Built {
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    fs::path stub = scratch.Path() / "stub.exe";
    fs::path update = scratch.Path() / "update.exe";
    ToolRun build;

    Built()
    {
        Write(source / "install.env", kSettings);
        WriteTitlePicture(source);
        Write(source / "data" / "game.dat", std::string(5000, 'g'));
        Write(stub, "MZ stub");
        build = RunTool("build " + Q(source) + " --output=" + Q(update) + " --stub=" + Q(stub) + " --jobs=1");
    }
};

// Standard output in text mode ends lines in CR LF on Windows.
std::string WithoutCr(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

size_t Lines(const std::string& text)
{
    size_t count = 0;
    for (char c : text)
        count += c == '\n';
    return count;
}

TEST(MkupdateConventions, VersionAndHelpForACommand)
{
    ToolRun version = RunTool("--version");
    EXPECT_EQ(version.code, kExitOk);
    EXPECT_TRUE(std::regex_search(version.output, std::regex("^mkupdate [0-9]+\\.[0-9]+\\.[0-9]+ \\(zlib [0-9.]+\\)")))
        << version.output;
    for (const char* command : {"build", "list", "verify", "extract", "lint", "rct", "convert"}) {
        ToolRun help = RunTool(std::string("help ") + command);
        EXPECT_EQ(help.code, kExitOk) << command;
        EXPECT_EQ(help.output, RunTool(std::string(command) + " --help").output) << command;
        EXPECT_NE(help.output.find(std::string("usage: mkupdate ") + command), std::string::npos) << help.output;
    }
    ToolRun unknown = RunTool("help nosuch");
    EXPECT_EQ(unknown.code, kExitUsage);
    EXPECT_NE(unknown.output.find("unknown command 'nosuch'"), std::string::npos) << unknown.output;
    ToolRun helpHelp = RunTool("help help");
    EXPECT_EQ(helpHelp.code, kExitOk) << helpHelp.output;
    EXPECT_EQ(helpHelp.output, RunTool("help").output);
}

// A slip of a letter or two, or the start of one name, gets the name it was meant to be; a word
// close to nothing gets no guess.
TEST(MkupdateConventions, AWrongNameGetsTheNearestOne)
{
    struct Case {
        std::string arguments, suggestion;  // empty: no guess at all
    } cases[] = {
        {"biuld", "(did you mean 'build'?)"},
        {"verfy x.exe", "(did you mean 'verify'?)"},
        {"ext", "(did you mean 'extract'?)"},
        {"build src -o x.exe --remove-mising", "(did you mean '--remove-missing'?)"},
        {"build src -o x.exe --bse old", "(did you mean '--base'?)"},
        {"lint --expl", "(did you mean '--explain'?)"},
        {"build src -o x.exe --fast", ""},
        {"frobnicate", ""},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.code, kExitUsage) << c.arguments << "\n" << run.output;
        if (c.suggestion.empty())
            EXPECT_EQ(run.output.find("did you mean"), std::string::npos) << run.output;
        else
            EXPECT_NE(run.output.find(c.suggestion), std::string::npos) << run.output;
    }
}

TEST(MkupdateConventions, AUsageErrorIsOneLineAndAHint)
{
    struct Case {
        std::string arguments, message, command;
    } cases[] = {
        {"build src -o x.exe --level=12", "--level takes a number from 0 to 9", "build"},
        {"build src -o x.exe --fast", "unknown option '--fast'", "build"},
        {"build src --output", "--output needs a value", "build"},
        {"list --json=yes x.exe", "--json takes no value", "list"},
        {"verify", "which update? UPDATE.exe is missing", "verify"},
        {"extract a.exe", "UPDATE.exe and DEST_DIR are both needed", "extract"},
        {"lint a b", "one settings file at a time", "lint"},
        {"rct encode a.png b.rct --variant=XX00", "unknown variant 'XX00'", "rct"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.code, kExitUsage) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find("mkupdate " + c.command + ": " + c.message), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Try 'mkupdate " + c.command + " --help'."), std::string::npos) << run.output;
        EXPECT_EQ(Lines(run.output), 2u) << "not the whole help:\n" << run.output;
    }
}

TEST(MkupdateConventions, BuildAndListAgreeOnTheTotalsInWords)
{
    Built built;
    ASSERT_EQ(built.build.code, kExitOk) << built.build.output;
    // One file of 5000 bytes, the settings file and the title picture; one folder.
    const std::string totals = "3 files, 1 folder, " +
                               std::to_string(5000 + kSettings.size() + TitlePictureBytes().size()) +
                               " bytes packed into ";
    EXPECT_NE(built.build.output.find(totals), std::string::npos) << built.build.output;
    ToolRun list = RunTool("list " + Q(built.update));
    ASSERT_EQ(list.code, kExitOk);
    const std::string buildOutput = WithoutCr(built.build.output), listOutput = WithoutCr(list.output);
    size_t inBuild = buildOutput.find(totals), inList = listOutput.find(totals);
    ASSERT_NE(inList, std::string::npos) << listOutput;
    std::string buildLine = buildOutput.substr(inBuild, buildOutput.find('\n', inBuild) - inBuild);
    std::string listLine = listOutput.substr(inList, listOutput.find(';', inList) - inList);
    EXPECT_EQ(listLine, buildLine.substr(buildLine.find(totals)));
    ToolRun verify = RunTool("verify " + Q(built.update));
    EXPECT_NE(verify.output.find("sound: 3 files, 1 folder,"), std::string::npos) << verify.output;
}

TEST(MkupdateConventions, QuietPrintsNothingButProblems)
{
    Built built;
    ASSERT_EQ(built.build.code, kExitOk);
    fs::path again = built.scratch.Path() / "again.exe";
    ToolRun build = RunTool("build -q " + Q(built.source) + " -o " + Q(again) + " --stub " + Q(built.stub));
    EXPECT_EQ(build.code, kExitOk);
    EXPECT_EQ(build.output, "");
    ToolRun verify = RunTool("verify --quiet " + Q(again));
    EXPECT_EQ(verify.code, kExitOk);
    EXPECT_EQ(verify.output, "");
    ToolRun extract = RunTool("extract -q " + Q(again) + " " + Q(built.scratch.Path() / "quiet"));
    EXPECT_EQ(extract.code, kExitOk);
    EXPECT_EQ(extract.output, "");
    ToolRun broken = RunTool("verify -q " + Q(built.stub));
    EXPECT_EQ(broken.code, kExitInput);
    EXPECT_NE(broken.output.find("no package"), std::string::npos);
}

TEST(MkupdateConventions, ExtractMakesItsFolderAndTakesDashO)
{
    Built built;
    ASSERT_EQ(built.build.code, kExitOk);
    fs::path nested = built.scratch.Path() / "new" / "deeper";
    ToolRun operand = RunTool("extract " + Q(built.update) + " " + Q(nested));
    EXPECT_EQ(operand.code, kExitOk) << operand.output;
    EXPECT_EQ(Read(nested / "data" / "game.dat"), std::string(5000, 'g'));
    fs::path viaOption = built.scratch.Path() / "option";
    ToolRun option = RunTool("extract -o " + Q(viaOption) + " " + Q(built.update));
    EXPECT_EQ(option.code, kExitOk) << option.output;
    EXPECT_TRUE(fs::exists(viaOption / "install.env"));
    EXPECT_NE(option.output.find("3 files, 1 folder extracted"), std::string::npos) << option.output;
}

TEST(MkupdateConventions, ListOfSomethingThatIsNoUpdatePrintsNothingOnStandardOutput)
{
    Built built;
    for (const char* options : {"", "--json "}) {
        ToolRun out = RunTool(std::string("list ") + options + Q(built.stub), false);
        EXPECT_EQ(out.code, kExitInput);
        EXPECT_EQ(out.output, "") << options;
    }
}

TEST(MkupdateConventions, JsonForListVerifyLintAndExplain)
{
    Built built;
    ASSERT_EQ(built.build.code, kExitOk);
    ToolRun list = RunTool("list --json " + Q(built.update), false);
    EXPECT_TRUE(std::regex_search(list.output, std::regex("\"time\": \"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z\"")))
        << list.output;
    EXPECT_NE(WithoutCr(list.output).find("\"files\": 3,\n  \"folders\": 1,"), std::string::npos) << list.output;

    ToolRun verify = RunTool("verify --json " + Q(built.update), false);
    EXPECT_EQ(verify.code, kExitOk);
    EXPECT_NE(verify.output.find("\"sound\": true, \"files\": 3, \"folders\": 1"), std::string::npos) << verify.output;
    ToolRun damaged = RunTool("verify --json " + Q(built.stub), false);
    EXPECT_EQ(damaged.code, kExitInput);
    EXPECT_NE(damaged.output.find("\"sound\": false, \"problem\": {\"offset\": 0"), std::string::npos) << damaged.output;

    // A folder stands for the install.env in it.
    Write(built.source / "install.env", "TITLEBER\tTest\r\n");
    WriteTitlePicture(built.source);
    ToolRun lint = RunTool("lint --json " + Q(built.source), false);
    EXPECT_EQ(lint.code, kExitOk);
    EXPECT_NE(lint.output.find("\"line\": 1, \"severity\": \"warning\", \"message\": \"key \\\"TITLEBER\\\" is not read"),
              std::string::npos)
        << lint.output;

    Write(built.source / "install.env", kSettings + "[delfiles_afterinst]\r\nC:\\x.dll\r\n-\r\n");

    WriteTitlePicture(built.source);
    ToolRun refused = RunTool("lint --json --explain " + Q(built.source), false);
    EXPECT_EQ(refused.code, kExitInput);
    EXPECT_NE(refused.output.find("\"severity\": \"error\""), std::string::npos) << refused.output;
    Write(built.source / "install.env", kSettings);
    WriteTitlePicture(built.source);
    ToolRun explain = RunTool("lint --json --explain " + Q(built.source), false);
    EXPECT_EQ(explain.code, kExitOk) << explain.output;
    EXPECT_NE(explain.output.find("\"productKey\": \"Software\\\\Maker\\\\Game\""), std::string::npos)
        << explain.output;
    EXPECT_NE(explain.output.find("\"removals\": [\"old.dll\"]"), std::string::npos) << explain.output;
}

// A file or pipe gets UTF-8 bytes as they are; only a Windows console is written in UTF-16.
TEST(MkupdateConventions, RedirectedOutputIsUtf8)
{
    Scratch scratch;
    fs::path path = scratch.Path() / "out.txt";
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(IsWindowsConsole(file));
    PrintTo(file, "%s %d\n", "\xE8\xA1\xA8", 7);  // 表
    std::fclose(file);
    EXPECT_EQ(Read(path), "\xE8\xA1\xA8 7\n");
}

// Japanese names in every argument reach the file system exactly, on Windows too (where the
// command line arrives as UTF-16), and no temporary file stays behind.
TEST(MkupdateConventions, JapaneseNamesInArgumentsWork)
{
    Scratch scratch;
    fs::path source = scratch.Path() / U8("\xE3\x82\xBD\xE3\x83\xBC\xE3\x82\xB9\xE8\xA1\xA8");  // ソース表
    Write(source / "install.env", kSettings);
    WriteTitlePicture(source);
    Write(source / U8("\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.dat"), "data");  // データ.dat
    fs::path stub = scratch.Path() / U8("\xE5\x85\x83.exe");  // 元.exe
    Write(stub, "MZ stub");
    fs::path output = scratch.Path() / U8("\xE6\x9B\xB4\xE6\x96\xB0.exe");  // 更新.exe
    ToolRun build = RunTool("build " + Q(source) + " -o " + Q(output) + " --stub " + Q(stub));
    ASSERT_EQ(build.code, kExitOk) << build.output;
    EXPECT_TRUE(fs::exists(output));
    for (const auto& item : fs::directory_iterator(scratch.Path()))
        EXPECT_NE(item.path().extension(), ".part") << item.path();

    ToolRun list = RunTool("list " + Q(output));
    EXPECT_EQ(list.code, kExitOk) << list.output;
    EXPECT_NE(list.output.find("\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.dat"), std::string::npos) << list.output;
    EXPECT_EQ(RunTool("verify " + Q(output)).code, kExitOk);
    EXPECT_EQ(RunTool("lint " + Q(source)).code, kExitOk);
    fs::path out = scratch.Path() / U8("\xE5\xB1\x95\xE9\x96\x8B");  // 展開
    ToolRun extract = RunTool("extract " + Q(output) + " -o " + Q(out));
    EXPECT_EQ(extract.code, kExitOk) << extract.output;
    EXPECT_EQ(Read(out / U8("\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.dat")), "data");

    // A failure on the way (an output folder that does not exist) leaves no temporary file.
    fs::path nowhere = scratch.Path() / U8("\xE7\x84\xA1") / U8("\xE6\x9B\xB4\xE6\x96\xB0.exe");  // 無/更新.exe
    EXPECT_EQ(RunTool("build " + Q(source) + " -o " + Q(nowhere) + " --stub " + Q(stub)).code, kExitInput);
    EXPECT_FALSE(fs::exists(scratch.Path() / U8("\xE7\x84\xA1")));
}

}  // namespace
