// Opening an update executable for the inspecting commands, and the texts they share.
#ifndef MKUPDATE_UPDATE_FILE_H
#define MKUPDATE_UPDATE_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/package_walk.h"

// An update file open for reading; closes itself.
class UpdateFile {
public:
    UpdateFile() = default;
    ~UpdateFile();
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    bool Open(const std::string& path);
    ByteStream* Stream() { return &stream_; }

private:
    std::FILE* file_ = nullptr;
    ByteStream stream_{};
};

// "offset N: NAME: text" with the name in UTF-8.
std::string DescribeProblem(const PackageProblem& problem);

// "YYYY-MM-DD HH:MM:SS" in UTC.
std::string FormatFileTime(uint64_t fileTime);

#endif
