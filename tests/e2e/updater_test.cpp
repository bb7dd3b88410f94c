// The real updater (the stub with a package appended) started and driven from outside, as a
// player would: its windows, notices, exit codes and what it leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "product_key_fixture.h"
#include "scratch.h"

using driver::AnswerBox;
using driver::Box;
using driver::Process;

namespace {

const char kExitCaption[] = "終了";
const char kUpdateCaption[] = "アップデート";
const int kFileNameLine = 1012;  // the progress window's line with the current file's path
const char kReadFailure[] = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。";

struct Update {
    std::string title;  // TITLEBAR
    std::vector<std::string> extraSettings;
    bool withSettings = true;
    bool withImage = true;
    int imageWidth = 250;  // not divisible by 4: the rows are spread to their stride
    int imageHeight = 230;
    std::vector<PackageFileEntry> files;
};

std::vector<PackageFileEntry> Entries(const Update& update)
{
    std::vector<PackageFileEntry> entries;
    if (update.withSettings) {
        std::vector<std::string> lines = {"// e2e", "TITLEBAR\t" + update.title};
        lines.insert(lines.end(), update.extraSettings.begin(), update.extraSettings.end());
        lines.push_back("[EOF]");
        entries.push_back({"install.env", SettingsFile(lines), 0x01D0000000000000ULL, false});
    }
    if (update.withImage)
        entries.push_back({"insttscr.rct",
                           MakeRctFile(update.imageWidth, update.imageHeight,
                                       PatternPixels(update.imageWidth, update.imageHeight)),
                           0x01D0000000000000ULL, false});
    entries.insert(entries.end(), update.files.begin(), update.files.end());
    return entries;
}

class UpdaterTest : public testing::Test {
protected:
    UpdaterTest() : temp_(tempFolder_.Path()) {}

    Process Start(const Update& update)
    {
        lastExe_ = folder_ / ("update" + std::to_string(++started_) + ".exe");
        WriteUpdate(lastExe_, Entries(update));
        return driver::Start(driver::Quote(lastExe_), folder_.Path());
    }

    std::string Title(const Update& update) const { return update.title + " アップデータ"; }

    ScratchFolder folder_{"e2e"};
    ScratchFolder tempFolder_{"tmp"};
    std::string lastExe_;
    int started_ = 0;
    PrivateTemp temp_;
};

TEST_F(UpdaterTest, StartsShowsItsButtonsAndLeavesNothingBehind)
{
    struct {
        std::vector<std::string> settings;
        std::vector<std::string> buttons;  // bottom up
    } cases[] = {
        {{}, {kExitCaption, kUpdateCaption}},
        {{"INSTREADME\t-readme"}, {kExitCaption, kUpdateCaption}},
        {{"INSTREADME\tお読み|ください"}, {kExitCaption, "お読み ください", kUpdateCaption}},
    };
    int round = 0;
    for (const auto& c : cases) {
        Update update;
        update.title = "E2E起動" + std::to_string(round++);
        update.extraSettings = c.settings;
        Process updater = Start(update);
        HWND window = WaitForMainWindow(updater.Id(), Title(update));
        std::vector<driver::Control> buttons = VisibleButtons(window);
        ASSERT_EQ(buttons.size(), c.buttons.size());
        for (size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i].id, 1000 + (int)i);
            EXPECT_EQ(buttons[i].text, c.buttons[i]);
        }
        EXPECT_EQ(GetDlgItem(window, 1008), nullptr) << "the corner button is always removed";
        EXPECT_EQ(temp_.WorkFolders().size(), 1u);

        driver::Press(window, 1000);
        EXPECT_EQ(updater.WaitForExit(), 0u);
        EXPECT_TRUE(temp_.WorkFolders().empty());
    }
}

