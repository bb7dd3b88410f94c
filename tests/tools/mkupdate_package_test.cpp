// mkupdate build, list, verify and extract, on real folders: a round trip through all four,
// reproducible output, the refusals with their messages, and damage that verify must find.
#include <gtest/gtest.h>

#include "mkupdate_program.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "host/host_files.h"
#include "package/package_walk.h"
#include "package/package_writer.h"
#include "pseudo_random.h"
#include "sample_text.h"
#include "cli/text_util.h"
#include "tool_kit.h"
#include "text/buffer_sizes.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const int kUnit = BLOCK_SIZE;  // the extraction's block: the unit of both progress bars

using kit::kOmote;
using kit::kOmoteUtf8;
using kit::kSo;
using kit::kSoUtf8;

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    kit::RandomSequence sequence(seed);
    for (char& c : bytes) {
        uint32_t value = sequence.Next();
        c = (char)(value % 7 == 0 ? 'a' : value);
    }
    return bytes;
}

const std::string kSettings = "TITLEBAR\tTest|1.0\r\nREG_GLOBAL\tMaker\r\nREG_LOCAL\tGame\r\nKEYFILE\tgame.exe\r\n";

// A source tree with nested folders, Japanese names, an empty file and an empty folder.
struct SourceFile {
    fs::path relative;
    std::string contents;
};
std::vector<SourceFile> MakeTree(const fs::path& root)
{
    std::vector<SourceFile> files = {
        {U8("install.env"), kSettings},
        {U8("insttscr.rct"), TitlePictureBytes()},
        {U8("readme.txt"), "readme"},
        {U8("empty.dat"), ""},
        {U8("data/big.dat"), Pattern(kUnit * 5 / 2, 1)},
        {U8("data/one.dat"), Pattern(kUnit, 2)},
        {fs::path(U8("data")) / U8(kOmoteUtf8) / U8((std::string(kSoUtf8) + ".dat").c_str()), "so"},
        {fs::path(U8("data")) / U8(kOmoteUtf8) / U8("notes.txt"), "notes"},
    };
    for (const SourceFile& file : files)
        Write(root / file.relative, file.contents);
    fs::create_directories(root / "data" / "empty");
    return files;
}

int Build(const fs::path& source, const fs::path& output, const fs::path& stub, int jobs)
{
    return RunBuild({source.string(), "-o", output.string(), "--stub", stub.string(), "--jobs", std::to_string(jobs)});
}

std::vector<std::string> EntryNames(const fs::path& update)
{
    std::string bytes = Read(update);
    MemoryStream memory{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    std::vector<std::string> names;
    PackageWalk walk;
    walk.begin = [&](const WalkedEntry& e) {
        names.push_back(e.entry.name);
        return (int)WALK_SKIP;
    };
    PackageProblem problem;
    EXPECT_TRUE(WalkPackage(&stream, walk, nullptr, &problem)) << problem.text;
    return names;
}

TEST(MkupdateBuild, RoundTripThroughVerifyAndExtract)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    std::vector<SourceFile> files = MakeTree(source);
    Write(scratch.Path() / "stub.exe", "MZ stub bytes");
    fs::path update = scratch.Path() / "update.exe";
    ASSERT_EQ(Build(source, update, scratch.Path() / "stub.exe", 2), kExitOk);

    EXPECT_EQ(Read(update).substr(0, 13), "MZ stub bytes");
    std::vector<std::string> expectedOrder = {
        "install.env",
        "insttscr.rct",
        "empty.dat",
        "readme.txt",
        "data\\",
        "data\\empty\\",
        "data\\" + kOmote + "\\",
        "data\\big.dat",
        "data\\one.dat",
        "data\\" + kOmote + "\\notes.txt",
        "data\\" + kOmote + "\\" + kSo + ".dat",
    };
    EXPECT_EQ(EntryNames(update), expectedOrder);
    EXPECT_EQ(RunVerify({update.string()}), kExitOk);

    fs::path out = scratch.Path() / "out";
    fs::create_directories(out);
    ASSERT_EQ(RunExtract({update.string(), out.string()}), kExitOk);
    for (const SourceFile& file : files) {
        EXPECT_EQ(Read(out / file.relative), file.contents) << file.relative;
        uint64_t sourceTime = 0, extractedTime = 0;
        ASSERT_TRUE(ReadHostFileTime(source / file.relative, sourceTime));
        ASSERT_TRUE(ReadHostFileTime(out / file.relative, extractedTime));
        EXPECT_EQ(extractedTime, sourceTime) << file.relative;
    }
    EXPECT_TRUE(fs::is_directory(out / "data" / "empty"));
    for (const auto& item : fs::recursive_directory_iterator(out))
        EXPECT_EQ(item.path().string().find(".mkupdate-part"), std::string::npos) << item.path();

    fs::path setup = scratch.Path() / "setup";
    fs::create_directories(setup);
    ASSERT_EQ(RunExtract({update.string(), setup.string(), "--setup-only"}), kExitOk);
    std::vector<std::string> setupFiles;
    for (const auto& item : fs::directory_iterator(setup))
        setupFiles.push_back(item.path().filename().string());
    std::sort(setupFiles.begin(), setupFiles.end());
    EXPECT_EQ(setupFiles, (std::vector<std::string>{"install.env", "insttscr.rct", "readme.txt"}));
}

