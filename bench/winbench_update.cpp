// The real updater under Wine, started as a player starts it: the time until its main window is
// visible for a 1 GiB payload against a 1 MiB one (the setup pass seeks past what it does not
// need); a complete update through the window, its wall time against the plain zlib loop over
// the same package and its peak working set; and the stub's size and imported DLLs.
// --large uses a 1 GiB payload where the default uses 128 MiB.
//
// Against a peer installer (scripts/bench winbench_peer): --peer-make FOLDER writes each case's
// update and, for NSIS, the same files as a folder and a script (makensis then builds the
// installer on the Linux side); --peer-time FOLDER runs each case's complete update, from the Yes
// to the end dialog, against the installer's silent run from its start to its exit, over the same
// files into the same folder, interleaved, best of three.
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
    double TimeUpdate(const std::string& exe, const std::string& name, SIZE_T& peak, const std::string& installed = "")
    {
        EmptyFolder(target);
        if (!installed.empty())
            PlainZlibLoop(installed, target);
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

// The peer's cases, as the comparison that first measured the lead had them: many small files into
// an empty folder and over the same files, and large files with small ones.
struct PeerCase {
    const char* name;
    std::vector<BenchFile> files;
    bool overExisting;
};

std::vector<PeerCase> PeerCases()
{
    std::vector<BenchFile> small, mix;
    for (int i = 0; i < 5000; ++i)
        small.push_back(Generated("data\\f" + std::to_string(i) + ".dat", 4096));
    for (int i = 0; i < 3; ++i)
        mix.push_back(Generated("movie" + std::to_string(i) + ".dat", 100 << 20));
    for (int i = 0; i < 2000; ++i)
        mix.push_back(Generated("data\\g" + std::to_string(i) + ".dat", 16384));
    return {{"PeerSmallNew", small, false}, {"PeerSmallOver", small, true}, {"PeerMix", mix, false}};
}

std::string PayloadOf(const std::string& folder, const PeerCase& peer)
{
    return folder + "\\" + peer.name + "_payload.exe";
}

// The peer's files: the same bytes, as the plain loop writes them from a package of them alone,
// and its script; makensis builds the installer from both.
void MakePeerCases(const std::string& folder)
{
    for (const PeerCase& peer : PeerCases()) {
        const std::string source = folder + "\\" + peer.name;
        CreateDirectoryA(source.c_str(), nullptr);
        EmptyFolder(source);
        WritePackage(PayloadOf(folder, peer), std::string(64, 'M'), peer.files);
        PlainZlibLoop(PayloadOf(folder, peer), source);
        std::FILE* script = std::fopen((folder + "\\" + peer.name + ".nsi").c_str(), "wb");
        std::fprintf(script,
                     "Name \"%s\"\nOutFile \"%s_nsis.exe\"\nSetCompressor zlib\nRequestExecutionLevel user\n"
                     "SilentInstall silent\nInstallDir \"C:\\peer\"\nSection\n  SetOutPath \"$INSTDIR\"\n"
                     "  File /r \"%s/*\"\nSectionEnd\n",
                     peer.name, peer.name, peer.name);
        std::fclose(script);
    }
}

// The update: the bench's settings (this process's product key), picture and readme around the files.
std::string WritePeerUpdate(UpdateBench& bench, const std::string& folder, const PeerCase& peer)
{
    std::vector<BenchFile> files = peer.files;
    const std::string settings = SettingsFile({"TITLEBAR\t" + std::string(peer.name), "REG_GLOBAL\t" + bench.key.Global(),
                                               "REG_LOCAL\t" + bench.key.Local(), "KEYFILE\tgame.exe",
                                               "[delfiles_afterinst]", "install.env", "insttscr.rct", "-", "[EOF]"});
    files.insert(files.begin(), Literal("insttscr.rct", MakeRctFile(320, 200, PatternPixels(320, 200))));
    files.insert(files.begin(), Literal("install.env", settings));
    const std::string path = folder + "\\" + peer.name + ".exe";
    WritePackage(path, ReadWhole(StubPath()), files);
    return path;
}

double TimePeerInstaller(const std::string& installer, const std::string& target, const std::string& installed)
{
    EmptyFolder(target);
    if (!installed.empty())
        PlainZlibLoop(installed, target);
    const double start = Now();
    driver::Process process = driver::Start(driver::Quote(installer) + " /S /D=" + target);
    process.WaitForExit(kLongMs);
    return Now() - start;
}

void TimePeerCases(UpdateBench& bench, const std::string& folder)
{
    for (const PeerCase& peer : PeerCases()) {
        const std::string installed = peer.overExisting ? PayloadOf(folder, peer) : "";
        const std::string update = WritePeerUpdate(bench, folder, peer);
        double ours = 1e9, theirs = 1e9;
        SIZE_T peak = 0;
        for (int round = 0; round < 3; ++round) {
            theirs = std::min(theirs, TimePeerInstaller(folder + "\\" + peer.name + "_nsis.exe", bench.target, installed));
            ours = std::min(ours, bench.TimeUpdate(update, peer.name, peak, installed));
        }
        std::printf("%s (%zu files%s): the update %.3f s from Yes to the end dialog, NSIS's silent install %.3f s from "
                    "start to exit, ratio %.2f (the update's time over the installer's)\n",
                    peer.name, peer.files.size(), peer.overExisting ? ", over the same files" : ", into an empty folder",
                    ours, theirs, ours / theirs);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "--peer-make") == 0 || std::strcmp(argv[1], "--peer-time") == 0)) {
        try {
            if (std::strcmp(argv[1], "--peer-make") == 0) {
                MakePeerCases(argv[2]);
            } else {
                UpdateBench bench;
                TimePeerCases(bench, argv[2]);
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "winbench_update: %s\n", error.what());
            return 1;
        }
        return 0;
    }
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
