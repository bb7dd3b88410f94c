// Drives another process's windows (or this process's own, from a second thread) the way a
// player would: wait for a window, read its texts, press its buttons, read the clipboard and
// the exit code. Every wait has a timeout; a failure throws DriverError saying what was waited
// for and what was there instead, which GoogleTest reports as the test's failure.
//
// Timeouts are written as a quick machine needs them and stretched by the machine's pace
// (WaitFactor), so a slow test bed (an emulated virtual machine, a loaded CI machine) makes a
// test slower, never failing: only a hang runs out of time.
#ifndef UPDATER_TESTS_SUPPORT_DRIVER_H
#define UPDATER_TESTS_SUPPORT_DRIVER_H

#include <windows.h>

#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

namespace driver {

struct DriverError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A wait's time on a quick machine; every wait stretches it by WaitFactor().
constexpr int kDefaultTimeoutMs = 20000;
constexpr const char* kDialogClass = "#32770";  // dialogs and message boxes
constexpr int kMessageBoxTextId = 0xFFFF;

// How many times slower than a quick machine this one runs Windows programs: the environment
// variable UPDATER_WAIT_FACTOR (a number of at least 1; scripts/lib/win32-guest measures the
// virtual machine's pace and sets it), 1 when it is unset. A malformed value fails every wait
// (DriverError) rather than leaving quick waits on a slow machine.
double WaitFactor();
// `milliseconds` on a quick machine, on this one.
int Scaled(int milliseconds);
// "20 s" or, on a slower machine, "100 s (20 s at this machine's pace, factor 5)": for failure
// texts.
std::string DescribeWait(int milliseconds);
// Waits until `done` holds, polling; throws DriverError naming `what` after the (scaled) timeout.
void WaitUntil(const std::string& what, const std::function<bool()>& done, int timeoutMs = kDefaultTimeoutMs);
// Sleeps `milliseconds` stretched by the machine's pace: for a moment the other process needs to
// react (a check that something did not happen is only as strong as the time it was given).
void Pause(int milliseconds);

// A started program. The destructor kills it if it is still running.
class Process {
public:
    Process() = default;
    Process(HANDLE process, DWORD id) : process_(process), id_(id) {}
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    bool Running() const;
    // The exit code (-1 arrives as 0xFFFFFFFF); throws after the timeout.
    DWORD WaitForExit(int timeoutMs = kDefaultTimeoutMs);
    void Kill();

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Starts `commandLine` (program path first) in `folder` (empty: this process's current folder).
Process Start(const std::string& commandLine, const std::string& folder = "");

// Quotes a path for a command line.
std::string Quote(const std::string& text);

// Waits for a visible top-level window of the process (0: this process) whose class and
// caption equal the given ones (nullptr: any).
HWND WaitForWindow(DWORD processId, const char* className, const char* caption, int timeoutMs = kDefaultTimeoutMs);
// Same, returning nullptr instead of throwing when none appears in time.
HWND FindWindowOf(DWORD processId, const char* className, const char* caption);
void WaitForWindowGone(HWND window, int timeoutMs = kDefaultTimeoutMs);

struct TopWindow {
    HWND window;
    std::string className;
    std::string caption;
};
std::vector<TopWindow> VisibleWindows(DWORD processId);

struct Control {
    int id;
    std::string className;
    std::string text;
    bool visible;
};
std::vector<Control> ListControls(HWND dialog);

std::string WindowText(HWND window);
std::string ClassName(HWND window);
std::string ControlText(HWND dialog, int id);
// A message box's text (its static control 0xFFFF).
std::string MessageBoxText(HWND box);

// Clicks a button as the dialog manager would (WM_COMMAND, BN_CLICKED).
void Press(HWND dialog, int id);
// Asks a window to close (WM_CLOSE), like the close box.
void Close(HWND window);

// CF_TEXT on the clipboard, empty when there is none.
std::string ReadClipboard();
void ClearClipboard();

// A notice as the player sees it.
struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    LONG style = 0;
    LONG exStyle = 0;
    HWND owner = nullptr;
};
Box ReadBox(HWND box);
// Waits for a message box of the process (a dialog with the static 0xFFFF).
HWND WaitForMessageBox(DWORD processId, int timeoutMs = kDefaultTimeoutMs);
// Waits for a message box of the process, reads it, presses `button`, waits until it is gone.
Box AnswerBox(DWORD processId, int button, int timeoutMs = kDefaultTimeoutMs);

// For notices raised by this process's own thread: answers the next box from another thread.
inline std::future<Box> AnswerBoxLater(int button, int timeoutMs = kDefaultTimeoutMs)
{
    return std::async(std::launch::async, [button, timeoutMs] { return AnswerBox(0, button, timeoutMs); });
}

}  // namespace driver

#endif
