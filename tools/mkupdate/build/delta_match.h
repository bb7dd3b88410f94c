// The matcher of build --base: the records that make a new file from one old version of it
// (package/delta_apply.h). The old file is indexed by a hash of 32-byte windows sampled every S
// bytes (S chosen so the index stays within a fixed budget, whatever --jobs says); a rolling hash
// over the new file finds matches, which are extended forward and back along their alignment,
// through near matches. Runs of 4 KiB or more that match exactly become copies, the rest of a
// match byte differences, what matches nothing new bytes. Both files are read in windows, so
// memory stays bounded (the index and a few MiB) whatever their sizes.
#ifndef MKUPDATE_DELTA_MATCH_H
#define MKUPDATE_DELTA_MATCH_H

#include <cstdint>
#include <filesystem>
#include <string>

#include "build/package_build.h"
#include "package/delta_apply.h"

struct DeltaMatchOptions {
    int level = 9;
    size_t indexBudget = 64u << 20;  // bytes of the old file's index
};

struct DeltaMade {
    DeltaHeader header{};
    ZlibStream records;           // the records' zlib stream (the entry's data after the header)
    bool nothingMatches = false;  // found out early: no records were made
    uint64_t copied = 0, differenced = 0, added = 0;  // result bytes by record kind
    uint64_t DataSize() const { return DELTA_HEADER_SIZE + records.Size(); }
};

// Makes the delta from `oldPath` to `newPath`. With `nothingMatches` set (a new file that shares
// nothing with the old one, found by probes spread over it before the whole file is read) the
// records stay empty. False with a message when a file cannot be read.
bool MakeDelta(const std::filesystem::path& oldPath, const std::filesystem::path& newPath,
               const DeltaMatchOptions& options, DeltaMade& made, std::string& error);

// The size and SHA-256 of a file, read in pieces.
bool HashFile(const std::filesystem::path& path, uint64_t& size, unsigned char hash[SHA256_SIZE], std::string& error);

// An old file read at any offset for the applier (ApplyDeltaEntry): a DeltaSource over a FILE*.
class DeltaFileSource {
public:
    explicit DeltaFileSource(const std::filesystem::path& path);
    ~DeltaFileSource();
    DeltaFileSource(const DeltaFileSource&) = delete;
    DeltaFileSource& operator=(const DeltaFileSource&) = delete;
    bool Open() const { return file_ != nullptr; }
    const DeltaSource* Source() const { return &source_; }

private:
    std::FILE* file_;
    DeltaSource source_;
};

// Opens a file for binary reading by a path with any characters, on Windows too.
std::FILE* OpenBinaryFile(const std::filesystem::path& path);
// Moves to a 64-bit offset (the 32-bit mkupdate.exe reads files of more than 2 GiB).
bool SeekFile(std::FILE* file, uint64_t offset);

#endif
