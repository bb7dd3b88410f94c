// The game folder after a test update, against NEW_DIR and OLD_DIR.
#include "try/game_compare.h"

#include <map>

#include "build/base_compare.h"
#include "build/package_plan.h"
#include "host/host_files.h"
#include "lint/update_faults.h"

namespace fs = std::filesystem;

namespace {

struct Listed {
    std::string name;  // code page 932
    fs::path path;
};

// The files of a tree by the name Windows gives them (case ignored).
bool ListFiles(const fs::path& root, bool asUpdateFolder, std::map<std::string, Listed>& files, std::string& error)
{
    std::vector<PlannedEntry> entries;
    CollectOptions options;
    options.defaultExcludes = asUpdateFolder;
    if (!CollectEntries(root, options, entries, error))
        return false;
    for (const PlannedEntry& entry : entries)
        if (!entry.folder)
            files[NameKey(entry.name, false)] = {entry.name, entry.source};
    return true;
}

// 1 equal, 0 not, -1 unreadable.
int Same(const fs::path& a, const fs::path& b, std::string& error)
{
    std::error_code code;
    if (fs::file_size(a, code) != fs::file_size(b, code))
        return code ? -1 : 0;
    std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
    uint64_t read = 0;
    return SameContents(a, b, bufferA, bufferB, &read, error);
}

// The update's setup files at the top of the folder: the updater reads them from its work
// folder; in the game's folder they are no part of the game.
bool IsSetupFile(const std::string& name)
{
    return name.find('\\') == std::string::npos && (NameKey(name, false) == NameKey("install.env", false) ||
                                                    IsTitlePictureName(name));
}

}  // namespace

bool CompareGameFolder(const fs::path& game, const fs::path& old, const fs::path& expect, GameComparison& comparison,
                       std::string& error)
{
    std::map<std::string, Listed> inGame, inOld, inNew;
    if (!ListFiles(game, false, inGame, error) || !ListFiles(old, false, inOld, error) ||
        !ListFiles(expect, true, inNew, error))
        return false;
    for (const auto& [key, wanted] : inNew) {
        if (IsSetupFile(wanted.name))
            continue;
        auto found = inGame.find(key);
        auto before = inOld.find(key);
        if (found == inGame.end()) {
            comparison.missing.push_back(
                {wanted.name, before != inOld.end() ? "NEW_DIR has it and so had OLD_DIR; the update removed it"
                                                    : "NEW_DIR has it; the update did not bring it"});
            continue;
        }
        int same = Same(found->second.path, wanted.path, error);
        if (same < 0)
            return false;
        if (same == 1) {
            comparison.same++;
            continue;
        }
        std::string why = "its bytes are not NEW_DIR's";
        if (before != inOld.end() && Same(found->second.path, before->second.path, error) == 1)
            why += ": it is still OLD_DIR's file (the update did not bring the new one)";
        comparison.differs.push_back({found->second.name, why});
    }
    for (const auto& [key, file] : inGame) {
        if (inNew.count(key) != 0 && !IsSetupFile(file.name))
            continue;
        if (IsSetupFile(file.name)) {
            if (inOld.count(key) == 0)
                comparison.setupLeft.push_back(file.name);
            else
                comparison.kept.push_back(file.name);
            continue;
        }
        if (inOld.count(key) != 0)
            comparison.kept.push_back(file.name);
        else
            comparison.extra.push_back({file.name, "neither NEW_DIR nor OLD_DIR has it; the update brought it"});
    }
    for (const auto& [key, file] : inOld)
        if (inNew.count(key) == 0 && inGame.count(key) == 0)
            comparison.removed.push_back(file.name);
    return true;
}

bool CompareWithOld(const fs::path& game, const fs::path& old, GameChanges& changes, std::string& error)
{
    std::map<std::string, Listed> inGame, inOld;
    if (!ListFiles(game, false, inGame, error) || !ListFiles(old, false, inOld, error))
        return false;
    for (const auto& [key, file] : inGame) {
        auto before = inOld.find(key);
        if (before == inOld.end()) {
            changes.added.push_back(file.name);
            continue;
        }
        int same = Same(file.path, before->second.path, error);
        if (same < 0)
            return false;
        if (same == 1)
            changes.unchanged++;
        else
            changes.replaced.push_back(file.name);
    }
    for (const auto& [key, file] : inOld)
        if (inGame.count(key) == 0)
            changes.removed.push_back(file.name);
    return true;
}