TEST_F(UpdaterTest, SecondCopySaysItIsRunningAndLeavesTheFirstAlone)
{
    Update update;
    update.title = "E2E二重";
    Process first = Start(update);
    HWND window = WaitForMainWindow(first.Id(), Title(update));

    Process second = driver::Start(driver::Quote(lastExe_), folder_.Path());
    Box box = AnswerBox(second.Id(), IDOK);
    EXPECT_EQ(box.text, "[ E2E二重 アップデータ ] は既に起動中です");
    EXPECT_EQ(box.caption, "E2E二重");
    EXPECT_EQ(second.WaitForExit(), 0u);
    EXPECT_EQ(temp_.WorkFolders().size(), 1u) << "the second copy removes its own work folder";
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(IsWindowVisible(window));

    driver::Close(window);
    EXPECT_EQ(first.WaitForExit(), 0u);
}

TEST_F(UpdaterTest, StartFailuresEndWithMinusOne)
{
    {
        Update update;
        update.title = "E2E設定なし";
        update.withSettings = false;
        Process updater = Start(update);
        Box box = AnswerBox(updater.Id(), IDOK);
        EXPECT_EQ(box.text,
                  "起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。");
        EXPECT_EQ(box.caption, "");
        EXPECT_EQ(updater.WaitForExit(), 0xFFFFFFFFu);
        EXPECT_TRUE(temp_.WorkFolders().empty());
    }
    {
        Update update;
        update.title = "E2E未終了";
        update.extraSettings = {"[ini]", "a=b"};
        Process updater = Start(update);
        Box box = AnswerBox(updater.Id(), IDRETRY);
        EXPECT_EQ(box.text, "[設定.env]の[ini]が終了していません");
        EXPECT_EQ(updater.WaitForExit(), 0xFFFFFFFFu) << "whichever button";
    }
}

