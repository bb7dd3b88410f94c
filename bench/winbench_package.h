// What the Windows benchmarks share: text-like contents made piece by piece (so a 1 GiB file
// never sits in memory uncompressed), a package written straight to disk behind any image, and
// the baseline every figure is compared with, a plain zlib loop that inflates each entry to its
// file in 128 KiB blocks.
#ifndef UPDATER_BENCH_WINBENCH_PACKAGE_H
#define UPDATER_BENCH_WINBENCH_PACKAGE_H

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/byte_stream.h"
#include "package/package_format.h"
#include "package/package_writer.h"
#include "text/buffer_sizes.h"

namespace winbench {

const size_t kUnit = BLOCK_SIZE;  // the stub's extraction block

inline double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// Words and digits: about 3:1 under zlib, like game scripts and tables.
inline void FillPiece(std::vector<unsigned char>& piece, unsigned& state)
{
    static const char* words[] = {"scene ", "actor ", "move ", "wait ", "say ", "bgm ", "fade ", "\r\n"};
    size_t at = 0;
    while (at < piece.size()) {
        state = state * 1103515245u + 12345u;
        const char* word = words[(state >> 16) & 7];
        for (const char* c = word; *c != '\0' && at < piece.size(); ++c)
            piece[at++] = (unsigned char)*c;
        if (at < piece.size())
            piece[at++] = (unsigned char)('0' + (state >> 24) % 10);
    }
}

inline std::vector<unsigned char> CompressGenerated(uint64_t size, unsigned seed)
{
    z_stream zs{};
    deflateInit(&zs, 6);
    std::vector<unsigned char> out;
    // About 1:4 for these words; room up front keeps a 1 GiB file from doubling its buffer in a
    // 32-bit address space.
    out.reserve((size_t)(size / 3) + (1 << 20));
    std::vector<unsigned char> piece(1 << 20);
    unsigned state = seed;
    uint64_t left = size;
    int flush = Z_NO_FLUSH;
    do {
        size_t n = left < piece.size() ? (size_t)left : piece.size();
        FillPiece(piece, state);
        left -= n;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = piece.data();
        zs.avail_in = (uInt)n;
        do {
            size_t before = out.size();
            out.resize(before + (1 << 20));
            zs.next_out = out.data() + before;
            zs.avail_out = 1 << 20;
            deflate(&zs, flush);
            out.resize(before + (1 << 20) - zs.avail_out);
        } while (zs.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&zs);
    return out;
}

// A file of the package: generated contents of `size` bytes, or `contents` as given.
struct BenchFile {
    std::string name;
    uint64_t size = 0;
    std::string contents;
    bool generated = true;
};

inline BenchFile Generated(const std::string& name, uint64_t size)
{
    return {name, size, "", true};
}

inline BenchFile Literal(const std::string& name, const std::string& contents)
{
    return {name, contents.size(), contents, false};
}

// Writes `image` and a package of `files` behind it; the folder of the first nested name is
// made a folder entry before it.
inline bool WritePackage(const std::string& path, const std::string& image, const std::vector<BenchFile>& files)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return false;
    std::fwrite(image.data(), 1, image.size(), out);
    PackageWriter writer([out](const unsigned char* d, size_t n) { std::fwrite(d, 1, n, out); }, image.size());
    bool folderMade = false;
    unsigned seed = 1;
    for (const BenchFile& file : files) {
        if (!folderMade && file.name.find('\\') != std::string::npos) {
            writer.AddFolder(file.name.substr(0, file.name.find('\\') + 1));
            folderMade = true;
        }
        std::vector<unsigned char> data;
        if (file.generated) {
            data = CompressGenerated(file.size, seed++);
        } else {
            uLongf length = compressBound((uLong)file.contents.size());
            data.resize(length);
            compress2(data.data(), &length, (const Bytef*)file.contents.data(), (uLong)file.contents.size(), 6);
            data.resize(length);
        }
        writer.AddFile(file.name, (int32_t)file.size, 0x01D8000000000000ull, data);
    }
    writer.Finish();
    return std::fclose(out) == 0;
}

// The baseline: the same entries inflated straight to their files, nothing else.
inline bool PlainZlibLoop(const std::string& package, const std::string& destination)
{
    std::FILE* in = std::fopen(package.c_str(), "rb");
    if (in == nullptr)
        return false;
    ByteStream stream = FileByteStream(in);
    int32_t size = 0;
    if (LocatePackage(&stream, &size) != PACKAGE_ENTRY) {
        std::fclose(in);
        return false;
    }
    std::vector<unsigned char> input(kUnit), output(kUnit);
    bool ok = true;
    for (;;) {
        PackageEntry entry;
        if (ReadPackageEntry(&stream, &entry) != PACKAGE_ENTRY)
            break;
        std::string path = destination + "\\" + entry.name;
        if (IsFolderEntry(&entry)) {
            CreateDirectoryA(path.c_str(), nullptr);
            continue;
        }
        unsigned char time[8];
        std::fread(time, 1, 8, in);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        z_stream zs{};
        inflateInit(&zs);
        uint32_t remaining = entry.compressedSize;
        int result = Z_OK;
        while (ok && result != Z_STREAM_END) {
            if (zs.avail_in == 0 && remaining > 0) {
                uint32_t chunk = remaining < kUnit ? remaining : (uint32_t)kUnit;
                zs.next_in = input.data();
                zs.avail_in = (uInt)std::fread(input.data(), 1, chunk, in);
                remaining -= chunk;
            }
            zs.next_out = output.data();
            zs.avail_out = (uInt)kUnit;
            result = inflate(&zs, Z_NO_FLUSH);
            ok = result == Z_OK || result == Z_STREAM_END;
            if (out != nullptr)
                std::fwrite(output.data(), 1, kUnit - zs.avail_out, out);
        }
        inflateEnd(&zs);
        if (out != nullptr)
            std::fclose(out);
        if (!ok)
            break;
    }
    std::fclose(in);
    return ok;
}

inline std::string TempFolder(const char* name)
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string path = std::string(base) + name;
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

inline void EmptyFolder(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            EmptyFolder(path);
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
}

inline double TimeBaseline(const std::string& package, const std::string& destination)
{
    EmptyFolder(destination);
    double start = Now();
    PlainZlibLoop(package, destination);
    return Now() - start;
}

}  // namespace winbench

#endif
