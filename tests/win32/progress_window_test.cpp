// The progress window under Wine: its bars read back from the real progress bar controls, the
// file name line, one window at a time, Cancel stopping only the animation, and the window as
// another process sees it.
#include "ui/progress_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "child.h"
#include "screen.h"
#include "driver.h"
#include "import_hook.h"
#include "base/notices.h"
#include "ui/resource_ids.h"
#include "text/buffer_sizes.h"

namespace {

const int kUnit = BLOCK_SIZE;  // the extraction's block: the unit of both progress bars
const char kCaption[] = "ファイルのコピー中...";

struct Range {
    int low;
    int high;
    bool operator==(const Range& other) const { return low == other.low && high == other.high; }
};

std::ostream& operator<<(std::ostream& out, const Range& range)
{
    return out << range.low << ".." << range.high;
}

// Asked without a structure, so that it also works across processes.
Range BarRange(HWND window, int id)
{
    HWND bar = GetDlgItem(window, id);
    return {static_cast<int>(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)),
            static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0))};
}

int BarPosition(HWND window, int id)
{
    return static_cast<int>(SendDlgItemMessageA(window, id, PBM_GETPOS, 0, 0));
}

int postedToOwner;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        ++postedToOwner;
    return DefWindowProcA(window, message, wParam, lParam);
}

// A visible top-level window standing in for the main window, recorded as the owner.
HWND MakeOwner()
{
    static ATOM atom = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = OwnerProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ProgressTestOwner";
        return RegisterClassA(&windowClass);
    }();
    HWND owner = CreateWindowA(MAKEINTATOM(atom), "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    SetOwnerWindow(owner);
    return owner;
}

class ProgressWindow : public testing::Test {
protected:
    void SetUp() override { owner_ = MakeOwner(); }
    void TearDown() override
    {
        CloseProgressWindow();
        DestroyWindow(owner_);
        SetOwnerWindow(nullptr);
    }
    // A window for a package of 64 units, with its bars and name line at hand.
    HWND OpenWithControls()
    {
        HWND window = OpenProgressWindow(64 * kUnit);
        fileBar_ = GetDlgItem(window, IDC_FILE_BAR);
        overallBar_ = GetDlgItem(window, IDC_OVERALL_BAR);
        nameLine_ = GetDlgItem(window, IDC_FILE_NAME);
        return window;
    }
    HWND owner_ = nullptr;
    HWND fileBar_ = nullptr;
    HWND overallBar_ = nullptr;
    HWND nameLine_ = nullptr;
};

TEST_F(ProgressWindow, OpensCentredOverItsOwnerWithEmptyNameAndFreshBars)
{
    HWND window = OpenProgressWindow(5 * kUnit);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetWindow(window, GW_OWNER), owner_);
    EXPECT_EQ(driver::WindowText(window), kCaption);
    EXPECT_EQ(driver::ControlText(window, IDC_FILE_NAME), "");
    EXPECT_EQ(BarRange(window, IDC_FILE_BAR), (Range{0, 1}));
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 0);
    EXPECT_EQ(BarRange(window, IDC_OVERALL_BAR), (Range{0, 5}));
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 0);

    RECT area;
    GetWindowRect(window, &area);
    HDC screen = GetDC(window);
    int screenWidth = GetDeviceCaps(screen, HORZRES), screenHeight = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(window, screen);
    EXPECT_EQ(area.left, (screenWidth - (area.right - area.left)) / 2);
    EXPECT_EQ(area.top, (screenHeight - (area.bottom - area.top)) / 2);
}

TEST_F(ProgressWindow, OverallRangeCountsWholeUnitsAndNeverFallsBelowOne)
{
    const struct {
        int packageSize;
        int upper;
    } cases[] = {
        {0, 1}, {100, 1}, {kUnit - 1, 1}, {kUnit, 1}, {2 * kUnit - 1, 1}, {2 * kUnit, 2},
        {10 * kUnit + 5, 10}, {-1, 1}, {0x7FFFFFFF, 16383},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.packageSize);
        HWND window = OpenProgressWindow(c.packageSize);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(BarRange(window, IDC_OVERALL_BAR), (Range{0, c.upper}));
        EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 0);
    }
}