TEST_F(UpdaterTest, DamagedPackageShowsTheReadFailure)
{
    Update update;
    update.title = "E2E破損";
    std::string exe = folder_ / "broken.exe";
    WriteUpdate(exe, Entries(update));
    std::string bytes = ReadFileBytes(exe);
    // Break the settings file's compressed data: its Adler-32 no longer matches.
    std::string stub = ReadFileBytes(StubPath());
    bytes[stub.size() + 2 + 12 + 8 + 8 + 6] ^= 0x55;
    WriteFileBytes(exe, bytes);
    Process updater = driver::Start(driver::Quote(exe), folder_.Path());
    Box box = AnswerBox(updater.Id(), IDOK);
    EXPECT_EQ(box.text, kReadFailure);
    EXPECT_EQ(updater.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_TRUE(temp_.WorkFolders().empty());
}

TEST_F(UpdaterTest, MissingTitleImageOffersRetryAndCancelLeavesTheWorkFolder)
{
    Update update;
    update.title = "E2E画像なし";
    update.withImage = false;
    Process updater = Start(update);
    Box box = AnswerBox(updater.Id(), IDCANCEL);
    EXPECT_EQ(box.text, "Ffopen : ファイル[insttscr.rct]の読み込みで失敗しました");
    EXPECT_EQ(updater.WaitForExit(), 0xFFFFFFFFu);
    std::vector<std::string> left = temp_.WorkFolders();
    ASSERT_EQ(left.size(), 1u) << "Cancel on a retry notice leaves the work folder";
    EXPECT_TRUE(FileExists(left[0] + "\\install.env"));
    RemoveTree(left[0]);
}

TEST_F(UpdaterTest, TitleImageIsDrawnAtItsOriginPixelForPixel)
{
    Update update;
    update.title = "E2E画像";
    Process updater = Start(update);
    HWND window = WaitForMainWindow(updater.Id(), Title(update));
    driver::Pause(500);  // let it paint
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    int height = client.bottom - client.top;
    int x = (height - update.imageWidth) / 2;
    int y = (height - update.imageHeight) / 2;

    HDC screen = GetDC(nullptr);
    std::vector<unsigned char> expected = PatternPixels(update.imageWidth, update.imageHeight);
    int mismatches = 0;
    for (int row = 0; row < update.imageHeight; row += 7)
        for (int column = 0; column < update.imageWidth; column += 5) {
            COLORREF seen = GetPixel(screen, origin.x + x + column, origin.y + y + row);
            const unsigned char* p = &expected[((size_t)row * update.imageWidth + column) * 3];
            if (seen != RGB(p[2], p[1], p[0]) && ++mismatches < 5)
                ADD_FAILURE() << "pixel " << column << "," << row << " is " << std::hex << seen;
        }
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(mismatches, 0);
    driver::Close(window);
    EXPECT_EQ(updater.WaitForExit(), 0u);
}

class UpdateThroughTheWindow : public UpdaterTest {
protected:
    UpdateThroughTheWindow() : key_("UpdaterE2E", "Run" + std::to_string(GetCurrentProcessId())) {}

    Update MakeUpdate(const std::string& title)
    {
        Update update;
        update.title = title;
        update.extraSettings = {"REG_GLOBAL\t" + key_.Global(), "REG_LOCAL\t" + key_.Local(), "KEYFILE\tgame.exe",
                                "[delfiles_afterinst]", "install.env", "insttscr.rct", "-"};
        update.files = {{"data\\", "", 0, true},
                        {"data\\story.dat", std::string(300000, 's'), 0x01D2000000000000ULL, false},
                        {"notes.dat", "notes", 0x01D2000000000000ULL, false}};
        return update;
    }

    TestProductKey key_;
    ScratchFolder target_{"target"};
};

TEST_F(UpdateThroughTheWindow, CompleteUpdateCopiesEverythingAndEnds)
{
    WriteFileBytes(target_ / "game.exe", "game");
    key_.SetMachineText("IsInst", "1");
    key_.SetMachineText("InstTo", target_.Path());
    Update update = MakeUpdate("E2E更新");
    Process updater = Start(update);
    HWND window = WaitForMainWindow(updater.Id(), Title(update));

    driver::Press(window, 1001);
    Box question = AnswerBox(updater.Id(), IDYES);
    EXPECT_EQ(question.text, "[" + target_.Path() + "]をアップデートします");
    EXPECT_EQ(question.caption, Title(update));
    HWND end = driver::WaitForWindow(updater.Id(), driver::kDialogClass, "インストール終了");
    driver::Press(end, IDOK);
    EXPECT_EQ(updater.WaitForExit(), 0u);

    EXPECT_EQ(ReadFileBytes(target_ / "data\\story.dat"), std::string(300000, 's'));
    EXPECT_EQ(LastWriteTime(target_ / "data\\story.dat"), 0x01D2000000000000ULL);
    EXPECT_EQ(ReadFileBytes(target_ / "notes.dat"), "notes");
    EXPECT_FALSE(FileExists(target_ / "install.env"));
    EXPECT_FALSE(FileExists(target_ / "insttscr.rct"));
    EXPECT_TRUE(temp_.WorkFolders().empty());
}

TEST_F(UpdateThroughTheWindow, AbandonedUpdateKeepsTheWindowWhichIgnoresClicksMeanwhile)
{
    Update update = MakeUpdate("E2E中止");
    Process updater = Start(update);
    HWND window = WaitForMainWindow(updater.Id(), Title(update));

    driver::Press(window, 1001);
    driver::WaitForMessageBox(updater.Id());
    // While the update runs, the exit button and the close box do nothing.
    driver::Press(window, 1000);
    driver::Close(window);
    Box notInstalled = AnswerBox(updater.Id(), IDOK);
    EXPECT_EQ(notInstalled.text, "本体がインストールされていません");
    Box manual = AnswerBox(updater.Id(), IDNO);
    EXPECT_EQ(manual.text, "[ E2E中止 ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？");
    Box aborted = AnswerBox(updater.Id(), IDOK);
    EXPECT_EQ(aborted.text, "アップデートを中止しました");

    driver::Pause(300);
    EXPECT_TRUE(updater.Running());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(FileExists(target_ / "notes.dat"));

    driver::Close(window);
    EXPECT_EQ(updater.WaitForExit(), 0u);
    EXPECT_TRUE(temp_.WorkFolders().empty());
}

}  // namespace

