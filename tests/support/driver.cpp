#include "driver.h"

#include <chrono>
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

}  // namespace

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
    if (WaitForSingleObject(process_, (DWORD)timeoutMs) != WAIT_OBJECT_0)
        throw DriverError("timed out after " + std::to_string(timeoutMs) + " ms waiting for process " +
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
        WaitForSingleObject(process_, 5000);
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
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (HWND window = FindWindowOf(processId, className, caption))
            return window;
        if (Clock::now() > deadline)
            throw DriverError("timed out after " + std::to_string(timeoutMs) +
                              " ms waiting for a visible top-level window of process " +
                              std::to_string(processId == 0 ? GetCurrentProcessId() : processId) + " with class " +
                              Describe(className) + " and caption " + Describe(caption) +
                              "; visible windows: " + DescribeWindows(processId));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void WaitForWindowGone(HWND window, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (Clock::now() > deadline)
            throw DriverError("timed out after " + std::to_string(timeoutMs) + " ms waiting for the window \"" +
                              WindowText(window) + "\" to go away");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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

std::string ReadClipboard()
{
    std::string text;
    for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt)
        Sleep(20);
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
    for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt)
        Sleep(20);
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
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // A message box is the dialog that carries the static 0xFFFF.
        for (const TopWindow& window : VisibleWindows(processId)) {
            if (window.className == kDialogClass && GetDlgItem(window.window, kMessageBoxTextId) != nullptr)
                return window.window;
        }
        if (Clock::now() > deadline)
            throw DriverError("timed out after " + std::to_string(timeoutMs) + " ms waiting for a message box of process " +
                              std::to_string(processId == 0 ? GetCurrentProcessId() : processId) +
                              "; visible windows: " + DescribeWindows(processId));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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