TEST_F(ProgressWindow, PackageBelowOneUnitStaysAtZero)
{
    const int packageSize = 90000;
    HWND window = OpenProgressWindow(packageSize);
    ASSERT_NE(window, nullptr);
    BeginFileProgress(window, "C:\\Game\\install.env", 60000);
    EXPECT_EQ(BarRange(window, IDC_FILE_BAR), (Range{0, 0})) << "no lower limit for a file";
    ReportProgress(window, 60000, packageSize);
    EXPECT_EQ(BarRange(window, IDC_OVERALL_BAR), (Range{0, 1}));
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 0);
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 0);
}

TEST_F(ProgressWindow, FileOfTwoAndAHalfUnitsMovesBothBarsByWholeUnits)
{
    const int fileSize = 5 * kUnit / 2;
    const int before = 3 * kUnit + 100;  // bytes of the package passed before this file
    HWND window = OpenProgressWindow(8 * kUnit);
    ASSERT_NE(window, nullptr);
    // A Japanese path whose second byte of "ソ" is a backslash: the line shows it unchanged.
    const std::string path = "C:\\ゲーム\\データ\\ソフト01.dat";
    BeginFileProgress(window, path.c_str(), fileSize);
    EXPECT_EQ(driver::ControlText(window, IDC_FILE_NAME), path);
    EXPECT_EQ(BarRange(window, IDC_FILE_BAR), (Range{0, 2}));
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 0);

    // One report per full block and one for the tail; the consumed count grows with the input.
    const struct {
        int written;
        int consumed;
        int filePosition;
        int overallPosition;
    } steps[] = {
        {kUnit, before + 40000, 1, 3},
        {2 * kUnit, before + 200000, 2, 4},
        {fileSize, before + 300000, 2, 5},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.written);
        ReportProgress(window, step.written, step.consumed);
        EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), step.filePosition);
        EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), step.overallPosition);
        EXPECT_EQ(BarRange(window, IDC_FILE_BAR), (Range{0, 2}));
        EXPECT_EQ(BarRange(window, IDC_OVERALL_BAR), (Range{0, 8}));
    }

    // The next file starts its own bar from zero; the overall bar keeps its place.
    BeginFileProgress(window, "C:\\Game\\b.dat", 7 * kUnit);
    EXPECT_EQ(BarRange(window, IDC_FILE_BAR), (Range{0, 7}));
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 0);
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 5);
}

TEST_F(ProgressWindow, SecondOpenClosesTheFirstAndCloseForgetsTheWindow)
{
    HWND first = OpenProgressWindow(kUnit);
    ASSERT_NE(first, nullptr);
    HWND second = OpenProgressWindow(4 * kUnit);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(second));
    int shown = 0;
    for (const driver::TopWindow& top : driver::VisibleWindows(0))
        shown += top.caption == kCaption;
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(BarRange(second, IDC_OVERALL_BAR), (Range{0, 4}));

    CloseProgressWindow();
    EXPECT_FALSE(IsWindow(second));
    CloseProgressWindow();  // nothing left to close: does nothing
    EXPECT_TRUE(IsWindow(owner_));
}

TEST_F(ProgressWindow, ReportWithoutWindowStillDrainsTheQueue)
{
    postedToOwner = 0;
    PostMessageA(owner_, WM_APP, 0, 0);
    PostMessageA(owner_, WM_APP, 0, 0);
    ReportProgress(nullptr, kUnit, kUnit);
    EXPECT_EQ(postedToOwner, 2);
    CloseProgressWindow();  // none was opened
}

TEST(ProgressWindowWithoutOwner, LoadsItsTemplateFromThisModule)
{
    // Before the main window exists there is no owner; the dialog still comes from our module.
    SetOwnerWindow(nullptr);
    HWND window = OpenProgressWindow(kUnit);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    CloseProgressWindow();
    EXPECT_FALSE(IsWindow(window));
}

// The animation control's pixels as they stand on the screen.
std::vector<COLORREF> CaptureAnimation(HWND window)
{
    return CaptureClientPixels(GetDlgItem(window, IDC_ANIMATION));
}

