// The extraction under Wine: the full pass against a plain zlib loop that inflates each entry
// to its file in 128 KiB blocks (same build, same data), small files both into an empty folder
// and over existing files of the same names; the peak working set of a full pass
// over a large package against a 1 MiB one; and the setup pass with a large non-setup entry
// against the same package without it; the undoing of a 5,000-file update over existing files
// (cut off after its last file took its place, undone as the next run undoes it) against its full
// pass; and the floors those goals meet on this machine, from the calls a full pass cannot leave
// out. --large uses 1 GiB where the default uses 128 MiB.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extraction/extraction.h"
#include "extraction/update_journal.h"
#include "import_hook.h"
#include "base/notices.h"
#include "ui/progress_window.h"
#include "text/entry_name_rules.h"
#include "winbench_package.h"

using namespace winbench;

namespace {

const std::string kImage(64, 'M');

// One timed run of the full pass or of the plain loop, into an empty folder or over the same
// files already there (as an update usually finds them), prepared untimed.
double TimeOneSide(bool updater, const std::string& package, const std::string& destination, bool overExisting)
{
    EmptyFolder(destination);
    if (overExisting)
        PlainZlibLoop(package, destination);
    double start = Now();
    if (updater) {
        SetPackageFilePath(package.c_str());
        ExtractPackage(destination.c_str(), EXTRACT_FULL_PASS);
    } else {
        PlainZlibLoop(package, destination);
    }
    return Now() - start;
}

// The baseline's time of the last comparison, for the floors below.
double CompareFullPass(const char* label, const std::vector<BenchFile>& files, double goal, bool overExisting = false)
{
    std::string folder = TempFolder("winbench_extraction");
    std::string package = folder + "\\" + "package.exe";
    std::string destination = TempFolder("winbench_extraction_out");
    WritePackage(package, kImage, files);
    // Best of three, alternating, so neither side pays alone for a cold cache or a busy moment
    // of the shared machine.
    double product = 1e9, baseline = 1e9;
    for (int round = 0; round < 3; ++round) {
        baseline = std::min(baseline, TimeOneSide(false, package, destination, overExisting));
        product = std::min(product, TimeOneSide(true, package, destination, overExisting));
    }
    std::printf("full pass, %s: updater %.3f s, plain zlib loop %.3f s, speed ratio %.2f (goal >= %.1f)\n", label, product,
                baseline, baseline / product, goal);
    EmptyFolder(destination);
    DeleteFileA(package.c_str());
    return baseline;
}

// FILE_RENAME_INFO, which the headers of a Windows XP build do not declare.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[MAX_PATH + 8];
};
using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

bool RenameOpenFile(HANDLE file, const std::string& path)
{
    static auto setInformation = reinterpret_cast<SetInformationFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
    RenameInformation rename{};
    rename.replaceIfExists = TRUE;
    std::wstring name = L"\\??\\" + std::wstring(path.begin(), path.end());
    std::copy(name.begin(), name.end(), rename.fileName);
    rename.fileNameLength = (DWORD)(name.size() * sizeof(WCHAR));
    return setInformation != nullptr && setInformation(file, 3, &rename, (DWORD)sizeof rename);
}

// Best of three rounds of work(i) for i below count, per call.
template <typename Work>
double PerCall(int count, Work work)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        double start = Now();
        for (int i = 0; i < count; ++i)
            work(round * count + i);
        best = std::min(best, (Now() - start) / count);
    }
    return best;
}

