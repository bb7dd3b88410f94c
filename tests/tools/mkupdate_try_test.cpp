// mkupdate try: the example update (1.05 to 1.10) run under Wine as a player runs it and the game
// folder compared with the new version; a deliberately wrong update (a file missing) reported as
// the difference it makes; the 64-bit run forced; usage. The Windows programs try starts are the
// Windows builds' own: the 32-bit updater and player of build/win32 (build/ci-win32 for the
// ci-native tests), the 64-bit ones of build/win64 (build/ci-win64). On Windows try must stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

const fs::path kExamples = fs::path(TEST_SOURCE_DIR) / ".." / "examples";

TEST(MkupdateTry, UsageErrors)
{
    struct Case {
        std::string arguments;
        int code;
        const char* says;
    } cases[] = {
        {"try", kExitUsage, "UPDATE.exe is missing"},
        {"try u.exe", kExitUsage, "--game OLD_DIR is missing"},
        {"try u.exe --game . --windows win16", kExitUsage, "--windows takes auto, win32 or win64"},
        {"try u.exe --game . --version 1.10", kExitUsage, "--version takes a whole number"},
        {"help try", kExitOk, "answers each window as a player does"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.code, c.code) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << "\n" << run.output;
    }
}

#ifdef _WIN32

// A test install would write this machine's own registry: try says so and stops.
TEST(MkupdateTry, StopsOnWindows)
{
    ToolRun run = RunTool("try u.exe --game .");
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("On Windows a test install would write this machine's own registry"), std::string::npos)
        << run.output;
}

#else

// Without Wine, try says how to get it (the loaders named where none lies).
TEST(MkupdateTry, SaysHowToGetWine)
{
    Scratch scratch;
    setenv("MKUPDATE_TRY_WINE", (scratch.Path() / "no-wine").c_str(), 1);
    setenv("MKUPDATE_TRY_WINE64", (scratch.Path() / "no-wine64").c_str(), 1);
    Write(scratch.Path() / "stub.exe", "MZ");
    fs::path update = scratch.Path() / "u.exe";
    Write(update, RawUpdate("MZ", {{"install.env", false, "TITLEBAR\tT\r\n"}}, true));
    ToolRun run = RunTool("try " + Q(update) + " --game " + Q(scratch.Path()));
    unsetenv("MKUPDATE_TRY_WINE");
    unsetenv("MKUPDATE_TRY_WINE64");
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("Wine is not installed: try runs the update under Wine. Install it"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("sudo apt install wine wine32:i386"), std::string::npos) << run.output;
}

// The Windows build folder beside this test's build: build/native gives build/win32 or
// build/win64, build/ci-native build/ci-win32 or build/ci-win64.
fs::path WindowsBuild(const char* bits)
{
    fs::path build = fs::path(MKUPDATE_PATH).parent_path().parent_path().parent_path();
    std::string name = build.filename().string();
    size_t at = name.find("native");
    if (at != std::string::npos)
        name.replace(at, 6, bits);
    return build.parent_path() / name;
}

struct WindowsPrograms {
    fs::path stub, player;
    bool Present() const { return fs::exists(stub) && fs::exists(player); }
    std::string Options(bool is64) const
    {
        return is64 ? " --player64 " + Q(player) + " --stub64 " + Q(stub) : " --player " + Q(player);
    }
};

WindowsPrograms Programs(const char* bits)
{
    fs::path build = WindowsBuild(bits);
    return {build / "src" / "updater.exe", build / "tools" / "demorun" / "demorun.exe"};
}

bool HaveWine()
{
    return std::system("command -v wine >/dev/null 2>&1 || test -x /usr/lib/wine/wine64") == 0;
}

// The example's update from 1.05 to 1.10 as the guide builds it, on `stub`; `drop` names a file of
// the new version left out of the update folder (the deliberate mistake).
fs::path BuildExample(const Scratch& scratch, const fs::path& stub, const std::string& drop = "")
{
    fs::path source = scratch.Path() / "demo";
    fs::copy(kExamples / "demo", source, fs::copy_options::recursive);
    if (!drop.empty())
        fs::remove(source / U8(drop.c_str()));
    fs::path update = scratch.Path() / "demo-1.10-update.exe";
    ToolRun build = RunTool("build -q " + Q(source) + " -o " + Q(update) + " --stub " + Q(stub) + " --base " +
                            Q(kExamples / "demo-1.05") + " --remove-missing");
    EXPECT_EQ(build.code, kExitOk) << build.output;
    return update;
}

