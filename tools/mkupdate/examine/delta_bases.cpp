// Old versions for verify --base and extract --base (examine/delta_bases.h).
#include "examine/delta_bases.h"

#include "build/package_plan.h"
#include "host/host_files.h"

bool DeltaBases::Read(const std::vector<std::filesystem::path>& folders, std::string& error)
{
    folders_ = folders;
    trees_.resize(folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        std::error_code code;
        if (!std::filesystem::is_directory(folders[i], code)) {
            error = PathForDisplay(folders[i]) + ": --base is not a folder";
            return false;
        }
        if (!ReadOldTree(folders[i], {}, false, trees_[i], error))
            return false;
    }
    return true;
}

bool DeltaBases::Find(size_t base, const std::string& name, const OldFile*& file, std::string& error)
{
    auto [at, fresh] = files_.try_emplace({base, NameKey(name, false)});
    file = &at->second;
    if (!fresh)
        return true;
    auto found = trees_[base].byName.find(NameKey(name, false));
    if (found == trees_[base].byName.end())
        return true;
    for (const OldEntry& entry : found->second) {
        if (entry.folder)
            continue;
        at->second.path = entry.path;
        if (!HashFile(entry.path, at->second.size, at->second.hash, error))
            return false;
        at->second.present = true;
        break;
    }
    return true;
}

const DeltaSource* DeltaBases::Open(const std::filesystem::path& path)
{
    open_ = std::make_unique<DeltaFileSource>(path);
    return open_->Open() ? open_->Source() : nullptr;
}