namespace {

// A stub whose main window template cannot be found: the dialog cannot be created at all.
TEST_F(UpdaterTest, MainWindowThatCannotBeCreatedEndsWithANoticeNotALoop)
{
    // Rename the template in the resource directory (its name is stored as UTF-16).
    std::string image = ReadFileBytes(StubPath());
    const std::string name("M\0A\0I\0N\0D\0I\0A\0L\0O\0G\0", 20);
    size_t at = image.find(name);
    ASSERT_NE(at, std::string::npos);
    image[at + 18] = 'X';
    ASSERT_EQ(image.find(name), std::string::npos) << "one template of that name";

    Update settings;
    settings.title = "E2E窓なし";
    std::vector<unsigned char> file =
        BuildPackageFile(std::vector<unsigned char>(image.begin(), image.end()), Entries(settings));
    std::string exe = folder_ / "nowindow.exe";
    WriteFileBytes(exe, std::string(file.begin(), file.end()));

    Process updater = driver::Start(driver::Quote(exe), folder_.Path());
    Box box = AnswerBox(updater.Id(), IDOK);
    EXPECT_EQ(box.text, "メインウィンドウを作成できませんでした。処理を中断します。");
    EXPECT_EQ(updater.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_TRUE(temp_.WorkFolders().empty());
}

}  // namespace

namespace {

TEST_F(UpdaterTest, TitleThatCannotNameAMutexEndsSilentlyWithZero)
{
    Update update;
    update.title = "E2E\\mutex";  // a backslash is no character of a mutex name
    Process updater = Start(update);
    EXPECT_EQ(updater.WaitForExit(), 0u);
    EXPECT_TRUE(driver::VisibleWindows(updater.Id()).empty());
    EXPECT_TRUE(temp_.WorkFolders().empty());
}

TEST_F(UpdateThroughTheWindow, QuitMessageDuringTheCopyEndsWithItsCode)
{
    WriteFileBytes(target_ / "game.exe", "game");
    key_.SetMachineText("IsInst", "1");
    key_.SetMachineText("InstTo", target_.Path());
    Update update = MakeUpdate("E2E終了要求");
    // Enough incompressible data that the copy is still running when the quit message arrives.
    std::string noise(48 << 20, '\0');
    uint32_t state = 12345;
    for (char& c : noise) {
        state = state * 1664525u + 1013904223u;
        c = (char)(state >> 24);
    }
    update.files.push_back({"movie.dat", noise, 0x01D2000000000000ULL, false});
    Process updater = Start(update);
    HWND window = WaitForMainWindow(updater.Id(), Title(update));
    driver::Press(window, 1001);
    AnswerBox(updater.Id(), IDYES);
    HWND progress = driver::WaitForWindow(updater.Id(), driver::kDialogClass, "ファイルのコピー中...");
    // The name line takes each file's path at once, whenever it is painted.
    const std::string movie = target_ / "movie.dat";
    driver::WaitUntil("the progress window to name " + movie,
                      [&] { return driver::ControlText(progress, kFileNameLine) == movie; }, 4000);
    PostThreadMessageA(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 7, 0);
    EXPECT_EQ(updater.WaitForExit(), 7u);
    EXPECT_FALSE(FileExists(movie)) << "the new file being written when the quit came goes again";
    EXPECT_EQ(temp_.WorkFolders().size(), 1u) << "a quit message ends the process without removing the work folder";
    for (const std::string& folder : temp_.WorkFolders())
        RemoveTree(folder);
}

}  // namespace
