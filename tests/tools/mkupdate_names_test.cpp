// Names and paths in mkupdate: verify calls sound only what the updater would write under exactly
// that name; extract writes inside DEST_DIR and nowhere else; build refuses names Windows would
// confuse and never overwrites its own inputs; names reach the terminal with control bytes escaped.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "package/package_walk.h"
#include "package/package_writer.h"
#include "tool_kit.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const std::string kStub = "MZ stub";
const std::string kSettings = "TITLEBAR\tTest\r\nREG_GLOBAL\tMaker\r\nREG_LOCAL\tGame\r\nKEYFILE\tgame.exe\r\n";

// Every file below `folder` with its contents, leaving out what lies inside `except`, so a test
// can see that nothing else changed.
std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& folder, const fs::path& except)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        fs::path inside = item.path().lexically_relative(except);
        if (!inside.empty() && *inside.begin() != "..")
            continue;
        std::string contents = item.is_regular_file() && !item.is_symlink() ? Read(item.path()) : "<not a file>";
        files.emplace_back(item.path().lexically_relative(folder).string(), contents);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(MkupdateVerify, RefusesNamesTheUpdaterWouldNotWriteAndExtractWritesNothingOutside)
{
    struct Case {
        const char* label;
        std::vector<RawEntry> entries;
        std::string expected;  // part of verify's message
    };
    const std::string notCp932 = "not code page 932";
    const std::vector<Case> cases = {
        {"lone lead byte at the end", {{"evil\x81"}}, notCp932},
        {"lone lead byte inside a folder", {{"s\\", true}, {"s\\x\x81"}}, notCp932},
        {"0x80", {{"a\x80.dat"}}, notCp932},
        {"0xA0", {{"a\xA0.dat"}}, notCp932},
        {"0xFD", {{"a\xFD.dat"}}, notCp932},
        {"escape sequence", {{"a\x1b[2J.dat"}}, "control character"},
        {"carriage return", {{"a\rb.dat"}}, "control character"},
        {"star", {{"a*b.dat"}}, "not allowed in Windows file names"},
        {"question mark", {{"a?b.dat"}}, "not allowed in Windows file names"},
        {"angle brackets", {{"a<b>.dat"}}, "not allowed in Windows file names"},
        {"bar", {{"a|b.dat"}}, "not allowed in Windows file names"},
        {"quote", {{"a\"b.dat"}}, "not allowed in Windows file names"},
        {"slash inside a name", {{"a/b.dat"}}, "not allowed in Windows file names"},
        {"trailing dot", {{"game.dat."}}, "ending in a dot or a space"},
        {"trailing space", {{"game.dat "}}, "ending in a dot or a space"},
        {"device name", {{"CON"}}, "device name"},
        {"device name with an extension", {{"nul.txt"}}, "device name"},
        {"file ending in a backslash", {{"data\\"}}, "file name that does"},
        {"file named like an earlier folder", {{"data\\", true}, {"data"}}, "same name as an earlier entry"},
        {"duplicate", {{"a.dat"}, {"a.dat"}}, "same name as an earlier entry"},
        {"duplicate once case is ignored", {{"README.TXT"}, {"readme.txt"}}, "same name as an earlier entry"},
        // One character that code page 932 encodes twice or three times is one name on Windows.
        {"Roman numeral one, NEC and IBM", {{"\x87\x54.dat"}, {"\xFA\x4A.dat"}}, "same name as an earlier entry"},
        {"Roman numeral one and its lower case", {{"\x87\x54.dat"}, {"\xFA\x40.dat"}}, "same name as an earlier entry"},
        {"not sign, NEC-selected and IBM", {{"\xEE\xF9.dat"}, {"\xFA\x54.dat"}}, "same name as an earlier entry"},
        {"one kanji, NEC-selected and IBM", {{"k\\", true}, {"k\\\xED\x40"}, {"K\\\xFA\x5C"}},
         "same name as an earlier entry"},
        // 0x86 0x5C has the form of a double-byte character, but code page 932 assigns none there.
        {"unassigned character", {{"\x86\x5C.dat"}}, "does not assign"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scratch scratch;
        fs::path update = scratch.Path() / "update.exe";
        Write(update, RawUpdate(kStub, c.entries, false));
        ToolRun verify = RunTool("verify " + Q(update));
        EXPECT_EQ(verify.code, kExitInput) << verify.output;
        EXPECT_NE(verify.output.find(c.expected), std::string::npos) << verify.output;
        EXPECT_EQ(verify.output.find('\x1b'), std::string::npos) << "an escape byte reached the terminal";

        // What lies beside DEST_DIR, named as the old mapping would have named its temporary file.
        fs::path dest = scratch.Path() / "dest";
        fs::create_directories(dest);
        Write(scratch.Path() / "dest.mkupdate-part", "beside");
        const auto before = Snapshot(scratch.Path(), dest);
        ToolRun extract = RunTool("extract " + Q(update) + " " + Q(dest));
        EXPECT_EQ(extract.code, kExitInput) << extract.output;
        EXPECT_EQ(Snapshot(scratch.Path(), dest), before) << extract.output;
    }
}

TEST(MkupdateList, ShowsControlBytesInNamesEscaped)
{
    Scratch scratch;
    fs::path update = scratch.Path() / "update.exe";
    Write(update, RawUpdate(kStub, {{"red\x1b[31m.dat"}, {"cr\r.dat"}}, false));
    for (const char* options : {"", "--json "}) {
        ToolRun list = RunTool(std::string("list ") + options + Q(update));
        EXPECT_EQ(list.output.find('\x1b'), std::string::npos) << options << list.output;
        EXPECT_EQ(list.output.find("cr\r"), std::string::npos) << options << list.output;  // lines may end in CR LF
        EXPECT_NE(list.output.find(options[0] == '\0' ? "red\\x1B[31m.dat" : "red\\\\x1B[31m.dat"), std::string::npos)
            << options << list.output;
    }
}

// A tiny package whose stream inflates far past its declared size is stopped at the first byte
// too many: the reader hands on no more than originalSize bytes.
TEST(MkupdateExtract, StopsAStreamThatOutgrowsItsDeclaredSize)
{
    Scratch scratch;
    const std::string big(16u << 20, '\0');
    std::string file = kStub;
    PackageWriter writer([&](const unsigned char* d, size_t n) { file.append(reinterpret_cast<const char*>(d), n); },
                         (uint32_t)kStub.size());
    writer.AddFile("bomb.dat", 1, 0, DeflateZlib(big));
    writer.Finish();

    MemoryStream memory{reinterpret_cast<const unsigned char*>(file.data()), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    PackageWalk walk;
    walk.checkRules = true;
    size_t delivered = 0;
    walk.data = [&](const WalkedEntry&, const unsigned char*, size_t size) {
        delivered += size;
        return true;
    };
    PackageProblem problem;
    EXPECT_FALSE(WalkPackage(&stream, walk, nullptr, &problem));
    EXPECT_NE(problem.text.find("more than its originalSize of 1 bytes"), std::string::npos) << problem.text;
    EXPECT_LE(delivered, 1u);

    fs::path update = scratch.Path() / "bomb.exe";
    Write(update, file);
    fs::path dest = scratch.Path() / "dest";
    fs::create_directories(dest);
    ToolRun extract = RunTool("extract " + Q(update) + " " + Q(dest));
    EXPECT_EQ(extract.code, kExitInput) << extract.output;
    EXPECT_TRUE(fs::is_empty(dest)) << "neither the file nor its temporary file stays";
    EXPECT_EQ(RunTool("verify " + Q(update)).code, kExitInput);
}

// The updater stops at a read-only file; extract rehearses that.
TEST(MkupdateExtract, StopsAtAReadOnlyFileInTheWay)
{
    Scratch scratch;
    fs::path update = scratch.Path() / "update.exe";
    Write(update, RawUpdate(kStub, {{"a.dat"}, {"game.dat"}}, false));
    fs::path dest = scratch.Path() / "dest";
    Write(dest / "game.dat", "installed");
    fs::permissions(dest / "game.dat", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    ToolRun extract = RunTool("extract " + Q(update) + " " + Q(dest));
    EXPECT_EQ(extract.code, kExitInput) << extract.output;
    EXPECT_NE(extract.output.find("read-only"), std::string::npos) << extract.output;
    EXPECT_EQ(Read(dest / "game.dat"), "installed");
    fs::permissions(dest / "game.dat", fs::perms::owner_write, fs::perm_options::add);
}

TEST(MkupdateBuild, OutputMayNotReplaceOrJoinItsInputs)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    Write(source / "install.env", kSettings);
    WriteTitlePicture(source);
    Write(source / "game.exe", "game");
    fs::path stub = scratch.Path() / "stub.exe";
    Write(stub, kStub);
    struct Case {
        const char* label;
        fs::path output;
        std::string expected;
    } cases[] = {
        {"the settings file", source / "install.env", "lies inside SRC_DIR"},
        {"a new file inside the folder", source / "out.exe", "lies inside SRC_DIR"},
        {"inside the folder by another way", source / ".." / "src" / "sub" / "out.exe", "lies inside SRC_DIR"},
        {"the stub", stub, "is the stub itself"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool("build " + Q(source) + " -o " + Q(c.output) + " --stub " + Q(stub));
        EXPECT_EQ(run.code, kExitInput) << c.label << "\n" << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.label << "\n" << run.output;
    }
    EXPECT_EQ(Read(source / "install.env"), kSettings);
    EXPECT_EQ(Read(stub), kStub);
    EXPECT_FALSE(fs::exists(source / "out.exe"));
    ToolRun fine = RunTool("build " + Q(source) + " -o " + Q(scratch.Path() / "out.exe") + " --stub " + Q(stub));
    EXPECT_EQ(fine.code, kExitOk) << fine.output;
}

// Clutter and earlier updates stay out of the package by default, and the build says so; the
// ignore file and --exclude leave out more.
TEST(MkupdateBuild, LeavesOutClutterEarlierUpdatesAndWhatTheMakerExcludes)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    fs::path stub = scratch.Path() / "stub.exe";
    Write(stub, kStub);
    Write(source / "install.env", kSettings);
    WriteTitlePicture(source);
    Write(source / "game.dat", "game");
    Write(source / ".git" / "config", "[core]");
    Write(source / "Thumbs.db", "thumbs");
    Write(source / "data" / "desktop.ini", "[.ShellClassInfo]");
    Write(source / "data" / "level.dat", "level");
    Write(source / "art.psd", "psd");
    Write(source / "work" / "notes.doc", "notes");
    Write(source / "docs" / "todo.md", "todo");
    Write(source / "docs" / "manual.pdf", "manual");
    Write(source / ".mkupdateignore", "# sources of the art\r\n*.PSD\r\n\r\nwork/\r\n");
    // An update built from this very folder and left in it.
    fs::path first = scratch.Path() / "first.exe";
    ASSERT_EQ(RunTool("build " + Q(source) + " -o " + Q(first) + " --stub " + Q(stub)).code, kExitOk);
    fs::copy_file(first, source / "game-update-old.exe");

    fs::path output = scratch.Path() / "out.exe";
    ToolRun run = RunTool("build " + Q(source) + " -o " + Q(output) + " --stub " + Q(stub) + " --exclude " + Q("docs/*.md"));
    ASSERT_EQ(run.code, kExitOk) << run.output;
    for (const char* left : {"left out: .git/", "left out: Thumbs.db", "left out: data/desktop.ini",
                             "left out: art.psd", "left out: work/", "left out: docs/todo.md", "left out: .mkupdateignore",
                             "left out: game-update-old.exe (an update built earlier)"})
        EXPECT_NE(run.output.find(left), std::string::npos) << left << "\n" << run.output;
    fs::path out = scratch.Path() / "extracted";
    fs::create_directories(out);
    ASSERT_EQ(RunTool("extract " + Q(output) + " " + Q(out)).code, kExitOk);
    std::vector<std::string> shipped;
    for (const auto& item : fs::recursive_directory_iterator(out))
        if (item.is_regular_file())
            shipped.push_back(item.path().lexically_relative(out).generic_string());
    std::sort(shipped.begin(), shipped.end());
    EXPECT_EQ(shipped, (std::vector<std::string>{"data/level.dat", "docs/manual.pdf", "game.dat", "install.env", "insttscr.rct"}));

    fs::remove(output);
    ToolRun everything = RunTool("build " + Q(source) + " -o " + Q(output) + " --stub " + Q(stub) + " --no-default-excludes");
    ASSERT_EQ(everything.code, kExitOk) << everything.output;
    EXPECT_EQ(everything.output.find("left out"), std::string::npos) << everything.output;
}

// The example builds as the README says, with its PNG title picture, on Linux and on Windows, and
// ships only what belongs in a game folder.
TEST(MkupdateBuild, ExampleBuildsWithoutItsDrawingScript)
{
    Scratch scratch;
    Write(scratch.Path() / "stub.exe", kStub);
    fs::path output = scratch.Path() / "demo.exe";
    fs::path example = fs::path(TEST_SOURCE_DIR) / ".." / "examples" / "demo";
    ToolRun run = RunTool("build " + Q(example) + " -o " + Q(output) + " --stub " + Q(scratch.Path() / "stub.exe"));
    ASSERT_EQ(run.code, kExitOk) << run.output;
    EXPECT_NE(run.output.find("left out: make_title.sh"), std::string::npos) << run.output;
    ToolRun list = RunTool("list " + Q(output));
    EXPECT_EQ(list.output.find("make_title"), std::string::npos) << list.output;
    EXPECT_EQ(list.output.find("mkupdateignore"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("insttscr.rct"), std::string::npos) << list.output;
}

#ifndef _WIN32
// Every name without a code page 932 form is named in one run.
TEST(MkupdateBuild, ReportsEveryNameWithoutACodePage932Form)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    Write(source / "install.env", kSettings);
    WriteTitlePicture(source);
    Write(source / U8("a\xF0\x9F\x98\x80.dat"), "x");
    Write(source / U8("b\xC3\xA9t\xC3\xA9\xE2\x82\xAC.dat"), "x");
    Write(scratch.Path() / "stub.exe", kStub);
    ToolRun run = RunTool("build " + Q(source) + " -o " + Q(scratch.Path() / "out.exe") + " --stub " +
                          Q(scratch.Path() / "stub.exe"));
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("a\xF0\x9F\x98\x80.dat: the name has no code page 932"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(".dat: the name has no code page 932"), run.output.rfind(".dat: the name has no code page 932"))
        << run.output;
    EXPECT_NE(run.output.find("2 names cannot be carried"), std::string::npos) << run.output;
}

// These trees cannot exist in a Windows folder, which ignores case and refuses device names; a
// game maker on Linux can make them, and the update would then fail or misbehave on Windows.
TEST(MkupdateBuild, RefusesNamesWindowsWouldConfuse)
{
    struct Case {
        const char* label;
        std::vector<const char*> files;
        std::vector<std::string> expected;  // each must be in the message
    } cases[] = {
        {"a file and a folder that differ in case", {"data", "Data/f"}, {"data", "Data\\", "case is ignored"}},
        {"two files that differ in case", {"README.TXT", "readme.txt"}, {"README.TXT", "readme.txt", "case is ignored"}},
        {"Roman numerals that differ in case", {"\u2160.dat", "\u2170.dat"}, {"case is ignored"}},
        {"full-width letters that differ in case", {"\uFF21.dat", "\uFF41.dat"}, {"case is ignored"}},
        {"Cyrillic letters that differ in case", {"\u0416.dat", "\u0436.dat"}, {"case is ignored"}},
        {"a device name", {"CON"}, {"CON: the name has a Windows device name"}},
        {"a device name with an extension", {"sub/nul.txt"}, {"nul.txt: the name has a Windows device name"}},
        {"com1.dat", {"com1.dat"}, {"device name"}},
        {"a trailing dot", {"game.dat."}, {"ending in a dot"}},
        {"an escape sequence", {"a\x1b[2J.dat"}, {"control character", "a\\x1B[2J.dat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scratch scratch;
        fs::path source = scratch.Path() / "src";
        Write(source / "install.env", kSettings);
        WriteTitlePicture(source);
        for (const char* file : c.files)
            Write(source / file, "x");
        Write(scratch.Path() / "stub.exe", kStub);
        fs::path output = scratch.Path() / "out.exe";
        ToolRun run = RunTool("build " + Q(source) + " -o " + Q(output) + " --stub " + Q(scratch.Path() / "stub.exe"));
        EXPECT_EQ(run.code, kExitInput) << run.output;
        for (const std::string& part : c.expected)
            EXPECT_NE(run.output.find(part), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << "an escape byte reached the terminal";
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST(MkupdateBuild, RefusesALinkToAFolderAndFollowsLinksToFiles)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    Write(source / "install.env", kSettings);
    WriteTitlePicture(source);
    Write(scratch.Path() / "outside" / "real.dat", "real");
    fs::create_symlink(scratch.Path() / "outside" / "real.dat", source / "linked.dat");
    Write(scratch.Path() / "stub.exe", kStub);
    fs::path output = scratch.Path() / "out.exe";
    std::string build = "build " + Q(source) + " -o " + Q(output) + " --stub " + Q(scratch.Path() / "stub.exe");
    ToolRun files = RunTool(build);
    ASSERT_EQ(files.code, kExitOk) << files.output;
    fs::path out = scratch.Path() / "extracted";
    fs::create_directories(out);
    ASSERT_EQ(RunTool("extract " + Q(output) + " " + Q(out)).code, kExitOk);
    EXPECT_EQ(Read(out / "linked.dat"), "real");

    fs::remove(output);
    fs::create_directory_symlink(scratch.Path() / "outside", source / "linkedfolder");
    ToolRun folders = RunTool(build);
    EXPECT_EQ(folders.code, kExitInput) << folders.output;
    EXPECT_NE(folders.output.find("a symbolic link to a folder"), std::string::npos) << folders.output;
    EXPECT_FALSE(fs::exists(output));
}

TEST(MkupdateExtract, FollowsNoLinkInsideDest)
{
    Scratch scratch;
    fs::path dest = scratch.Path() / "dest";
    fs::path out = scratch.Path() / "out";
    fs::create_directories(dest);
    fs::create_directories(out);
    Write(scratch.Path() / "victim", "victim");

    fs::create_directory_symlink(out, dest / "sub");
    fs::path viaFolder = scratch.Path() / "folder.exe";
    Write(viaFolder, RawUpdate(kStub, {{"sub\\", true}, {"sub\\x"}}, false));
    ToolRun folder = RunTool("extract " + Q(viaFolder) + " " + Q(dest));
    EXPECT_EQ(folder.code, kExitInput) << folder.output;
    EXPECT_NE(folder.output.find("is a symbolic link"), std::string::npos) << folder.output;
    EXPECT_TRUE(fs::is_empty(out));

    // A planted temporary name: creating it exclusively refuses to write through the link, and
    // the file waits under the next free name instead.
    fs::create_symlink(scratch.Path() / "victim", dest / "~upd0000.tmp");
    fs::path viaPart = scratch.Path() / "part.exe";
    Write(viaPart, RawUpdate(kStub, {{"f.dat"}}, false));
    ToolRun part = RunTool("extract " + Q(viaPart) + " " + Q(dest));
    EXPECT_EQ(part.code, kExitOk) << part.output;
    EXPECT_EQ(Read(scratch.Path() / "victim"), "victim");
    EXPECT_EQ(Read(dest / "f.dat"), "new");
    EXPECT_TRUE(fs::is_symlink(dest / "~upd0000.tmp")) << "someone else's file is left alone";

    // A link in place of the file itself.
    fs::remove(dest / "f.dat");
    fs::remove(dest / "~upd0000.tmp");
    fs::create_symlink(scratch.Path() / "victim", dest / "f.dat");
    ToolRun file = RunTool("extract " + Q(viaPart) + " " + Q(dest));
    EXPECT_EQ(file.code, kExitInput) << file.output;
    EXPECT_EQ(Read(scratch.Path() / "victim"), "victim");
}

TEST(MkupdateBuild, NeverWritesThroughAnExistingPartFileAndRemovesItsOwnOnInterrupt)
{
    Scratch scratch;
    fs::path source = scratch.Path() / "src";
    Write(source / "install.env", kSettings);
    WriteTitlePicture(source);
    Write(scratch.Path() / "stub.exe", kStub);
    Write(scratch.Path() / "victim", "victim");
    fs::path output = scratch.Path() / "out.exe";
    fs::create_symlink(scratch.Path() / "victim", scratch.Path() / "out.exe.part");
    ToolRun planted = RunTool("build " + Q(source) + " -o " + Q(output) + " --stub " + Q(scratch.Path() / "stub.exe"));
    EXPECT_EQ(planted.code, kExitInput) << planted.output;
    EXPECT_EQ(Read(scratch.Path() / "victim"), "victim");
    EXPECT_TRUE(fs::is_symlink(scratch.Path() / "out.exe.part")) << "someone else's file is left alone";
    fs::remove(scratch.Path() / "out.exe.part");

    // Enough incompressible-looking data that the build is still running when it is interrupted.
    std::string noise(96u << 20, '\0');
    uint32_t x = 1;
    for (char& c : noise) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = (char)x;
    }
    Write(source / "big.dat", noise);
    std::string program = MkupdateProgram(), src = source.string(), out = output.string(),
                stub = (scratch.Path() / "stub.exe").string();
    std::vector<char*> argv = {program.data(), (char*)"build", src.data(), (char*)"-o", out.data(),
                               (char*)"--stub", stub.data(), (char*)"--jobs", (char*)"1", nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    fs::path partial = scratch.Path() / "out.exe.part";
    for (int i = 0; i < 2000 && !fs::exists(partial); ++i)
        usleep(5000);
    ASSERT_TRUE(fs::exists(partial)) << "the build never started writing";
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_FALSE(fs::exists(output));
}
#endif

}  // namespace