class TryUnderWine : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveWine())
            GTEST_SKIP() << "Wine is not installed";
        programs32_ = Programs("win32");
        programs64_ = Programs("win64");
        if (!programs32_.Present())
            GTEST_SKIP() << "the 32-bit updater and player are not built: " << programs32_.stub << ", "
                         << programs32_.player << " (cmake --build --preset win32)";
    }

    // Runs try on `update` against the example's two versions, pictures into `pictures`.
    ToolRun Try(const fs::path& update, const fs::path& pictures, const std::string& more = "")
    {
        std::string options = programs32_.Options(false);
        if (programs64_.Present())
            options += programs64_.Options(true);
        return RunTool("try " + Q(update) + " --game " + Q(kExamples / "demo-1.05") + " --expect " +
                       Q(kExamples / "demo") + " --pictures " + Q(pictures) + " --timeout 600" + options + more);
    }

    WindowsPrograms programs32_, programs64_;
};

// The example as the guide builds it: it runs through, the game folder is 1.10's, 1.05's old
// file is gone, and the second run is refused as applied already.
TEST_F(TryUnderWine, TheExampleUpdatePasses)
{
    Scratch scratch;
    fs::path update = BuildExample(scratch, programs32_.stub);
    fs::path pictures = scratch.Path() / "pictures";
    ToolRun run = Try(update, pictures);
    ASSERT_EQ(run.code, kExitOk) << run.output;
    for (const char* part :
         {"installed OLD_DIR as C:\\Games\\DemoGame, key Software\\ZoreduDemo\\DemoGame, Version 100",
          "asked: [C:\\Games\\DemoGame]\xE3\x82\x92\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\xE3\x83\x87\xE3\x83\xBC\xE3\x83\x88"
          "\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x99 -> yes",
          "the update ran to its end dialog", "Version after the update: 110",
          "the game folder against NEW_DIR: 6 files as in NEW_DIR; 1 of OLD_DIR's files NEW_DIR lacks removed, 0 files "
          "kept",
          "removed:  data\\\xE8\xA1\xA8\\\xE6\x97\xA7\xE8\x83\x8C\xE6\x99\xAF.dat",
          "run again: the updater says \xE6\x97\xA2\xE3\x81\xAB", "mkupdate try: passed"})
        EXPECT_NE(run.output.find(part), std::string::npos) << part << "\n" << run.output;
    // Where the machine runs 32-bit programs, the update as built; elsewhere the 64-bit run says so.
    EXPECT_TRUE(run.output.find("Windows run: 32-bit Wine, the update as built") != std::string::npos ||
                run.output.find("Windows run: 64-bit Wine, the same package") != std::string::npos)
        << run.output;
    for (const char* picture : {"main.png", "confirm.png", "end.png", "again-notice-1.png"})
        EXPECT_TRUE(fs::exists(pictures / picture)) << picture << "\n" << run.output;
    // Nothing of the prefix is left behind.
    std::string temp = run.output.substr(run.output.find("in a new Wine prefix in ") + 24);
    temp = temp.substr(0, temp.find('\n'));
    EXPECT_FALSE(fs::exists(temp)) << temp;
}

// An update whose folder lacked one of 1.10's files: --remove-missing took 1.05's away too, and
// try names it.
TEST_F(TryUnderWine, AWrongUpdateShowsTheDifference)
{
    Scratch scratch;
    fs::path update = BuildExample(scratch, programs32_.stub, "data/system.dat");
    ToolRun run = Try(update, scratch.Path() / "pictures");
    EXPECT_EQ(run.code, kExitInput) << run.output;
    EXPECT_NE(run.output.find("5 files as in NEW_DIR, 1 missing"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("missing:  data\\system.dat: NEW_DIR has it and so had OLD_DIR; the update removed it"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("mkupdate try: FAILED: 1 difference from NEW_DIR"), std::string::npos) << run.output;
}

// The way for machines that run no 32-bit program, forced: the same package on the 64-bit updater
// under 64-bit Wine.
TEST_F(TryUnderWine, TheForced64BitRunTakesTheSamePackage)
{
    if (!programs64_.Present())
        GTEST_SKIP() << "the 64-bit updater and player are not built: " << programs64_.stub << ", "
                     << programs64_.player << " (cmake --build --preset win64 --target updater demorun)";
    Scratch scratch;
    fs::path update = BuildExample(scratch, programs32_.stub);
    setenv("MKUPDATE_TRY_WINDOWS", "win64", 1);
    ToolRun run = Try(update, scratch.Path() / "pictures");
    unsetenv("MKUPDATE_TRY_WINDOWS");
    ASSERT_EQ(run.code, kExitOk) << run.output;
    EXPECT_NE(run.output.find("the 64-bit run, as asked"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Windows run: 64-bit Wine, the same package on the 64-bit build of the updater"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("mkupdate try: passed"), std::string::npos) << run.output;
    // The option says the same as the variable.
    ToolRun wrong = Try(BuildExample(Scratch(), programs32_.stub, "data/system.dat"), scratch.Path() / "p2",
                        " --windows win64");
    EXPECT_EQ(wrong.code, kExitInput) << wrong.output;
    EXPECT_NE(wrong.output.find("Windows run: 64-bit Wine"), std::string::npos) << wrong.output;
    EXPECT_NE(wrong.output.find("missing:  data\\system.dat"), std::string::npos) << wrong.output;
}

#endif

}  // namespace
