// The real updater under Wine, started as a player starts it: the time until its main window is
// visible for a 1 GiB payload against a 1 MiB one (the setup pass seeks past what it does not
// need); a complete update through the window, its wall time against the plain zlib loop over
// the same package and its peak working set; and the stub's size and imported DLLs.
// --large uses a 1 GiB payload where the default uses 128 MiB.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "driver.h"
#include "e2e_fixture.h"
#include "product_key_fixture.h"
#include "winbench_package.h"

using namespace winbench;

namespace {

const char kEndCaption[] = "インストール終了";
const int kLongMs = 30 * 60 * 1000;

std::string ReadWhole(const std::string& path)
{
    std::string bytes;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        return bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.append(buffer, n);
    std::fclose(in);
    return bytes;
}

uint32_t U32(const std::string& b, size_t at)
{
    if (at + 4 > b.size())
        return 0;
    return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8 |
           (uint32_t)(unsigned char)b[at + 2] << 16 | (uint32_t)(unsigned char)b[at + 3] << 24;
}

// The DLL names of a 32-bit executable's import table, read from the file.
std::vector<std::string> ImportedDlls(const std::string& image)
{
    std::vector<std::string> names;
    const size_t pe = U32(image, 0x3C);
    if (image.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return names;
    const size_t sections = (unsigned char)image[pe + 6] | (unsigned char)image[pe + 7] << 8;
    const size_t optionalSize = (unsigned char)image[pe + 20] | (unsigned char)image[pe + 21] << 8;
    const size_t optional = pe + 24;
    const uint32_t importRva = U32(image, optional + 104);  // data directory 1 of a PE32 header
    const size_t sectionTable = optional + optionalSize;
    auto toOffset = [&](uint32_t rva) -> size_t {
        for (size_t i = 0; i < sections; ++i) {
            const size_t s = sectionTable + 40 * i;
            const uint32_t virtualAddress = U32(image, s + 12), rawSize = U32(image, s + 16), rawOffset = U32(image, s + 20);
            const uint32_t virtualSize = std::max(U32(image, s + 8), rawSize);
            if (rva >= virtualAddress && rva < virtualAddress + virtualSize)
                return rawOffset + (rva - virtualAddress);
        }
        return 0;
    };
    for (size_t d = toOffset(importRva); d != 0 && d + 20 <= image.size(); d += 20) {
        const uint32_t nameRva = U32(image, d + 12);
        if (nameRva == 0)
            break;
        const size_t at = toOffset(nameRva);
        names.push_back(image.c_str() + std::min(at, image.size()));
    }
    return names;
}

struct UpdateBench {
    std::string folder = TempFolder("winbench_update");
    std::string target = TempFolder("winbench_update_target");
    std::string baselineOut = TempFolder("winbench_update_plain");
    std::string temp = TempFolder("winbench_update_tmp");
    TestProductKey key{"UpdaterBench", "Run" + std::to_string(GetCurrentProcessId())};

    std::string Title(const std::string& name) const { return name + " アップデータ"; }

    std::string Write(const std::string& name, uint64_t payload)
    {
        const std::string settings = SettingsFile({"TITLEBAR\t" + name, "REG_GLOBAL\t" + key.Global(),
                                                   "REG_LOCAL\t" + key.Local(), "KEYFILE\tgame.exe",
                                                   "[delfiles_afterinst]", "install.env", "insttscr.rct", "-", "[EOF]"});
        const std::string image = MakeRctFile(320, 200, PatternPixels(320, 200));
        const std::string path = folder + "\\" + name + ".exe";
        WritePackage(path, ReadWhole(StubPath()),
                     {Literal("install.env", settings), Literal("insttscr.rct", image), Generated("payload.dat", payload),
                      Literal("readme.txt", "readme\r\n")});
        return path;
    }

    // Seconds from the start of the process until its main window is visible; the window is
    // then closed and the process waited for.
    double TimeToWindow(const std::string& exe, const std::string& name)
    {
        PrivateTemp privateTemp(temp);
        const double start = Now();
        driver::Process updater = driver::Start(driver::Quote(exe), folder);
        HWND window = driver::WaitForWindow(updater.Id(), driver::kDialogClass, Title(name).c_str(), kLongMs);
        const double seconds = Now() - start;
        driver::Close(window);
        updater.WaitForExit(kLongMs);
        return seconds;
    }

    // A complete update through the window: seconds from the Yes that starts it until the end
    // dialog shows, and the process's peak working set at that moment.
    double TimeUpdate(const std::string& exe, const std::string& name, SIZE_T& peak)
    {
        EmptyFolder(target);
        std::FILE* game = std::fopen((target + "\\game.exe").c_str(), "wb");
        std::fclose(game);
        key.SetMachineText("IsInst", "1");
        key.SetMachineText("InstTo", target);
        PrivateTemp privateTemp(temp);
        driver::Process updater = driver::Start(driver::Quote(exe), folder);
        HWND window = driver::WaitForWindow(updater.Id(), driver::kDialogClass, Title(name).c_str(), kLongMs);
        driver::Press(window, 1001);
        driver::AnswerBox(updater.Id(), IDYES, kLongMs);
        const double start = Now();
        HWND end = driver::WaitForWindow(updater.Id(), driver::kDialogClass, kEndCaption, kLongMs);
        const double seconds = Now() - start;
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(updater.Handle(), &counters, sizeof counters);
        peak = counters.PeakWorkingSetSize;
        driver::Press(end, IDOK);
        updater.WaitForExit(kLongMs);
        return seconds;
    }

    ~UpdateBench()
    {
        EmptyFolder(folder);
        EmptyFolder(target);
        EmptyFolder(baselineOut);
        EmptyFolder(temp);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const bool large = argc > 1 && std::strcmp(argv[1], "--large") == 0;
    const uint64_t big = large ? (1ull << 30) - (1 << 20) : 128ull << 20;
    try {
        const std::string stub = ReadWhole(StubPath());
        std::printf("stub: %zu bytes (%.1f KiB; goal below 200 KiB); imports:", stub.size(), stub.size() / 1024.0);
        for (const std::string& dll : ImportedDlls(stub))
            std::printf(" %s", dll.c_str());
        std::printf("\n");

        UpdateBench bench;
        const std::string small = bench.Write("BenchSmall", 1 << 20);
        const std::string large_ = bench.Write("BenchLarge", big);
        double smallStart = 1e9, largeStart = 1e9;
        for (int round = 0; round < 3; ++round) {
            smallStart = std::min(smallStart, bench.TimeToWindow(small, "BenchSmall"));
            largeStart = std::min(largeStart, bench.TimeToWindow(large_, "BenchLarge"));
        }
        std::printf("start to visible main window: %llu MiB payload %.3f s, 1 MiB payload %.3f s, ratio %.2f (goal within 1.5x)\n",
                    (unsigned long long)(big >> 20), largeStart, smallStart, largeStart / smallStart);

        SIZE_T peak = 0;
        const double update = bench.TimeUpdate(large_, "BenchLarge", peak);
        const double plain = TimeBaseline(large_, bench.baselineOut);
        std::printf("complete update of a %llu MiB payload: %.3f s from Yes to the end dialog, plain zlib loop %.3f s, "
                    "speed ratio %.2f; peak working set %.2f MiB\n",
                    (unsigned long long)(big >> 20), update, plain, plain / update, peak / 1048576.0);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "winbench_update: %s\n", error.what());
        return 1;
    }
    return 0;
}
