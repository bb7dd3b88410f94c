// The data-file opener against Wine's real files: the retry notice, its Retry and Cancel, and
// the silent existence test.
#include <gtest/gtest.h>

#include <stdio.h>

#include <future>
#include <string>

#include "child.h"
#include "driver.h"
#include "base/data_file.h"
#include "scratch.h"

namespace {

std::string ReadAll(FILE* file)
{
    std::string text;
    char buffer[256];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, count);
    return text;
}

TEST_CHILD(OpenMissingImage)
{
    OpenDataFile("insttscr.rct", "rb");
    return 0;  // only reached when the notice let the call return
}

TEST(OpenDataFile, ExistingFileOpensWithoutNotice)
{
    ScratchFolder folder("df");
    WriteFileBytes(folder / "install.env", "TITLEBAR\tGame\r\nINSTTO\tX\r\n");
    FILE* file = OpenDataFile((folder / "install.env").c_str(), "rt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "TITLEBAR\tGame\nINSTTO\tX\n");  // text mode
    fclose(file);
    EXPECT_EQ(driver::FindWindowOf(0, driver::kDialogClass, nullptr), nullptr);
}

TEST(OpenDataFile, RetryAfterTheFileIsPutBack)
{
    ScratchFolder folder("df");
    const std::string path = folder / "insttscr.rct";
    // The notice is raised on this thread; a second thread answers it once the file is back.
    auto answer = std::async(std::launch::async, [&] {
        HWND box = driver::WaitForWindow(0, driver::kDialogClass, nullptr);
        driver::Box seen = driver::ReadBox(box);
        WriteFileBytes(path, std::string("RCT\0\x01", 5));
        driver::Press(box, IDRETRY);
        driver::WaitForWindowGone(box);
        return seen;
    });
    FILE* file = OpenDataFile(path.c_str(), "rb");
    driver::Box seen = answer.get();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), std::string("RCT\0\x01", 5));
    fclose(file);
    EXPECT_EQ(seen.text, "Ffopen : ファイル[" + path + "]の読み込みで失敗しました");
    EXPECT_EQ(driver::ReadClipboard(), seen.text);
}

TEST(OpenDataFile, RetryWithTheFileStillMissingAsksAgain)
{
    ScratchFolder folder("df");
    const std::string path = folder / "install.env";
    auto answer = std::async(std::launch::async, [&] {
        driver::AnswerBox(0, IDRETRY);  // still missing: a second notice follows
        HWND box = driver::WaitForWindow(0, driver::kDialogClass, nullptr);
        WriteFileBytes(path, "x");
        driver::Press(box, IDRETRY);
        driver::WaitForWindowGone(box);
    });
    FILE* file = OpenDataFile(path.c_str(), "rt");
    answer.get();
    ASSERT_NE(file, nullptr);
    fclose(file);
}

TEST(OpenDataFile, CancelEndsTheProcessWithMinusOne)
{
    ScratchFolder folder("df");
    driver::Process child = StartChild("OpenMissingImage", {}, folder.Path());
    driver::Box seen = driver::AnswerBox(child.Id(), IDCANCEL);
    EXPECT_EQ(seen.text, "Ffopen : ファイル[insttscr.rct]の読み込みで失敗しました");
    EXPECT_EQ(seen.caption, "");  // no owner window yet
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
}

TEST(DataFileExists, AnswersWithoutNotice)
{
    ScratchFolder folder("df");
    const std::string file = folder / "game.exe";
    EXPECT_FALSE(DataFileExists(file.c_str()));
    WriteFileBytes(file, "MZ");
    EXPECT_TRUE(DataFileExists(file.c_str()));  // nothing is cached between calls
    EXPECT_FALSE(DataFileExists(folder.Path().c_str()));
    CreateDirectoryA((folder / "sub").c_str(), nullptr);
    EXPECT_FALSE(DataFileExists((folder / "sub").c_str()));
    EXPECT_FALSE(DataFileExists((folder / "nothing.here").c_str()));
    EXPECT_EQ(driver::FindWindowOf(0, driver::kDialogClass, nullptr), nullptr);
}

TEST(DataFileExists, FileHeldOpenWithoutReadSharingIsNotThere)
{
    ScratchFolder folder("df");
    const std::string file = folder / "game.exe";
    WriteFileBytes(file, "MZ");
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DataFileExists(file.c_str()));
    CloseHandle(held);
    EXPECT_TRUE(DataFileExists(file.c_str()));
}

TEST(DataFileExists, FullPathIgnoresTheCurrentFolder)
{
    ScratchFolder folder("df");
    ScratchFolder elsewhere("de");
    WriteFileBytes(folder / "key.dat", "k");
    std::string saved = CurrentFolder();
    SetCurrentDirectoryA(elsewhere.Path().c_str());
    EXPECT_TRUE(DataFileExists((folder / "key.dat").c_str()));
    EXPECT_FALSE(DataFileExists("key.dat"));
    SetCurrentDirectoryA(folder.Path().c_str());
    EXPECT_TRUE(DataFileExists("key.dat"));
    SetCurrentDirectoryA(saved.c_str());
}

}  // namespace
