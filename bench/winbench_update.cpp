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
#include "pe_image.h"
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
        // In the win64 run this is the x86-64 build of the stub, not the 32-bit file that ships.
        const PeImage image = ReadPeImage(stub);
        std::printf("stub (%s): %zu bytes (%.1f KiB; goal below 200 KiB); imports:",
                    image.pe32Plus ? "PE32+ x86-64, the win64 run's build" : "PE32 i386, as shipped", stub.size(),
                    stub.size() / 1024.0);
        for (const auto& imported : image.imports)
            std::printf(" %s", imported.first.c_str());
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
