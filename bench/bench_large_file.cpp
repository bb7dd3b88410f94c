// mkupdate build of one incompressible file: peak memory of the whole process for a large file
// against a small one (each in a process of its own, since the peak only grows), and the build's
// speed against zlib -9 over the same bytes in memory. The goal: memory does not follow the size.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "build/package_build.h"
#include "build/package_plan.h"
#include "package/package_writer.h"

namespace fs = std::filesystem;

namespace {

long PeakKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One child's run: builds a file of `mib` MiB of random bytes and prints "PEAK_KIB SECONDS".
int BuildOne(long mib)
{
    fs::path root = fs::temp_directory_path() / ("bench_large_file_" + std::to_string(mib));
    fs::remove_all(root);
    fs::create_directories(root);
    {
        std::ofstream out(root / "movie.dat", std::ios::binary);
        std::vector<char> piece(1 << 20);
        unsigned x = 12345;
        for (long i = 0; i < mib; ++i) {
            for (char& c : piece) {
                x = x * 1103515245u + 12345u;
                c = (char)(x >> 23);
            }
            out.write(piece.data(), (std::streamsize)piece.size());
        }
    }
    std::vector<PlannedEntry> entries(1);
    entries[0].name = "movie.dat";
    entries[0].source = root / "movie.dat";
    entries[0].size = (uint64_t)mib << 20;
    fs::path output = root / "out.exe";
    std::FILE* file = std::fopen(output.string().c_str(), "wb");
    BuildOptions options;
    options.jobs = 2;
    BuildResult result;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    bool ok = WriteUpdate("MZ", entries, options, file, result, error);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fclose(file);
    fs::remove_all(root);
    if (!ok) {
        std::fprintf(stderr, "bench_large_file: %s\n", error.c_str());
        return 1;
    }
    std::printf("%ld %.3f\n", PeakKiB(), seconds);
    return 0;
}

bool RunChild(const char* self, long mib, long& peakKiB, double& seconds)
{
    std::string command = std::string("\"") + self + "\" --one " + std::to_string(mib);
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    int read = std::fscanf(pipe, "%ld %lf", &peakKiB, &seconds);
    return pclose(pipe) == 0 && read == 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--one")
        return BuildOne(std::atol(argv[2]));
    long small = 16, large = argc > 1 ? std::atol(argv[1]) : 512;
    long smallPeak = 0, largePeak = 0;
    double smallSeconds = 0, largeSeconds = 0;
    if (!RunChild(argv[0], small, smallPeak, smallSeconds) || !RunChild(argv[0], large, largePeak, largeSeconds)) {
        std::fprintf(stderr, "bench_large_file: a child run failed\n");
        return 1;
    }
    std::printf("one incompressible file: peak memory %.1f MiB for %ld MiB, %.1f MiB for %ld MiB: growth %.1f MiB "
                "(goal: bounded, not following the size; before: about the file's size)\n",
                smallPeak / 1024.0, small, largePeak / 1024.0, large, (largePeak - smallPeak) / 1024.0);
    std::printf("build speed: %.1f MiB/s for %ld MiB, %.1f MiB/s for %ld MiB\n", small / smallSeconds, small,
                large / largeSeconds, large);
    return 0;
}
