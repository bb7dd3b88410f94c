// The release puts mkupdate and updater.exe side by side: build then finds its stub there, with
// no --stub, wherever the two were unpacked and from whichever folder it is run.
#include <gtest/gtest.h>

#include <string>

#include "cli/commands.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

// A copy of the mkupdate program in its own folder, as a release unpacks it.
struct Unpacked {
    Scratch scratch;
    fs::path folder = scratch.Path() / "mkupdate-release";
    fs::path program = folder / MkupdateProgramFileName();
    fs::path source = scratch.Path() / "src";
    fs::path update = scratch.Path() / "update.exe";

    Unpacked()
    {
        fs::create_directories(folder);
        fs::copy_file(fs::u8path(MkupdateProgram()), program);
        Write(source / "install.env", "TITLEBAR\tTest\r\n");
        WriteTitlePicture(source);
        Write(source / "data.dat", "data");
    }

    static std::string MkupdateProgramFileName() { return fs::u8path(MkupdateProgram()).filename().u8string(); }

    ToolRun Build(const fs::path& runAs) const
    {
        return RunProgram(runAs.string(), "build -q " + Q(source) + " -o " + Q(update));
    }
};

TEST(MkupdateStubBeside, BuildTakesTheStubBesideTheProgram)
{
    // updater.exe is what the release carries; updater-stub.exe is taken only without it.
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> beside;
        const char* used;
    } cases[] = {
        {"updater.exe alone", {{"updater.exe", "MZ release stub"}}, "MZ release stub"},
        {"updater-stub.exe alone", {{"updater-stub.exe", "MZ other stub"}}, "MZ other stub"},
        {"both", {{"updater.exe", "MZ release stub"}, {"updater-stub.exe", "MZ other stub"}}, "MZ release stub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Unpacked unpacked;
        for (const auto& file : c.beside)
            Write(unpacked.folder / file.first, file.second);
        ToolRun build = unpacked.Build(unpacked.program);
        ASSERT_EQ(build.code, kExitOk) << build.output;
        std::string update = Read(unpacked.update);
        EXPECT_EQ(update.compare(0, std::string(c.used).size(), c.used), 0);
        EXPECT_EQ(RunTool("verify -q " + Q(unpacked.update)).code, kExitOk);
    }
}

TEST(MkupdateStubBeside, WithoutAStubBesideItSaysHowToNameOne)
{
    Unpacked unpacked;
    // A stub in the current folder or beside the source is not the program's: it is not taken.
    Write(unpacked.source / "updater.exe", "MZ planted");
    ToolRun build = unpacked.Build(unpacked.program);
    EXPECT_EQ(build.code, kExitInput);
    EXPECT_NE(build.output.find("--stub"), std::string::npos) << build.output;
    EXPECT_FALSE(fs::exists(unpacked.update));
}

#ifndef _WIN32
// A link to the program (~/bin/mkupdate pointing into the unpacked release) still finds the stub
// beside the program itself.
TEST(MkupdateStubBeside, ALinkToTheProgramFindsTheStubBesideTheProgram)
{
    Unpacked unpacked;
    Write(unpacked.folder / "updater.exe", "MZ release stub");
    fs::path bin = unpacked.scratch.Path() / "bin";
    fs::create_directories(bin);
    fs::create_symlink(unpacked.program, bin / "mkupdate");
    ToolRun build = unpacked.Build(bin / "mkupdate");
    ASSERT_EQ(build.code, kExitOk) << build.output;
    EXPECT_EQ(Read(unpacked.update).compare(0, 15, "MZ release stub"), 0);
}
#endif

}  // namespace