// Samples the animation while the extraction would drain the queue; counts the changes seen.
int ChangesWhileReporting(HWND window, int samples, int* reportedBytes)
{
    int changes = 0;
    std::vector<COLORREF> last = CaptureAnimation(window);
    for (int i = 0; i < samples; ++i) {
        for (int j = 0; j < 25; ++j) {
            *reportedBytes += kUnit / 8;
            ReportProgress(window, *reportedBytes, *reportedBytes);
            Sleep(10);
        }
        std::vector<COLORREF> now = CaptureAnimation(window);
        changes += now != last;
        last = now;
    }
    return changes;
}

TEST_F(ProgressWindow, CancelStopsTheAnimationWhileTheBarsGoOn)
{
    HWND window = OpenProgressWindow(64 * kUnit);
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    BeginFileProgress(window, "C:\\Game\\big.dat", 64 * kUnit);
    int written = 0;
    EXPECT_GE(ChangesWhileReporting(window, 5, &written), 2) << "the clip plays";

    driver::Press(window, IDCANCEL);  // as the button's click arrives: through the queue
    ReportProgress(window, written, written);
    Sleep(200);  // a frame being drawn when the stop came
    ReportProgress(window, written, written);
    EXPECT_EQ(ChangesWhileReporting(window, 5, &written), 0) << "the clip stands still";
    EXPECT_TRUE(IsWindow(window)) << "Cancel does not close the window";
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), written / kUnit);
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), written / kUnit);
    EXPECT_GT(written / kUnit, 0);
}

// What a control shows once it has painted its present state from scratch.
std::vector<COLORREF> CaptureRepainted(HWND control)
{
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return CaptureClientPixels(control);
}

// Reports arrive far faster than the bars repaint; whatever a burst left unpainted is on the
// screen after the next report that comes once the repaint interval has passed.
TEST_F(ProgressWindow, ScreenCatchesUpWithABurstOfReports)
{
    HWND window = OpenWithControls();
    ASSERT_NE(window, nullptr);
    BeginFileProgress(window, "C:\\Game\\first.dat", 10 * kUnit);
    ReportProgress(window, 0, 0);
    Sleep(100);
    ReportProgress(window, 0, 0);
    const std::vector<COLORREF> emptyBar = CaptureClientPixels(fileBar_);

    BeginFileProgress(window, "C:\\Game\\second.dat", 10 * kUnit);
    for (int block = 1; block <= 7; ++block)
        ReportProgress(window, block * kUnit, block * 5 * kUnit);
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 7);
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 35);
    // A file longer than its stored size: the bar stops at its end, as the control would.
    ReportProgress(window, 12 * kUnit, 36 * kUnit);
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 10);
    ReportProgress(window, 7 * kUnit, 35 * kUnit);
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 7);
    Sleep(100);
    ReportProgress(window, 7 * kUnit, 35 * kUnit);

    const std::vector<COLORREF> shownFileBar = CaptureClientPixels(fileBar_);
    const std::vector<COLORREF> shownOverallBar = CaptureClientPixels(overallBar_);
    const std::vector<COLORREF> shownName = CaptureClientPixels(nameLine_);
    EXPECT_NE(shownFileBar, emptyBar);
    EXPECT_EQ(shownFileBar, CaptureRepainted(fileBar_));
    EXPECT_EQ(shownOverallBar, CaptureRepainted(overallBar_));
    EXPECT_EQ(shownName, CaptureRepainted(nameLine_));
}

// A control painted from what it answers (the position and text the window functions set,
// which may still wait to be painted): the bar is handed its position, the line its text.
std::vector<COLORREF> TrueImage(HWND control)
{
    if (GetDlgCtrlID(control) == IDC_FILE_NAME) {
        char text[MAX_PATH] = "";
        GetWindowTextA(control, text, sizeof text);
        SetWindowTextA(control, text);
    } else {
        SendMessageA(control, PBM_DELTAPOS, 0, 0);
    }
    return CaptureRepainted(control);
}

// What the screen showed of each control when the progress window was destroyed, against its
// true image: recorded by a DestroyWindow that looks first.
using DestroyWindowFunction = BOOL(WINAPI*)(HWND);
DestroyWindowFunction realDestroyWindow;
HWND watchedWindow;
std::vector<std::pair<std::vector<COLORREF>, std::vector<COLORREF>>> shownAtDestruction;

