// The extraction under Wine: the full pass against a plain zlib loop that inflates each entry
// to its file in 128 KiB blocks (same build, same data), small files both into an empty folder
// and over existing files of the same names; the peak working set of a full pass
// over a large package against a 1 MiB one; and the setup pass with a large non-setup entry
// against the same package without it. --large uses 1 GiB where the default uses 128 MiB.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extraction/extraction.h"
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

void CompareFullPass(const char* label, const std::vector<BenchFile>& files, double goal, bool overExisting = false)
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
}

SIZE_T PeakWorkingSetOfFullPass(const std::string& self, const std::string& package, const std::string& destination)
{
    EmptyFolder(destination);
    std::string line = "\"" + self + "\" --full-pass \"" + package + "\" \"" + destination + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD peakKiB = 0;
    GetExitCodeProcess(process.hProcess, &peakKiB);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (SIZE_T)peakKiB * 1024;
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
    bool large = argc > 1 && std::strcmp(argv[1], "--large") == 0;
    uint64_t big = large ? (1ull << 30) - (1 << 20) : 128ull << 20;

    CompareFullPass(large ? "two files of 512 MiB" : "two files of 64 MiB", {Generated("a.dat", big / 2), Generated("b.dat", big / 2)}, 0.9);
    std::vector<BenchFile> small;
    for (int i = 0; i < 5000; ++i)
        small.push_back(Generated("data\\f" + std::to_string(i) + ".dat", 4096));
    CompareFullPass("5000 files of 4 KiB into an empty folder", small, 0.7);
    // The plain loop overwrites each file in place; the updater replaces each one whole.
    CompareFullPass("5000 files of 4 KiB over existing files of the same names", small, 0.5, true);

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
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
