// A game maker's signed update: built by mkupdate, signed with Authenticode by a real signing
// tool (a throw-away certificate made here), then checked by mkupdate and run as the player would.
#include <gtest/gtest.h>

#include <string>

#include "e2e_fixture.h"
#include "package/byte_stream.h"
#include "scratch.h"

namespace {

// Runs a Windows program and returns its exit code.
DWORD RunProgram(const std::string& commandLine)
{
    driver::Process process = driver::Start(commandLine);
    return process.WaitForExit(120000);
}

std::string Unix(const std::string& relative)
{
    return std::string(E2E_WORK_DIR) + "/" + relative;
}

// Runs a Linux command line through sh. Wine starts Linux programs natively but hands back no
// process to wait for, so the shell leaves the exit code in a file that is waited for.
int RunLinux(const std::string& command)
{
    std::string rc = Unix("signed/rc");
    DeleteFileA(WinePath(rc).c_str());
    driver::Start("Z:\\bin\\sh -c \"" + command + " >/dev/null 2>&1; echo $? > " + rc + ".tmp; mv " + rc + ".tmp " + rc + "\"");
    driver::WaitUntil("the exit code of: " + command, [&] { return FileExists(WinePath(rc)); }, 120000);
    return std::stoi(ReadFileBytes(WinePath(rc)));
}

TEST(SignedUpdate, BuiltSignedVerifiedAndRun)
{
    RemoveTree(WinePath(E2E_WORK_DIR) + "\\signed");
    CreateDirectoryA(WinePath(E2E_WORK_DIR).c_str(), nullptr);
    std::string work = WinePath(E2E_WORK_DIR) + "\\signed";
    ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
    std::string source = work + "\\src";
    CreateDirectoryA(source.c_str(), nullptr);
    CreateDirectoryA((source + "\\data").c_str(), nullptr);
    WriteFileBytes(source + "\\install.env", SettingsFile({"TITLEBAR\tE2E署名", "[EOF]"}));
    WriteFileBytes(source + "\\insttscr.rct", MakeRctFile(64, 48, PatternPixels(64, 48)));
    WriteFileBytes(source + "\\readme.txt", "readme\r\n");
    WriteFileBytes(source + "\\data\\a.dat", std::string(5000, 'a'));

    std::string unsignedExe = work + "\\unsigned.exe";
    ASSERT_EQ(RunProgram(driver::Quote(WinePath(MKUPDATE_EXE)) + " build " + driver::Quote(source) + " -o " +
                  driver::Quote(unsignedExe) + " --stub " + driver::Quote(StubPath())),
              0u);
    std::string built = ReadFileBytes(unsignedExe);
    EXPECT_EQ(built.size() % 8, 0u) << "room for a certificate table without padding";

    ASSERT_EQ(RunLinux("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=UpdaterTest -keyout " +
                  Unix("signed/key.pem") + " -out " + Unix("signed/cert.pem")),
              0);
    ASSERT_EQ(RunLinux("osslsigncode sign -certs " + Unix("signed/cert.pem") + " -key " +
                  Unix("signed/key.pem") + " -n DemoUpdate -in " + Unix("signed/unsigned.exe") + " -out " +
                  Unix("signed/signed.exe")),
              0);
    std::string signedExe = work + "\\signed.exe";
    std::string signedBytes = ReadFileBytes(signedExe);
    ASSERT_GT(signedBytes.size(), built.size());
    EXPECT_EQ(signedBytes.compare(built.size() - 4, 4, built, built.size() - 4, 4), 0)
        << "the signature leaves the trailer in place before its table";
    EXPECT_NE(signedBytes.substr(signedBytes.size() - 4), built.substr(built.size() - 4))
        << "the last 4 bytes are no longer the trailer";

    EXPECT_EQ(RunProgram(driver::Quote(WinePath(MKUPDATE_EXE)) + " verify " + driver::Quote(signedExe)), 0u);

    ScratchFolder temp("tmp");
    PrivateTemp privateTemp(temp.Path());
    driver::Process updater = driver::Start(driver::Quote(signedExe), work);
    HWND window = WaitForMainWindow(updater.Id(), "E2E署名 アップデータ");
    driver::Press(window, 1000);
    EXPECT_EQ(updater.WaitForExit(), 0u);
    EXPECT_TRUE(privateTemp.WorkFolders().empty());
}

}  // namespace
