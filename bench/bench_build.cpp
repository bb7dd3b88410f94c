// mkupdate build on every core against --jobs 1 (speed), and the package's compressed data
// against zlib level 9 applied file by file (size). Same synthetic tree for all runs. Then a tree
// of 20,001 small files: build --jobs 1 against a plain loop that reads and compresses the same
// files with zlib -9 in one process, and the process's peak memory.
#include <zlib.h>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "package/package_writer.h"
#include "build/package_build.h"
#include "build/package_plan.h"

namespace fs = std::filesystem;

namespace {

// Text-like bytes that compress about as well as game scripts and data tables.
std::string MakeContents(size_t size, unsigned seed)
{
    static const char* words[] = {"scene", "actor", "move", "wait", "say", "bgm", "0x1F", "fade", "\r\n", "\t"};
    std::string out;
    unsigned x = seed;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        out += words[(x >> 16) % 10];
        if ((x >> 8) % 5 == 0)
            out += std::to_string(x % 1000);
        out += ' ';
    }
    out.resize(size);
    return out;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

long PeakKiB()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return (long)(counters.PeakWorkingSetSize / 1024);
#else
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

// Many small files: what per-file overhead costs, and whether memory follows the file count.
int SmallFiles(const fs::path& root, int files, size_t size)
{
    fs::remove_all(root);
    fs::create_directories(root / "data");
    for (int i = 0; i < files; ++i)
        std::ofstream(root / "data" / ("s" + std::to_string(i) + ".dat"), std::ios::binary) << MakeContents(size, (unsigned)i + 7);
    std::ofstream(root / "install.env", std::ios::binary) << "TITLEBAR\tBench|1\r\n";
    std::vector<PlannedEntry> entries;
    std::string error;
    if (!CollectEntries(root, entries, error) || !OrderEntries(entries, error)) {
        std::fprintf(stderr, "bench_build: %s\n", error.c_str());
        return 1;
    }
    const long before = PeakKiB();
    auto plainStart = std::chrono::steady_clock::now();
    uint64_t plainBytes = 0;
    for (const PlannedEntry& e : entries) {
        if (e.folder)
            continue;
        std::ifstream in(e.source, std::ios::binary);
        std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        plainBytes += DeflateZlib(contents, 9).size();
    }
    double plain = Seconds(std::chrono::steady_clock::now() - plainStart);

    fs::path out = root.parent_path() / "bench_build_small.exe";
    std::FILE* file = std::fopen(out.string().c_str(), "wb");
    BuildOptions options;
    options.jobs = 1;
    BuildResult result;
    auto start = std::chrono::steady_clock::now();
    bool ok = WriteUpdate("MZ", entries, options, file, result, error);
    double build = Seconds(std::chrono::steady_clock::now() - start);
    std::fclose(file);
    fs::remove(out);
    if (!ok) {
        std::fprintf(stderr, "bench_build: %s\n", error.c_str());
        return 1;
    }
    std::printf("build %d files of %zu bytes, --jobs 1: %.3f s; baseline: read and zlib -9 each file in one loop %.3f s; "
                "ratio %.2f (goal <= 1.5); %llu bytes packed, %llu bytes from the loop\n",
                files, size, build, plain, build / plain, (unsigned long long)result.packageBytes,
                (unsigned long long)plainBytes);
    std::printf("peak memory: %.1f MiB before the two runs, %.1f MiB after (growth %.1f MiB for %zu entries; "
                "goal: bounded by the jobs, not the file count)\n",
                before / 1024.0, PeakKiB() / 1024.0, (PeakKiB() - before) / 1024.0, entries.size());
    fs::remove_all(root);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // First, while the process's peak memory is still low enough to show what this run adds.
    if (SmallFiles(fs::temp_directory_path() / "bench_build_small_tree", 20001, 4096) != 0)
        return 1;
    int files = argc > 1 ? std::atoi(argv[1]) : 160;
    size_t size = argc > 2 ? (size_t)std::atoll(argv[2]) : 512 * 1024;
    fs::path root = fs::temp_directory_path() / "bench_build_tree";
    fs::remove_all(root);
    fs::create_directories(root / "data");
    uint64_t zlibFileByFile = 0;
    for (int i = 0; i < files; ++i) {
        std::string contents = MakeContents(size, (unsigned)i + 1);
        std::ofstream(root / "data" / ("f" + std::to_string(i) + ".dat"), std::ios::binary) << contents;
        zlibFileByFile += DeflateZlib(contents, 9).size();
    }
    const std::string settings = "TITLEBAR\tBench|1\r\n";
    std::ofstream(root / "install.env", std::ios::binary) << settings;
    zlibFileByFile += DeflateZlib(settings, 9).size();

    std::vector<PlannedEntry> entries;
    std::string error;
    if (!CollectEntries(root, entries, error) || !OrderEntries(entries, error)) {
        std::fprintf(stderr, "bench_build: %s\n", error.c_str());
        return 1;
    }
    int cores = (int)std::max(1u, std::thread::hardware_concurrency());
    auto run = [&](int jobs, uint64_t& packageBytes, uint64_t& dataBytes) {
        fs::path out = root.parent_path() / "bench_build_out.exe";
        std::FILE* file = std::fopen(out.string().c_str(), "wb");
        BuildOptions options;
        options.jobs = jobs;
        BuildResult result;
        auto start = std::chrono::steady_clock::now();
        bool ok = WriteUpdate("MZ", entries, options, file, result, error);
        std::fclose(file);
        double seconds = Seconds(std::chrono::steady_clock::now() - start);
        if (!ok)
            std::fprintf(stderr, "bench_build: %s\n", error.c_str());
        packageBytes = result.packageBytes;
        // Headers: nameLength + 10 per entry, + 8 per file, + 4 of end marker and padding.
        uint64_t headers = 4;
        for (const PlannedEntry& e : entries)
            headers += e.name.size() + 1 + 10 + (e.folder ? 0 : 8);
        dataBytes = result.packageBytes - headers;
        fs::remove(out);
        return seconds;
    };
    uint64_t package1 = 0, data1 = 0, packageN = 0, dataN = 0;
    run(cores, packageN, dataN);  // warm the page cache
    double one = run(1, package1, data1);
    double all = run(cores, packageN, dataN);
    std::printf("build %d files of %zu bytes: --jobs %d %.3f s, baseline --jobs 1 %.3f s, speed-up %.2fx (goal >= 1.7 on 2 cores)\n",
                files, size, cores, all, one, one / all);
    std::printf("size: package data %llu bytes, baseline zlib -9 file by file %llu bytes, ratio %.4f (goal <= 1.0); "
                "whole package with headers %llu bytes\n",
                (unsigned long long)dataN, (unsigned long long)zlibFileByFile, (double)dataN / (double)zlibFileByFile,
                (unsigned long long)packageN);
    std::printf("identical for --jobs 1 and --jobs %d: %s\n", cores, package1 == packageN && data1 == dataN ? "sizes match" : "NO");
    fs::remove_all(root);
    return 0;
}