// The least a full pass pays beyond the plain loop on this machine, from the calls it must make,
// each timed alone: for large files, the bars moved and the queue drained after every block, and
// the progress window opened and closed; for a replaced file, the check before writing (an open
// and a close), its line in the record, the new file made in a small working folder and written,
// the old file given a second name there, the new one renamed over the name, the queue drained at
// the file's end (the progress window up), and the second name deleted at the commit. What the
// goals can reach here follows from these and from the plain loop's own times.
void PrintFloors(double plainLarge, uint64_t largeBytes, double plainOverExisting, size_t smallFiles)
{
    const int packageSize = (int)std::min<uint64_t>(largeBytes, 0x7FFFFFFF);
    double window = PerCall(3, [&](int) {
        OpenProgressWindow(packageSize);
        CloseProgressWindow();
    });
    // The bars moved and the queue drained after a block, with the progress window up (its
    // controls and the animation are what the queue serves).
    HWND progress = OpenProgressWindow(packageSize);
    BeginFileProgress(progress, "C:\\Games\\a.dat", packageSize);
    double report = PerCall(1000, [&](int i) { ReportProgress(progress, (i + 1) * (int)kUnit, (i + 1) * (int)kUnit); });
    double blocks = (double)(largeBytes / kUnit);
    std::printf("floor, large files: the bars and the queue %.1f us per block and the progress window %.1f ms per "
                "pass, the plain loop %.1f us per block: the ratio cannot pass %.2f here\n",
                report * 1e6, window * 1e3, plainLarge / blocks * 1e6, plainLarge / (plainLarge + report * blocks + window));

    const std::string folder = TempFolder("winbench_floor");
    EmptyFolder(folder);
    const int count = 320;  // five working folders' worth per round
    const std::string data(4096, 'd');
    const std::string line = "R\tdata\\f1234.dat\tdata\\~upd12AB.tmp\\1F\tdata\\~upd12AB.tmp\\20\r\n";
    for (int i = 0; i < 3 * count; ++i) {
        HANDLE file = CreateFileA((folder + "\\f" + std::to_string(i)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        CloseHandle(file);
    }
    HANDLE record = CreateFileA((folder + "\\record").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    auto work = [&](int i) { return folder + "\\~upd" + std::to_string(i / 64) + ".tmp"; };
    for (int i = 0; i < 3 * count; i += 64)
        CreateDirectoryA(work(i).c_str(), nullptr);
    double check = PerCall(count, [&](int i) {
        HANDLE file = CreateFileA((folder + "\\f" + std::to_string(i)).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        CloseHandle(file);
    });
    double replace = PerCall(count, [&](int i) {
        const std::string name = folder + "\\f" + std::to_string(i);
        const std::string waiting = work(i) + "\\n" + std::to_string(i);
        DWORD written = 0;
        WriteFile(record, line.data(), (DWORD)line.size(), &written, nullptr);
        HANDLE file = CreateFileA(waiting.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr);
        WriteFile(file, data.data(), (DWORD)data.size(), &written, nullptr);
        CreateHardLinkA((work(i) + "\\o" + std::to_string(i)).c_str(), name.c_str(), nullptr);
        RenameOpenFile(file, name);
        CloseHandle(file);
        PumpMessages();
    });
    double commit = PerCall(count, [&](int i) { DeleteFileA((work(i) + "\\o" + std::to_string(i)).c_str()); });
    CloseHandle(record);
    double plainFile = plainOverExisting / (double)smallFiles;
    double least = check + replace + commit;
    std::printf("floor, over existing files: the check %.3f ms, the replacement %.3f ms, the commit %.3f ms per file, "
                "the plain loop's whole file %.3f ms: the ratio cannot pass %.2f here\n",
                check * 1e3, replace * 1e3, commit * 1e3, plainFile * 1e3, plainFile / least);
    CloseProgressWindow();
    EmptyFolder(folder);
    RemoveDirectoryA(folder.c_str());
}

// The child of the undoing benchmark: a full pass killed when every file has taken its name,
// before its commit is on record, so that its whole record is left to undo.
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
WriteFileFunction realWriteFile;

BOOL WINAPI KillingWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (size == 3 && std::memcmp(data, "C\r\n", 3) == 0)
        TerminateProcess(GetCurrentProcess(), 0);
    return realWriteFile(file, data, size, written, overlapped);
}

int RunStartedChild(const std::string& line)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}

// Best of three: the full pass over existing files against the undoing of the same pass.
void CompareUndoing(const std::string& self, const std::vector<BenchFile>& files)
{
    std::string folder = TempFolder("winbench_extraction");
    std::string package = folder + "\\" + "package.exe";
    std::string destination = TempFolder("winbench_extraction_out");
    WritePackage(package, kImage, files);
    double pass = 1e9, undoing = 1e9;
    for (int round = 0; round < 3; ++round) {
        pass = std::min(pass, TimeOneSide(true, package, destination, true));
        EmptyFolder(destination);
        PlainZlibLoop(package, destination);
        RunStartedChild("\"" + self + "\" --killed-pass \"" + package + "\" \"" + destination + "\"");
        DWORD journalFound = GetFileAttributesA((destination + "\\" UPDATE_JOURNAL_NAME).c_str()) != INVALID_FILE_ATTRIBUTES;
        double start = Now();
        int left = RecoverInterruptedUpdate(destination.c_str());
        undoing = std::min(undoing, Now() - start);
        if (left != 0 || journalFound == 0)
            std::printf("the undoing %s\n", left != 0 ? "left something behind" : "found no record: the pass was not cut off");
    }
    std::printf("undoing a full pass of %zu files over existing files: %.3f s, the full pass %.3f s, ratio %.2f (goal <= 1)\n",
                files.size(), undoing, pass, undoing / pass);
    EmptyFolder(destination);
    DeleteFileA(package.c_str());
}

SIZE_T PeakWorkingSetOfFullPass(const std::string& self, const std::string& package, const std::string& destination)
{
    EmptyFolder(destination);
    int peakKiB = RunStartedChild("\"" + self + "\" --full-pass \"" + package + "\" \"" + destination + "\"");
    return peakKiB > 0 ? (SIZE_T)peakKiB * 1024 : 0;
}

double TimeSetupPass(const std::string& package, const std::string& destination)
{
    EmptyFolder(destination);
    SetPackageFilePath(package.c_str());
    double start = Now();
    ExtractPackage(destination.c_str(), EXTRACT_SETUP_PASS);
    return Now() - start;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--full-pass") == 0) {
        SetPackageFilePath(argv[2]);
        ExtractPackage(argv[3], EXTRACT_FULL_PASS);
        // The child reports its own peak in KiB as its exit code: Wine does not always keep the
        // counters of a process that has ended.
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return (int)(counters.PeakWorkingSetSize / 1024);
    }
    if (argc == 4 && std::strcmp(argv[1], "--killed-pass") == 0) {
        realWriteFile = reinterpret_cast<WriteFileFunction>(
            HookImport("kernel32.dll", "WriteFile", reinterpret_cast<void*>(KillingWriteFile)));
        SetPackageFilePath(argv[2]);
        ExtractPackage(argv[3], EXTRACT_FULL_PASS);
        return 1;  // never killed: the undoing has nothing to measure
    }
    bool large = argc > 1 && std::strcmp(argv[1], "--large") == 0;
    uint64_t big = large ? (1ull << 30) - (1 << 20) : 128ull << 20;

    double plainLarge = CompareFullPass(large ? "two files of 512 MiB" : "two files of 64 MiB",
                                        {Generated("a.dat", big / 2), Generated("b.dat", big / 2)}, 0.9);
    std::vector<BenchFile> small;
    for (int i = 0; i < 5000; ++i)
        small.push_back(Generated("data\\f" + std::to_string(i) + ".dat", 4096));
    CompareFullPass("5000 files of 4 KiB into an empty folder", small, 0.8);
    // The plain loop overwrites each file in place; the updater replaces each one whole.
    double plainOverExisting = CompareFullPass("5000 files of 4 KiB over existing files of the same names", small, 0.5, true);
    PrintFloors(plainLarge, big, plainOverExisting, small.size());

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    CompareUndoing(self, small);
    std::string folder = TempFolder("winbench_extraction");
    std::string destination = TempFolder("winbench_extraction_out");
    std::string smallPackage = folder + "\\small.exe", bigPackage = folder + "\\big.exe";
    WritePackage(smallPackage, kImage, {Generated("a.dat", 1 << 20)});
    WritePackage(bigPackage, kImage, {Generated("a.dat", big)});
    SIZE_T smallPeak = PeakWorkingSetOfFullPass(self, smallPackage, destination);
    SIZE_T bigPeak = PeakWorkingSetOfFullPass(self, bigPackage, destination);
    std::printf("peak working set of the full pass: %llu MiB package %.2f MiB, 1 MiB package %.2f MiB, difference %.2f MiB "
                "(goal within 1 MiB)\n",
                (unsigned long long)(big >> 20), bigPeak / 1048576.0, smallPeak / 1048576.0,
                ((double)bigPeak - (double)smallPeak) / 1048576.0);

    std::string withSkip = folder + "\\with.exe", without = folder + "\\without.exe";
    WritePackage(withSkip, kImage, {Generated("install.env", 4096), Generated("payload.dat", big), Generated("readme.txt", 4096)});
    WritePackage(without, kImage, {Generated("install.env", 4096), Generated("readme.txt", 4096)});
    double plain = 1e9, skipping = 1e9;
    for (int round = 0; round < 3; ++round) {
        plain = std::min(plain, TimeSetupPass(without, destination));
        skipping = std::min(skipping, TimeSetupPass(withSkip, destination));
    }
    std::printf("setup pass: with a %llu MiB non-setup entry %.4f s, without it %.4f s, ratio %.2f (goal within 2x)\n",
                (unsigned long long)(big >> 20), skipping, plain, skipping / plain);
    EmptyFolder(destination);
    EmptyFolder(folder);
    return 0;
}
