#include "driver.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace driver {

namespace {

using Clock = std::chrono::steady_clock;

std::string Describe(const char* value)
{
    return value == nullptr ? std::string("any") : "\"" + std::string(value) + "\"";
}

std::string DescribeWindows(DWORD processId)
{
    std::ostringstream out;
    out << "[";
    bool first = true;
    for (const TopWindow& window : VisibleWindows(processId)) {
        out << (first ? "" : ", ") << "class \"" << window.className << "\" caption \"" << window.caption << "\"";
        first = false;
    }
    out << "]";
    return out.str();
}

// Polls `done` every 20 ms until it holds (true) or the scaled timeout has passed (false); it is
// asked once more at the end, so a slow last poll cannot turn a success into a timeout.
bool Poll(int timeoutMs, const std::function<bool()>& done)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
    while (Clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::string Seconds(double milliseconds)
{
    std::ostringstream out;
    out << std::round(milliseconds / 100.0) / 10.0 << " s";
    return out.str();
}

}  // namespace

double WaitFactor()
{
    static const double factor = [] {
        char text[64] = "";
        DWORD length = GetEnvironmentVariableA("UPDATER_WAIT_FACTOR", text, sizeof text);
        if (length == 0)
            return 1.0;
        char* end = nullptr;
        double value = length < sizeof text ? std::strtod(text, &end) : 0.0;
        if (end == text || end == nullptr || *end != '\0' || !(value >= 1.0) || value > 1000.0)
            return -1.0;
        return value;
    }();
    if (factor < 0)
        throw DriverError("UPDATER_WAIT_FACTOR must be a number from 1 to 1000 (how many times slower than a quick "
                          "machine this one is)");
    return factor;
}

int Scaled(int milliseconds)
{
    double scaled = milliseconds * WaitFactor();
    return scaled >= INT_MAX ? INT_MAX : (int)scaled;
}

std::string DescribeWait(int milliseconds)
{
    if (WaitFactor() == 1.0)
        return Seconds(milliseconds);
    std::ostringstream out;
    out << Seconds(Scaled(milliseconds)) << " (" << Seconds(milliseconds) << " at this machine's pace, factor "
        << WaitFactor() << ")";
    return out.str();
}

void WaitUntil(const std::string& what, const std::function<bool()>& done, int timeoutMs)
{
    if (!Poll(timeoutMs, done))
        throw DriverError("timed out after " + DescribeWait(timeoutMs) + " waiting for " + what);
}

void Pause(int milliseconds)
{
    Sleep((DWORD)Scaled(milliseconds));
}

Process::Process(Process&& other) noexcept : process_(other.process_), id_(other.id_)
{
    other.process_ = nullptr;
    other.id_ = 0;
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        Kill();
        process_ = other.process_;
        id_ = other.id_;
        other.process_ = nullptr;
        other.id_ = 0;
    }
    return *this;
}

Process::~Process()
{
    Kill();
}

bool Process::Running() const
{
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD Process::WaitForExit(int timeoutMs)
{
    if (process_ == nullptr)
        throw DriverError("WaitForExit: no process was started");
    if (WaitForSingleObject(process_, (DWORD)Scaled(timeoutMs)) != WAIT_OBJECT_0)
        throw DriverError("timed out after " + DescribeWait(timeoutMs) + " waiting for process " +
                          std::to_string(id_) + " to exit; its visible windows: " + DescribeWindows(id_));
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Process::Kill()
{
    if (process_ == nullptr)
        return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 0xDEAD);
        // Also called from the destructor, which must not throw for a malformed factor.
        int wait = 5000;
        try {
            wait = Scaled(wait);
        } catch (const DriverError&) {
        }
        WaitForSingleObject(process_, (DWORD)wait);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
}

Process Start(const std::string& commandLine, const std::string& folder)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        throw DriverError("could not start " + commandLine + " (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(info.hThread);
    return Process(info.hProcess, info.dwProcessId);
}

std::string WindowText(HWND window)
{
    char text[4096] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<TopWindow> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window))
        search->found.push_back({window, ClassName(window), WindowText(window)});
    return TRUE;
}

}  // namespace

