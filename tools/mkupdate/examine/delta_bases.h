// The old versions verify --base and extract --base apply an update's delta entries to: each
// folder read as build reads OLD_DIR (names as Windows matches them), each file hashed once, and
// the delta entries of one name weighed together, as the updater weighs a player's file.
#ifndef MKUPDATE_DELTA_BASES_H
#define MKUPDATE_DELTA_BASES_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "build/base_compare.h"
#include "build/delta_match.h"
#include "package/package_walk.h"

class DeltaBases {
public:
    // Reads every folder's tree; false with a message when one cannot be read.
    bool Read(const std::vector<std::filesystem::path>& folders, std::string& error);
    size_t Count() const { return trees_.size(); }
    const std::filesystem::path& Folder(size_t base) const { return folders_[base]; }

    struct OldFile {
        bool present = false;
        std::filesystem::path path;
        uint64_t size = 0;
        unsigned char hash[SHA256_SIZE] = {};
    };
    // Folder `base`'s file of that name (code page 932), hashed; false with a message on a read error.
    bool Find(size_t base, const std::string& name, const OldFile*& file, std::string& error);

    // An open reader of the file, kept while the walk needs it.
    const DeltaSource* Open(const std::filesystem::path& path);

private:
    std::vector<std::filesystem::path> folders_;
    std::vector<OldTree> trees_;
    std::map<std::pair<size_t, std::string>, OldFile> files_;
    std::unique_ptr<DeltaFileSource> open_;
};

// The delta entries of one name met so far, and what each old version made of them.
struct DeltaGroup {
    std::string key;                 // NameKey of the name; empty before the first delta
    std::string name;                // as packed
    int64_t offset = 0;              // of the group's first entry
    std::vector<bool> served;        // per old version: a delta applies, or its file is already the new one
    std::vector<bool> absent;        // per old version: no file of that name
};

#endif
