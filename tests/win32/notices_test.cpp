// The notices as the player meets them, driven from outside: each notice is raised in a child
// process and read and answered through the driver.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

#include <string>

#include "child.h"
#include "import_hook.h"
#include "scratch.h"
#include "base/notices.h"

using driver::AnswerBox;
using driver::Box;

namespace {

const char kOwnerTitle[] = "オーナーの窓";

HWND MakeOwnerWindow()
{
    HWND window = CreateWindowExA(0, "STATIC", kOwnerTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetOwnerWindow(window);
    return window;
}

bool ControlsAre(HWND box, std::initializer_list<int> ids)
{
    for (int id : ids)
        if (GetDlgItem(box, id) == nullptr || !IsWindowVisible(GetDlgItem(box, id)))
            return false;
    return true;
}

// Records on a file that the exit handlers ran, in the folder given as the last argument.
std::string exitMarker;
void WriteExitMarker()
{
    WriteFileBytes(exitMarker, "exit handlers ran");
}

// Message box flags as the code passed them, recorded next to the exit marker's folder.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
MessageBoxFunction realMessageBox;
std::string flagsFile;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT flags)
{
    char line[64];
    snprintf(line, sizeof line, "%#x", flags);
    WriteFileBytes(flagsFile, line);
    return realMessageBox(owner, text, caption, flags);
}

void RecordMessageBoxFlags(const std::string& file)
{
    flagsFile = file;
    realMessageBox = reinterpret_cast<MessageBoxFunction>(
        HookImport("user32.dll", "MessageBoxA", reinterpret_cast<void*>(RecordingMessageBox)));
}

// What OpenDocument handed to the shell, recorded instead of opening anything.
std::string shellFile;

BOOL WINAPI RecordingShellExecuteEx(SHELLEXECUTEINFOA* info)
{
    char line[1024];
    snprintf(line, sizeof line, "mask=%lu owner=%d verb=%s file=%s parameters=%s folder=%s show=%d",
             (unsigned long)info->fMask, info->hwnd == GetOwnerWindow() && info->hwnd != nullptr,
             info->lpVerb ? info->lpVerb : "(none)", info->lpFile ? info->lpFile : "(none)",
             info->lpParameters ? info->lpParameters : "(none)", info->lpDirectory ? info->lpDirectory : "(none)",
             info->nShow);
    WriteFileBytes(shellFile, line);
    return TRUE;
}

}  // namespace

TEST_CHILD(OpenReadme)
{
    shellFile = args.at(0);
    HookImport("shell32.dll", "ShellExecuteExA", reinterpret_cast<void*>(RecordingShellExecuteEx));
    MakeOwnerWindow();
    OpenDocument("お読みください.txt");
    return 0;
}

TEST_CHILD(Flags)
{
    RecordMessageBoxFlags(args.at(1));
    if (args.at(0) == "error")
        ShowError("e");
    else if (args.at(0) == "retry")
        ShowRetryError("r");
    else if (args.at(0) == "question")
        AskYesNo("q");
    else
        CheckedAlloc((size_t)-1);
    return 0;
}

TEST_CHILD(ErrorAtStartup)
{
    ShowError("失敗しました [%s] %d", args.at(0).c_str(), 42);
    return 3;
}

TEST_CHILD(ErrorWithOwner)
{
    MakeOwnerWindow();
    ShowError("所有者つき");
    return 4;
}

TEST_CHILD(Question)
{
    return AskYesNo("[%s]をアップデートします", "C:\\Games") ? 10 : 20;
}

TEST_CHILD(Retry)
{
    exitMarker = args.at(0);
    atexit(WriteExitMarker);
    ShowRetryError("Ffopen : ファイル[%s]の読み込みで失敗しました", "insttscr.rct");
    return 7;  // Retry returns to the caller
}

TEST_CHILD(LongText)
{
    ShowError("%s", args.at(0).c_str());
    return 0;
}

TEST_CHILD(Pump)
{
    exitMarker = args.at(0);
    atexit(WriteExitMarker);
    PumpMessages();  // an empty queue returns at once
    PostQuitMessage(5);
    PumpMessages();
    return 99;
}

TEST_CHILD(OutOfMemory)
{
    void* block = CheckedAlloc((size_t)-1);
    // Never reached: the process ends after the message.
    return block == nullptr ? 30 : 31;
}

TEST(Notices, ErrorAtStartHasNoCaptionIsTopmostAndLandsOnTheClipboard)
{
    driver::ClearClipboard();
    driver::Process child = StartChild("ErrorAtStartup", {"install.env"});
    Box box = AnswerBox(child.Id(), IDOK);
    EXPECT_EQ(box.text, "失敗しました [install.env] 42");
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(child.WaitForExit(), 3u);
    EXPECT_EQ(driver::ReadClipboard(), "失敗しました [install.env] 42");
}

TEST(Notices, EachKindPassesItsExactFlags)
{
    ScratchFolder scratch;
    struct {
        const char* kind;
        int button;
        const char* flags;
    } cases[] = {
        {"error", IDOK, "0x40010"},       // MB_OK | MB_ICONERROR | MB_TOPMOST
        {"retry", IDRETRY, "0x40015"},    // MB_RETRYCANCEL | MB_ICONERROR | MB_TOPMOST
        {"question", IDNO, "0x24"},       // MB_YESNO | MB_ICONQUESTION
        {"memory", IDOK, "0x10"},         // the out-of-memory box: MB_OK | MB_ICONERROR
    };
    for (const auto& c : cases) {
        std::string file = scratch / (std::string(c.kind) + ".flags");
        driver::Process child = StartChild("Flags", {c.kind, file});
        AnswerBox(child.Id(), c.button);
        child.WaitForExit();
        EXPECT_EQ(ReadFileBytes(file), c.flags) << c.kind;
    }
}