TEST(MkupdateBuild, OutputIsTheSameForAnyNumberOfJobsAndEveryRun)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    MakeTree(source);
    for (int i = 0; i < 12; ++i)
        Write(source / "many" / ("f" + std::to_string(i) + ".dat"), Pattern(20000 + 997 * i, 10 + i));
    Write(scratch.Path() / "stub.exe", "MZ");
    fs::path one = scratch.Path() / "one.exe", two = scratch.Path() / "two.exe", again = scratch.Path() / "again.exe";
    ASSERT_EQ(Build(source, one, scratch.Path() / "stub.exe", 1), kExitOk);
    ASSERT_EQ(Build(source, two, scratch.Path() / "stub.exe", 2), kExitOk);
    ASSERT_EQ(Build(source, again, scratch.Path() / "stub.exe", 7), kExitOk);
    std::string first = Read(one);
    EXPECT_EQ(first, Read(two));
    EXPECT_EQ(first, Read(again));
}

TEST(MkupdateBuild, RefusesWhatTheUpdaterCouldNotUse)
{
    struct Case {
        const char* label;
        std::vector<std::pair<fs::path, std::string>> files;
        std::string expected;  // part of the message
        bool titlePicture = true;  // a sound insttscr.rct is added
    };
    // Components stay below the host's own limit of 255 bytes; the whole name does not fit.
    fs::path longName = fs::path(std::string(130, 'm')) / std::string(129, 'n');
    const std::vector<Case> cases = {
        {"no settings file", {{U8("a.dat"), "a"}}, "install.env: missing"},
        {"setup file in a folder without a nested folder",
         {{U8("install.env"), kSettings}, {U8("doc/readme.txt"), "r"}},
         "doc\\readme.txt: its name contains install.env, insttscr.rct or .txt"},
        {"name too long", {{U8("install.env"), kSettings}, {longName, "x"}}, "fits under no install folder"},
        {"name without a code page 932 form",
         {{U8("install.env"), kSettings}, {U8("\xF0\x9F\x98\x80.dat"), "x"}},
         "has no code page 932 (Shift-JIS) form"},
        // The updater's own record of an update in progress, and the form of its working names.
        {"the updater's record's name", {{U8("install.env"), kSettings}, {U8("~UPDATER.journal"), "x"}},
         "a name the updater keeps for itself"},
        {"a working name of the updater's", {{U8("install.env"), kSettings}, {U8("data/~upd0a1F.tmp"), "x"}},
         "a name the updater keeps for itself"},
        // Without a title picture the updater shows a notice in place of its window.
        {"no title picture", {{U8("install.env"), kSettings}, {U8("a.dat"), "a"}}, "no title picture", false},
        {"a title picture mkupdate cannot convert",
         {{U8("install.env"), kSettings}, {U8("insttscr.jpg"), "\xFF\xD8\xFF\xE0"}},
         "insttscr.jpg: mkupdate turns only PNG and BMP pictures into the title picture", false},
        {"a PNG title picture that is no PNG", {{U8("install.env"), kSettings}, {U8("INSTTSCR.PNG"), "GIF89a"}},
         "INSTTSCR.PNG: error: the title picture cannot be read", false},
        {"an RCT title picture that is no RCT", {{U8("install.env"), kSettings}, {U8("insttscr.rct"), "RCT?"}},
         "insttscr.rct: error: the title picture cannot be read", false},
    };
    for (const Case& c : cases) {
        Scratch scratch;
        for (const auto& file : c.files)
            Write(scratch.Path() / "src" / file.first, file.second);
        if (c.titlePicture)
            WriteTitlePicture(scratch.Path() / "src");
        Write(scratch.Path() / "stub.exe", "MZ");
        fs::path output = scratch.Path() / "out.exe";
        ToolRun run = RunTool("build " + Q(scratch.Path() / "src") + " -o " + Q(output) + " --stub " +
                              Q(scratch.Path() / "stub.exe"));
        EXPECT_EQ(run.code, kExitInput) << c.label << "\n" << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.label << "\n" << run.output;
        EXPECT_FALSE(fs::exists(output)) << c.label;
        EXPECT_FALSE(fs::exists(scratch.Path() / "out.exe.part")) << c.label;
    }
}

