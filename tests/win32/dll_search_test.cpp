// DLLs planted beside the program and in the current folder under the names of the system DLLs
// that are loaded after start-up: a copy of this program runs what the updater runs, once with
// the search restricted as on current Windows and once through the fallback for systems without
// SetDefaultDllDirectories, and must load none of them. Its own loads are recorded as well: each
// must name a file in the system folder, never a bare name.
#include "base/dll_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "child.h"
#include "driver.h"
#include "import_hook.h"
#include "scratch.h"
#include "base/work_folder.h"
#include "ui/progress_window.h"
#include "text/buffer_sizes.h"

namespace {

const int kUnit = BLOCK_SIZE;  // the extraction's block: the unit of both progress bars

// Loaded by name after start-up: by the updater (winmm), the version 6 common controls and the
// dialog manager, the animation control and the shell's dialogs.
const char* const kLateNames[] = {"winmm.dll",   "uxtheme.dll", "dwmapi.dll",  "msvfw32.dll",
                                  "msacm32.dll", "propsys.dll", "apphelp.dll", "userenv.dll",
                                  "setupapi.dll", "comctl32.dll"};

std::vector<std::string> recordedLoads;

using LoadA = HMODULE(WINAPI*)(LPCSTR);
using LoadExA = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);
using LoadW = HMODULE(WINAPI*)(LPCWSTR);
using LoadExW = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
LoadA realLoadA;
LoadExA realLoadExA;
LoadW realLoadW;
LoadExW realLoadExW;

std::string Narrow(LPCWSTR text)
{
    char bytes[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

HMODULE WINAPI RecordingLoadA(LPCSTR name)
{
    recordedLoads.push_back(name);
    return realLoadA(name);
}

HMODULE WINAPI RecordingLoadExA(LPCSTR name, HANDLE file, DWORD flags)
{
    recordedLoads.push_back(name);
    return realLoadExA(name, file, flags);
}

HMODULE WINAPI RecordingLoadW(LPCWSTR name)
{
    recordedLoads.push_back(Narrow(name));
    return realLoadW(name);
}

HMODULE WINAPI RecordingLoadExW(LPCWSTR name, HANDLE file, DWORD flags)
{
    recordedLoads.push_back(Narrow(name));
    return realLoadExW(name, file, flags);
}

template <typename Function>
void Hook(const char* name, Function recorder, Function* real)
{
    *real = reinterpret_cast<Function>(HookImport("kernel32.dll", name, reinterpret_cast<void*>(recorder)));
}

// args: how the search is narrowed first ("normal", "fallback" or "none"), the file that
// receives the updater's own loads, one a line.
TEST_CHILD(RunAsTheUpdater)
{
    const std::string& mode = args.at(0);
    if (mode == "none") {
        for (const char* name : kLateNames)
            LoadLibraryA(name);
        return 0;
    }
    Hook("LoadLibraryA", RecordingLoadA, &realLoadA);
    Hook("LoadLibraryExA", RecordingLoadExA, &realLoadExA);
    Hook("LoadLibraryW", RecordingLoadW, &realLoadW);
    Hook("LoadLibraryExW", RecordingLoadExW, &realLoadExW);
    if (mode == "normal")
        RestrictDllSearch();
    else
        RestrictDllSearchByPreloading();
    CreateWorkFolder();  // the tick count
    HWND window = OpenProgressWindow(4 * kUnit);  // bars, clip and themes
    if (window != nullptr) {
        BeginFileProgress(window, "C:\\Game\\a.dat", 2 * kUnit);
        ReportProgress(window, kUnit, kUnit);
    }
    CloseProgressWindow();
    RemoveWorkFolder();
    std::string lines;
    for (const std::string& load : recordedLoads)
        lines += load + "\n";
    WriteFileBytes(args.at(1), lines);
    // Whatever the system's own parts ask for by name later on.
    for (const char* name : kLateNames)
        LoadLibraryA(name);
    return window != nullptr ? 0 : 3;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

struct Planted {
    ScratchFolder program{"planted"};
    ScratchFolder current{"current"};
    std::string copy = program / "update.exe";
    std::string loads = current / "loads.txt";

    Planted()
    {
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (!CopyFileA(self, copy.c_str(), FALSE))
            throw driver::DriverError("cannot copy the test program to " + copy);
        for (const std::string& folder : {program.Path(), current.Path()}) {
            for (const char* name : kLateNames) {
                if (!CopyFileA(WinePath(PLANTED_DLL).c_str(), (folder + "\\" + name).c_str(), FALSE))
                    throw driver::DriverError("cannot plant " + std::string(name) + " in " + folder);
            }
        }
    }

    DWORD Run(const std::string& mode)
    {
        driver::Process child = driver::Start(
            driver::Quote(copy) + " --child RunAsTheUpdater " + mode + " " + driver::Quote(loads), current.Path());
        return child.WaitForExit();
    }

    std::vector<std::string> Loaded() const
    {
        std::vector<std::string> loaded;
        for (const std::string& folder : {program.Path(), current.Path()}) {
            for (const char* name : kLateNames) {
                if (FileExists(folder + "\\" + name + ".loaded"))
                    loaded.push_back(folder + "\\" + name);
            }
        }
        return loaded;
    }
};

TEST(DllSearch, PlantedCopiesAreNeverLoadedAndOwnLoadsNameTheSystemFolder)
{
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    for (const char* mode : {"normal", "fallback"}) {
        SCOPED_TRACE(mode);
        Planted planted;
        EXPECT_EQ(planted.Run(mode), 0u);
        EXPECT_EQ(planted.Loaded(), std::vector<std::string>{});

        std::vector<std::string> loads = Lines(ReadFileBytes(planted.loads));
        EXPECT_NE(std::find(loads.begin(), loads.end(), std::string(system) + "\\winmm.dll"), loads.end());
        for (const std::string& load : loads)
            EXPECT_EQ(Lower(load).rfind(Lower(system) + "\\", 0), 0u) << load << " is not a system folder path";
    }
}

// Without either, a load by name takes a copy beside the program: the planted files are
// loadable, so the checks above can fail.
TEST(DllSearch, WithoutRestrictionPlantedCopiesAreLoaded)
{
    Planted planted;
    planted.Run("none");
    EXPECT_NE(planted.Loaded(), std::vector<std::string>{});
}

}  // namespace
