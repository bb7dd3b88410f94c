// Opening an update executable for the inspecting commands, and the texts they share.
#ifndef MKUPDATE_UPDATE_FILE_H
#define MKUPDATE_UPDATE_FILE_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "package/package_walk.h"

// An update file open for reading; closes itself.
class UpdateFile {
public:
    UpdateFile() = default;
    ~UpdateFile();
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    // A path given as text is UTF-8 on every host (as mkupdate takes its arguments).
    bool Open(const std::string& path);
    bool Open(const std::filesystem::path& path);
    ByteStream* Stream() { return &stream_; }

private:
    std::FILE* file_ = nullptr;
    ByteStream stream_{};
};

// "offset N: NAME: text" with the name in UTF-8.
std::string DescribeProblem(const PackageProblem& problem);

// The totals that build and list both end with, so the two can be compared:
// "3 files, 1 folder, 1234 bytes packed into 567 (45.9%)"; the packed figure is the package
// (entries, end marker and padding), as the updater's overall progress bar counts it.
std::string FormatTotals(int files, int folders, uint64_t inputBytes, uint64_t packageBytes);

// Shows "\rmkupdate COMMAND: N%" on standard error while a long run reads `total` bytes, when
// standard error is a terminal and the file is large enough for it to matter.
class ProgressLine {
public:
    ProgressLine(const char* command, uint64_t total);
    ~ProgressLine();
    void Reached(uint64_t done);
    // Ends the line now (the destructor does it otherwise), so what follows starts on a line of its own.
    void Done();

private:
    const char* command_;
    uint64_t total_;
    bool shown_;
    int last_ = -1;
};

// RFC 3339 in UTC, for JSON: "2026-12-10T12:33:36Z".
std::string FormatFileTimeRfc3339(uint64_t fileTime);

// "YYYY-MM-DD HH:MM:SS" in UTC.
std::string FormatFileTime(uint64_t fileTime);

#endif