TEST(MkupdateBuild, UsageErrorsAndHelp)
{
    struct Case {
        std::string arguments;
        int code;
        std::string expected;
    } cases[] = {
        {"build", kExitUsage, "SRC_DIR is missing"},
        {"build src", kExitUsage, "-o OUT.exe is missing"},
        {"build src -o x.exe --level 12", kExitUsage, "--level takes a number from 0 to 9"},
        {"build src -o x.exe --jobs 0", kExitUsage, "--jobs takes a number"},
        {"build src -o x.exe --fast", kExitUsage, "unknown option '--fast'"},
        {"build --help", kExitOk, "usage: mkupdate build SRC_DIR"},
        {"list", kExitUsage, "UPDATE.exe is missing"},
        {"list --help", kExitOk, "usage: mkupdate list"},
        {"verify a b", kExitUsage, "one update at a time"},
        {"verify --help", kExitOk, "usage: mkupdate verify"},
        {"extract a.exe", kExitUsage, "UPDATE.exe and DEST_DIR are both needed"},
        {"extract --help", kExitOk, "usage: mkupdate extract"},
        {"verify no-such-update.exe", kExitInput, "cannot open the file"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.code, c.code) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.arguments << "\n" << run.output;
    }
}

// Where the output cannot be written, the message says why: a folder that is not there, or a
// .part file left from an interrupted build.
TEST(MkupdateBuild, SaysWhyTheOutputCannotBeWritten)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    MakeTree(source);
    Write(scratch.Path() / "stub.exe", "MZ");
    const std::string stub = " --stub " + Q(scratch.Path() / "stub.exe");
    fs::path missing = scratch.Path() / "no-such-folder";
    ToolRun run = RunTool("build " + Q(source) + " -o " + Q(missing / "update.exe") + stub);
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("the folder " + PathForDisplay(missing) + " does not exist; make it first (mkdir "),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("interrupted"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(missing));

    Write(scratch.Path() / "update.exe.part", "left");
    run = RunTool("build " + Q(source) + " -o " + Q(scratch.Path() / "update.exe") + stub);
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("update.exe.part: it exists (left from an interrupted build? remove it first)"),
              std::string::npos)
        << run.output;
}