BOOL WINAPI LookingDestroyWindow(HWND window)
{
    if (window == watchedWindow) {
        for (int id : {IDC_FILE_NAME, IDC_FILE_BAR, IDC_OVERALL_BAR}) {
            HWND control = GetDlgItem(window, id);
            std::vector<COLORREF> shown = CaptureClientPixels(control);
            shownAtDestruction.push_back({shown, TrueImage(control)});
        }
    }
    return realDestroyWindow(window);
}

// A file's reports come faster than the repaint interval: its last positions wait. The end of
// the file shows them, and closing the window shows the last name and positions first.
TEST_F(ProgressWindow, EndOfAFileAndTheCloseShowTheTrueState)
{
    HWND window = OpenWithControls();
    ASSERT_NE(window, nullptr);
    Sleep(100);
    BeginFileProgress(window, "C:\\Game\\first.dat", 10 * kUnit);  // paints: the interval has passed
    ReportProgress(window, 3 * kUnit, 20 * kUnit);
    ReportProgress(window, 6 * kUnit, 30 * kUnit);
    EndFileProgress(window);
    for (HWND bar : {fileBar_, overallBar_}) {
        std::vector<COLORREF> shown = CaptureClientPixels(bar);
        EXPECT_EQ(shown, TrueImage(bar)) << (bar == fileBar_ ? "per-file bar" : "overall bar");
    }

    BeginFileProgress(window, "C:\\Game\\last-short.dat", 1000);
    ReportProgress(window, 1000, 33 * kUnit);
    EXPECT_EQ(driver::ControlText(window, IDC_FILE_NAME), "C:\\Game\\last-short.dat");
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 33);

    watchedWindow = window;
    shownAtDestruction.clear();
    realDestroyWindow = reinterpret_cast<DestroyWindowFunction>(
        HookImport("user32.dll", "DestroyWindow", reinterpret_cast<void*>(LookingDestroyWindow)));
    ASSERT_NE(realDestroyWindow, nullptr);
    CloseProgressWindow();
    HookImport("user32.dll", "DestroyWindow", reinterpret_cast<void*>(realDestroyWindow));
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(shownAtDestruction.size(), 3u);
    const char* const names[] = {"name line", "per-file bar", "overall bar"};
    for (size_t i = 0; i < shownAtDestruction.size(); ++i)
        EXPECT_EQ(shownAtDestruction[i].first, shownAtDestruction[i].second) << names[i];
}

// Shows a progress window in the middle of a file until told to stop by WM_QUIT's exit code
// or, after the given milliseconds, ends with 0.
TEST_CHILD(ShowProgress)
{
    int milliseconds = args.empty() ? 5000 : std::atoi(args[0].c_str());
    HWND window = OpenProgressWindow(40 * kUnit);
    if (window == nullptr)
        return 3;
    BeginFileProgress(window, "C:\\Program Files\\ZOREDU\\data\\イベント01.dat", 5 * kUnit / 2);
    ReportProgress(window, kUnit, 17 * kUnit);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(milliseconds)) {
        ReportProgress(window, kUnit, 17 * kUnit);
        Sleep(20);
    }
    CloseProgressWindow();
    return 0;
}

TEST(ProgressWindowFromOutside, HasNoCloseBoxAndIgnoresCloseRequests)
{
    // The child keeps its window long enough for the checks below at this machine's pace.
    driver::Process child = StartChild("ShowProgress", {std::to_string(driver::Scaled(4000))});
    HWND window = driver::WaitForWindow(child.Id(), driver::kDialogClass, kCaption);
    // The window shows itself as it is made; the first file follows a moment later.
    driver::WaitUntil("the progress window to show its first file's name",
                      [&] { return !driver::ControlText(window, IDC_FILE_NAME).empty(); }, 4000);
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_EQ(driver::ControlText(window, IDC_FILE_NAME), "C:\\Program Files\\ZOREDU\\data\\イベント01.dat");
    EXPECT_EQ(BarRange(window, IDC_FILE_BAR), (Range{0, 2}));
    EXPECT_EQ(BarPosition(window, IDC_FILE_BAR), 1);
    EXPECT_EQ(BarRange(window, IDC_OVERALL_BAR), (Range{0, 40}));
    EXPECT_EQ(BarPosition(window, IDC_OVERALL_BAR), 17);

    // Escape and the close request become Cancel in the dialog manager: the window stays.
    driver::Close(window);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    driver::Pause(500);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(child.WaitForExit(), 0u);
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
