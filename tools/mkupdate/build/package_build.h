// Compresses planned entries on several threads and writes stub + package, byte-identical
// whatever the number of threads.
#ifndef MKUPDATE_PACKAGE_BUILD_H
#define MKUPDATE_PACKAGE_BUILD_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "build/package_plan.h"

// A compressed stream: its first bytes in memory, the rest (of a stream larger than
// `memoryLimit`) in an anonymous temporary file, so a build of a file of any size the format
// allows holds a bounded amount of memory, also in a 32-bit process.
class ZlibStream {
public:
    explicit ZlibStream(size_t memoryLimit = kDefaultMemoryLimit) : memoryLimit_(memoryLimit) {}
    ZlibStream(ZlibStream&& other) noexcept;
    ZlibStream& operator=(ZlibStream&& other) noexcept;
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;
    ~ZlibStream();

    bool Append(const unsigned char* data, size_t size, std::string& error);
    uint64_t Size() const { return size_; }
    bool Spilled() const { return spill_ != nullptr; }
    // Hands the whole stream to `sink` in pieces; false when the temporary file cannot be read.
    bool CopyTo(const std::function<void(const unsigned char*, size_t)>& sink, std::string& error);

    static constexpr size_t kDefaultMemoryLimit = 8u << 20;

private:
    size_t memoryLimit_;
    std::vector<unsigned char> memory_;
    std::FILE* spill_ = nullptr;
    uint64_t size_ = 0;
};

// One complete zlib stream of a file's contents, read in pieces (the file is never held whole).
// With `capped`, stops (setting it) as soon as the stream grows past `cap` bytes.
bool CompressFile(const std::filesystem::path& path, int level, ZlibStream& zlib, uint64_t& originalSize,
                  std::string& error, uint64_t cap = UINT64_MAX, bool* capped = nullptr);

// What became of a changed file that could be packed as deltas.
struct DeltaVerdict {
    std::string name;                 // code page 932
    bool deltas = false;              // packed as deltas (else whole)
    bool nothingMatches = false;      // found out early: the new file shares nothing with an old one
    std::vector<uint64_t> deltaSizes; // each delta entry's data, one per old version
    uint64_t wholeSize = 0;           // the whole file's zlib stream, or how far it got
    bool wholeAtLeast = false;        // compression stopped once the deltas had clearly won
    uint64_t size = 0;                // the new file
};

struct BuildOptions {
    int level = 9;
    size_t deltaIndexBudget = 64u << 20;  // the matcher's index of each old file
    size_t memoryPerStream = ZlibStream::kDefaultMemoryLimit;  // compressed bytes held per file
    int jobs = 1;
    bool progress = false;  // a progress line on standard error (ProgressLine decides when it shows)
};

struct BuildResult {
    std::vector<DeltaVerdict> deltaVerdicts;  // in package order
    int deltas = 0;                           // delta entries written
    int files = 0;
    int folders = 0;
    uint64_t inputBytes = 0;
    uint64_t packageBytes = 0;
};

// Writes the stub's bytes and then the package of `entries` (already in order) to `output`.
bool WriteUpdate(const std::string& stub, const std::vector<PlannedEntry>& entries, const BuildOptions& options,
                 std::FILE* output, BuildResult& result, std::string& error);

#endif
