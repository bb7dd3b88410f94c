// Compresses planned entries on several threads and writes stub + package, byte-identical
// whatever the number of threads.
#ifndef MKUPDATE_PACKAGE_BUILD_H
#define MKUPDATE_PACKAGE_BUILD_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "build/package_plan.h"

// One complete zlib stream of a file's contents, read in pieces (the file is never held whole).
bool CompressFile(const std::filesystem::path& path, int level, std::vector<unsigned char>& zlib,
                  uint64_t& originalSize, std::string& error);

struct BuildOptions {
    int level = 9;
    int jobs = 1;
    bool progress = false;  // a progress line on standard error (ProgressLine decides when it shows)
};

struct BuildResult {
    int files = 0;
    int folders = 0;
    uint64_t inputBytes = 0;
    uint64_t packageBytes = 0;
};

// Writes the stub's bytes and then the package of `entries` (already in order) to `output`.
bool WriteUpdate(const std::string& stub, const std::vector<PlannedEntry>& entries, const BuildOptions& options,
                 std::FILE* output, BuildResult& result, std::string& error);

#endif