std::vector<TopWindow> VisibleWindows(DWORD processId)
{
    WindowSearch search{processId == 0 ? GetCurrentProcessId() : processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindWindowOf(DWORD processId, const char* className, const char* caption)
{
    for (const TopWindow& window : VisibleWindows(processId)) {
        if ((className == nullptr || window.className == className) && (caption == nullptr || window.caption == caption))
            return window.window;
    }
    return nullptr;
}

HWND WaitForWindow(DWORD processId, const char* className, const char* caption, int timeoutMs)
{
    HWND window = nullptr;
    if (!Poll(timeoutMs, [&] { return (window = FindWindowOf(processId, className, caption)) != nullptr; }))
        throw DriverError("timed out after " + DescribeWait(timeoutMs) +
                          " waiting for a visible top-level window of process " +
                          std::to_string(processId == 0 ? GetCurrentProcessId() : processId) + " with class " +
                          Describe(className) + " and caption " + Describe(caption) +
                          "; visible windows: " + DescribeWindows(processId));
    return window;
}

void WaitForWindowGone(HWND window, int timeoutMs)
{
    if (!Poll(timeoutMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); }))
        throw DriverError("timed out after " + DescribeWait(timeoutMs) + " waiting for the window \"" +
                          WindowText(window) + "\" (class \"" + ClassName(window) + "\") to go away");
}

std::vector<Control> ListControls(HWND dialog)
{
    std::vector<Control> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        controls.push_back({GetDlgCtrlID(child), ClassName(child), WindowText(child), IsWindowVisible(child) != FALSE});
    return controls;
}

std::string ControlText(HWND dialog, int id)
{
    if (GetDlgItem(dialog, id) == nullptr)
        throw DriverError("the window \"" + WindowText(dialog) + "\" has no control " + std::to_string(id));
    char text[4096] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string MessageBoxText(HWND box)
{
    return ControlText(box, kMessageBoxTextId);
}

void Press(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void Close(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

namespace {

// Another program may hold the clipboard for a moment.
void OpenTheClipboard()
{
    WaitUntil("the clipboard to open (another program keeps it)", [] { return OpenClipboard(nullptr) != FALSE; },
              1000);
}

}  // namespace

std::string ReadClipboard()
{
    std::string text;
    OpenTheClipboard();
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
            text = bytes;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void ClearClipboard()
{
    OpenTheClipboard();
    EmptyClipboard();
    CloseClipboard();
}

Box ReadBox(HWND box)
{
    Box seen;
    seen.window = box;
    seen.caption = WindowText(box);
    seen.text = MessageBoxText(box);
    seen.style = GetWindowLongA(box, GWL_STYLE);
    seen.exStyle = GetWindowLongA(box, GWL_EXSTYLE);
    seen.owner = GetWindow(box, GW_OWNER);
    return seen;
}

HWND WaitForMessageBox(DWORD processId, int timeoutMs)
{
    HWND box = nullptr;
    // A message box is the dialog that carries the static 0xFFFF.
    auto found = [&] {
        for (const TopWindow& window : VisibleWindows(processId)) {
            if (window.className == kDialogClass && GetDlgItem(window.window, kMessageBoxTextId) != nullptr) {
                box = window.window;
                return true;
            }
        }
        return false;
    };
    if (!Poll(timeoutMs, found))
        throw DriverError("timed out after " + DescribeWait(timeoutMs) + " waiting for a message box of process " +
                          std::to_string(processId == 0 ? GetCurrentProcessId() : processId) +
                          "; visible windows: " + DescribeWindows(processId));
    return box;
}

Box AnswerBox(DWORD processId, int button, int timeoutMs)
{
    HWND box = WaitForMessageBox(processId, timeoutMs);
    Box seen = ReadBox(box);
    Press(box, button);
    WaitForWindowGone(box, timeoutMs);
    return seen;
}

}  // namespace driver