TEST(MkupdateVerify, FindsDamageTheUpdaterWouldMeet)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    MakeTree(source);
    Write(scratch.Path() / "stub.exe", std::string(1000, 'S'));
    fs::path update = scratch.Path() / "update.exe";
    ASSERT_EQ(Build(source, update, scratch.Path() / "stub.exe", 2), kExitOk);
    const std::string sound = Read(update);

    struct Case {
        const char* label;
        std::string bytes;
        std::string expected;
    };
    std::string flipped = sound;
    flipped[sound.size() / 2] ^= 0x20;  // inside the data of data\big.dat
    std::string cut = sound.substr(0, sound.size() - 4 - 40) + sound.substr(sound.size() - 4);
    std::vector<unsigned char> unsafe(1000, 'S');
    PackageWriter writer([&](const unsigned char* d, size_t n) { unsafe.insert(unsafe.end(), d, d + n); }, 1000);
    writer.AddFile("..\\evil.dll", 1, 0, DeflateZlib("x"));
    writer.Finish();
    // Sound packages whose update cannot work.
    auto package = [](const std::vector<std::pair<std::string, std::string>>& files) {
        std::vector<unsigned char> bytes(1000, 'S');
        PackageWriter writer([&](const unsigned char* d, size_t n) { bytes.insert(bytes.end(), d, d + n); }, 1000);
        for (const auto& [name, data] : files)
            writer.AddFile(name.c_str(), (int32_t)data.size(), 0, DeflateZlib(data));
        writer.Finish();
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string settings = "TITLEBAR\tT\r\n";
    const std::vector<Case> cases = {
        {"no title picture", package({{"install.env", settings}}), "insttscr.rct: no title picture"},
        {"a title picture that is no RCT picture", package({{"install.env", settings}, {"insttscr.rct", "RCT?"}}),
         "insttscr.rct: the title picture is no RCT picture the updater can show"},
        {"a version range no installed version passes",
         package({{"install.env", settings + "CHKREG\tV\r\nCHKREGVER\t5\r\nCHKREGVERHIGH\t4\r\n"},
                  {"insttscr.rct", TitlePictureBytes()}}),
         "install.env: CHKREGVER 5 is above CHKREGVERHIGH 4"},
        {"the updater's record's name",
         package({{"install.env", settings}, {"insttscr.rct", TitlePictureBytes()}, {"~updater.journal", "x"}}),
         "a name the updater keeps for itself"},
        {"a flipped bit", flipped, "offset "},
        {"a cut-off end", cut, "offset "},
        {"a name that climbs out", std::string(unsafe.begin(), unsafe.end()), "leaves the destination folder"},
        {"no trailer", "MZ", "no package"},
    };
    for (const Case& c : cases) {
        fs::path damaged = scratch.Path() / "damaged.exe";
        Write(damaged, c.bytes);
        ToolRun run = RunTool("verify " + Q(damaged));
        EXPECT_EQ(run.code, kExitInput) << c.label << "\n" << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.label << "\n" << run.output;
    }
    ToolRun run = RunTool("verify " + Q(update));
    EXPECT_EQ(run.code, kExitOk) << run.output;
}

TEST(MkupdateList, ShowsEveryEntryAsUtf8AndAsJson)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    MakeTree(source);
    Write(scratch.Path() / "stub.exe", "MZ");
    fs::path update = scratch.Path() / "update.exe";
    ASSERT_EQ(Build(source, update, scratch.Path() / "stub.exe", 1), kExitOk);
    ToolRun table = RunTool("list " + Q(update));
    EXPECT_EQ(table.code, kExitOk);
    // The names come out as UTF-8 whatever the host.
    EXPECT_NE(table.output.find(std::string("data\\") + kOmoteUtf8 + "\\" + kSoUtf8 + ".dat"), std::string::npos)
        << table.output;
    EXPECT_NE(table.output.find("327680"), std::string::npos) << table.output;  // big.dat's size
    ToolRun json = RunTool("list --json " + Q(update));
    EXPECT_EQ(json.code, kExitOk);
    EXPECT_NE(json.output.find("{\"kind\": \"folder\", \"name\": \"data\\\\empty\\\\\"}"), std::string::npos)
        << json.output;
    EXPECT_NE(json.output.find("\"name\": \"empty.dat\", \"size\": 0,"), std::string::npos) << json.output;
}

}  // namespace