TEST(OpenDocument, AsksTheShellToOpenTheFileOverTheOwnerWindow)
{
    ScratchFolder scratch;
    std::string record = scratch / "shell.txt";
    driver::Process child = StartChild("OpenReadme", {record});
    EXPECT_EQ(child.WaitForExit(), 0u);
    EXPECT_EQ(ReadFileBytes(record), "mask=0 owner=1 verb=open file=お読みください.txt parameters=(none) folder=(none) show=" +
                                         std::to_string(SW_SHOWNORMAL));
}

TEST(Notices, OwnerWindowGivesTheCaptionAndOwnsTheBox)
{
    driver::Process child = StartChild("ErrorWithOwner");
    HWND box = driver::WaitForWindow(child.Id(), driver::kDialogClass, kOwnerTitle);
    HWND owner = driver::WaitForWindow(child.Id(), "Static", kOwnerTitle);
    EXPECT_TRUE(ControlsAre(box, {IDOK}));
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    Box seen = AnswerBox(child.Id(), IDOK);
    EXPECT_EQ(seen.text, "所有者つき");
    EXPECT_EQ(seen.owner, owner);
    EXPECT_EQ(child.WaitForExit(), 4u);
}

TEST(Notices, QuestionAnswersAndLeavesTheClipboardAlone)
{
    for (int button : {IDYES, IDNO}) {
        driver::ClearClipboard();
        driver::Process child = StartChild("Question");
        HWND box = driver::WaitForWindow(child.Id(), driver::kDialogClass, "");
        EXPECT_TRUE(ControlsAre(box, {IDYES, IDNO}));
        Box seen = AnswerBox(child.Id(), button);
        EXPECT_EQ(seen.text, "[C:\\Games]をアップデートします");
        EXPECT_EQ(child.WaitForExit(), button == IDYES ? 10u : 20u);
        EXPECT_EQ(driver::ReadClipboard(), "");
    }
}

TEST(Notices, RetryReturnsAndCancelEndsWithMinusOneThroughTheExitHandlers)
{
    ScratchFolder scratch;
    {
        driver::Process child = StartChild("Retry", {scratch / "retry.txt"});
        HWND box = driver::WaitForWindow(child.Id(), driver::kDialogClass, "");
        EXPECT_TRUE(ControlsAre(box, {IDRETRY, IDCANCEL}));
        Box seen = AnswerBox(child.Id(), IDRETRY);
        EXPECT_EQ(seen.text, "Ffopen : ファイル[insttscr.rct]の読み込みで失敗しました");
        EXPECT_EQ(child.WaitForExit(), 7u);
    }
    {
        driver::Process child = StartChild("Retry", {scratch / "cancel.txt"});
        AnswerBox(child.Id(), IDCANCEL);
        EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
        EXPECT_TRUE(FileExists(scratch / "cancel.txt")) << "Cancel must end through the normal exit path";
    }
}

TEST(Notices, TextIsCutTo1023Bytes)
{
    std::string exact(1023, 'a');
    driver::Process child = StartChild("LongText", {exact});
    EXPECT_EQ(AnswerBox(child.Id(), IDOK).text, exact);
    child.WaitForExit();

    driver::Process longer = StartChild("LongText", {exact + "bcdef"});
    EXPECT_EQ(AnswerBox(longer.Id(), IDOK).text, exact);
    longer.WaitForExit();
}

TEST(PumpMessages, EmptyQueueReturnsAndQuitEndsWithItsCode)
{
    ScratchFolder scratch;
    driver::Process child = StartChild("Pump", {scratch / "pump.txt"});
    EXPECT_EQ(child.WaitForExit(), 5u);
    EXPECT_TRUE(FileExists(scratch / "pump.txt"));
}

TEST(CheckedAlloc, FailureTellsTheUserAndStops)
{
    driver::ClearClipboard();
    driver::Process child = StartChild("OutOfMemory");
    Box box = AnswerBox(child.Id(), IDOK);
    EXPECT_EQ(box.text, "メモリ容量が不足しています。処理を中断します。");
    EXPECT_EQ(box.caption, "malloc");
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(driver::ReadClipboard(), "") << "this box is no notice: no clipboard copy";
}

TEST(CheckedAlloc, GivesTheAskedSizeAndThirtyTwoMore)
{
    unsigned char* block = static_cast<unsigned char*>(CheckedAlloc(100));
    ASSERT_NE(block, nullptr);
    memset(block, 0xAB, 132);  // the slack is usable (ASan-free build: checked by the heap below)
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
    free(block);
}

TEST(CenterWindow, CentresAndTruncatesTowardZero)
{
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES);
    int height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    struct {
        int w, h;
    } sizes[] = {{301, 200}, {width + 21, height + 77}, {width + 1, height + 1}};
    for (auto size : sizes) {
        HWND window = CreateWindowExA(0, "STATIC", "c", WS_POPUP, 0, 0, size.w, size.h, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        CenterWindow(window);
        RECT rectangle;
        GetWindowRect(window, &rectangle);
        EXPECT_EQ(rectangle.left, (width - size.w) / 2) << size.w;
        EXPECT_EQ(rectangle.top, (height - size.h) / 2) << size.h;
        EXPECT_EQ(rectangle.right - rectangle.left, size.w);
        DestroyWindow(window);
    }
}
