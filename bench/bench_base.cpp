// mkupdate build --base against the work it saves: a previous release of 20,000 files (a few GiB)
// and a new one in which 2 % of the files changed (half of them keeping their size). The product
// builds the update from the two whole trees; the baseline is a plain build of a folder holding
// only the changed files, as a game maker would prepare it by hand. Both run on every core with
// the default level, best of three, with the trees in the page cache; both updates must come out
// byte for byte the same.
//
// Usage: bench_base [FILES [MIB]]   (default 20000 files, 3072 MiB per tree)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/rct_convert.h"
#include "image/rct_decoder.h"

namespace fs = std::filesystem;

namespace {

uint64_t g_state = 0x9E3779B97F4A7C15ull;

uint64_t Next()
{
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return g_state;
}

// Most of a game's bytes are pictures, sound and movies that compress no further; scripts and
// tables are the rest.
std::string Contents(size_t size, bool compressible)
{
    std::string bytes(size, '\0');
    if (compressible) {
        static const char* words[] = {"scene ", "actor ", "wait ", "say ", "bgm ", "fade ", "\r\n", "0x1F "};
        size_t at = 0;
        while (at < size) {
            const char* word = words[Next() % 8];
            for (; *word != '\0' && at < size; ++word)
                bytes[at++] = *word;
        }
    } else {
        for (size_t at = 0; at < size; at += 8) {
            uint64_t value = Next();
            for (size_t k = 0; k < 8 && at + k < size; ++k)
                bytes[at + k] = (char)(value >> (8 * k));
        }
    }
    return bytes;
}

void Write(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A copy with the same last-write time, as a maker's copy keeps it.
void CopyFile(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::last_write_time(to, fs::last_write_time(from));
}

double Best(int runs, const Args& args, int& code)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        fs::remove(args[2]);
        auto start = std::chrono::steady_clock::now();
        code = RunBuild(args);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (code != 0)
            break;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    uint64_t total = (argc > 2 ? (uint64_t)std::atoll(argv[2]) : 3072) << 20;
    fs::path root = fs::temp_directory_path() / ("bench_base_" + std::to_string(std::rand()) + std::to_string(files));
    fs::remove_all(root);
    fs::path oldDir = root / "old", newDir = root / "new", byHand = root / "changed";
    const std::string settings = "TITLEBAR\tBench\r\nKEYFILE\tgame.exe\r\n[delfiles_afterinst]\r\ninstall.env\r\n-\r\n[EOF]\r\n";

    // Sizes spread from a few KiB to a few MiB around the mean, 30 folders two levels deep.
    uint64_t mean = total / (uint64_t)files;
    std::vector<fs::path> names;
    uint64_t written = 0;
    for (int i = 0; i < files; ++i) {
        fs::path name = fs::path("data" + std::to_string(i % 6)) / ("set" + std::to_string(i % 5)) /
                        ("file" + std::to_string(i) + ".dat");
        size_t size = (size_t)(mean / 4 + Next() % (mean * 3 / 2 + 1));
        Write(oldDir / name, Contents(size, i % 4 == 0));
        names.push_back(name);
        written += size;
    }
    Write(oldDir / "game.exe", "MZ game");
    for (const fs::path& name : names)
        CopyFile(oldDir / name, newDir / name);
    CopyFile(oldDir / "game.exe", newDir / "game.exe");
    Write(newDir / "install.env", settings);
    // Every update carries its title picture.
    RgbImage picture;
    picture.width = picture.height = 16;
    picture.bgr.assign(16 * 16 * 3, 0x40);
    std::string rct, error;
    EncodeRct(picture, RCT_TC00, "", rct, error);
    Write(newDir / "insttscr.rct", rct);
    // 2 % changed: every 50th file, half in place (same size), half grown.
    int changed = 0;
    for (size_t i = 0; i < names.size(); i += 50, ++changed) {
        std::string bytes = Read(newDir / names[i]);
        if (changed % 2 == 0)
            bytes[bytes.size() / 2] ^= 0x55;
        else
            bytes += "appended in 1.10";
        Write(newDir / names[i], bytes);
        CopyFile(newDir / names[i], byHand / names[i]);
    }
    CopyFile(newDir / "install.env", byHand / "install.env");
    CopyFile(newDir / "insttscr.rct", byHand / "insttscr.rct");
    Write(root / "stub.exe", "MZ stub");

    std::printf("trees: %d files, %.2f GiB each; %d changed (2%%), half of them the same size\n", files,
                (double)written / (1 << 30), changed);
    std::string stub = (root / "stub.exe").string();
    int code = 0;
    // Once each first, so both sides start from the page cache.
    Best(1, {newDir.string(), "-o", (root / "base.exe").string(), "--stub", stub, "--base", oldDir.string(), "-q"}, code);
    double plain = Best(3, {byHand.string(), "-o", (root / "plain.exe").string(), "--stub", stub, "-q"}, code);
    if (code != 0)
        return 1;
    double base = Best(3, {newDir.string(), "-o", (root / "base.exe").string(), "--stub", stub, "--base",
                           oldDir.string(), "-q"}, code);
    if (code != 0)
        return 1;
    bool same = Read(root / "plain.exe") == Read(root / "base.exe");
    std::printf("build --base of the whole trees: %.2f s\n", base);
    std::printf("build of the changed files prepared by hand (baseline): %.2f s\n", plain);
    std::printf("ratio: %.2f (goal <= 1.3); the two updates are %s\n", base / plain,
                same ? "the same bytes" : "DIFFERENT");
    fs::remove_all(root);
    return same ? 0 : 1;
}
