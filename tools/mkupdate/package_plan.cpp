#include "package_plan.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "host_files.h"
#include "lint.h"
#include "package/entry_names.h"
#include "startup/cp932_text.h"

namespace {

int Depth(const std::string& name)
{
    int depth = 0;
    for (int i = 0; i < (int)name.size(); i = NextCharacter(name.c_str(), i))
        depth += name[(size_t)i] == '\\';
    return depth;
}

// Top-level files by this rank, then name: the settings file and the title image lead, as in
// the packages the updater was made for.
int TopLevelRank(const std::string& name)
{
    if (name == "install.env")
        return 0;
    if (name == "insttscr.rct")
        return 1;
    return 2;
}

// Windows ignores case, so "data" and "Data\\f", or README.TXT and readme.txt, are one name there.
bool RefuseCaseCollisions(const std::vector<PlannedEntry>& entries, std::string& error)
{
    std::map<std::string, const PlannedEntry*> seen;
    for (const PlannedEntry& entry : entries) {
        std::string key = entry.name;
        if (entry.folder)
            key.pop_back();
        LowerCp932(&key[0]);
        auto [at, fresh] = seen.emplace(key, &entry);
        if (!fresh) {
            const PlannedEntry* other = at->second;
            error = DisplayName(other->name) + " and " + DisplayName(entry.name) +
                    ": the same name once case is ignored, as Windows ignores it; rename one of them";
            return false;
        }
    }
    return true;
}

}  // namespace

bool CollectEntries(const std::filesystem::path& root, std::vector<PlannedEntry>& entries, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code code;
    fs::recursive_directory_iterator walk(root, code), end;
    if (code) {
        error = PathForDisplay(root) + ": cannot read the folder: " + code.message();
        return false;
    }
    for (; walk != end; walk.increment(code)) {
        if (code) {
            error = PathForDisplay(root) + ": cannot read the folder: " + code.message();
            return false;
        }
        const fs::directory_entry& item = *walk;
        fs::path relative = item.path().lexically_relative(root);
        PlannedEntry entry;
        for (const fs::path& component : relative) {
            std::string cp932, why;
            if (!NameToCp932(component, cp932, why)) {
                error = PathForDisplay(item.path()) + ": the name " + why;
                return false;
            }
            if (!entry.name.empty())
                entry.name += '\\';
            entry.name += cp932;
        }
        fs::file_status status = item.status(code);
        // Links to files are followed (their contents are packed); a link to a folder is refused,
        // since the walk would either pack it empty or could loop through it.
        if (!code && fs::is_directory(status) && item.is_symlink()) {
            error = PathForDisplay(item.path()) +
                    ": a symbolic link to a folder; mkupdate build follows links to files only. Copy the folder in instead";
            return false;
        }
        if (!code && fs::is_directory(status)) {
            entry.folder = true;
            entry.name += '\\';
        } else if (!code && fs::is_regular_file(status)) {
            entry.source = item.path();
            entry.size = item.file_size(code);
        } else {
            error = PathForDisplay(item.path()) + ": neither a file nor a folder (a broken link or a device?)";
            return false;
        }
        // nameLength counts the terminator and may not pass 260.
        if (entry.name.size() > 259) {
            error = PathForDisplay(item.path()) + ": the name is " + std::to_string(entry.name.size()) +
                    " bytes in code page 932; at most 259 fit (and the installed folder's path comes in front)";
            return false;
        }
        if (!entry.folder) {
            if (entry.size > 0x7FFFFFFFu) {
                error = PathForDisplay(item.path()) + ": 2 GiB or larger; a package file must stay below 2 GiB";
                return false;
            }
            if (!ReadLastWriteTime(entry.source, entry.lastWriteTime)) {
                error = PathForDisplay(item.path()) + ": cannot read its last-write time";
                return false;
            }
        }
        entries.push_back(std::move(entry));
    }
    return RefuseCaseCollisions(entries, error);
}

bool OrderEntries(std::vector<PlannedEntry>& entries, std::string& error)
{
    auto group = [](const PlannedEntry& e) {
        if (!e.folder && Depth(e.name) == 0)
            return 0;
        return e.folder ? 1 : 2;
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const PlannedEntry& a, const PlannedEntry& b) {
        int ga = group(a), gb = group(b);
        if (ga != gb)
            return ga < gb;
        if (ga == 0 && TopLevelRank(a.name) != TopLevelRank(b.name))
            return TopLevelRank(a.name) < TopLevelRank(b.name);
        if (ga == 1 && Depth(a.name) != Depth(b.name))
            return Depth(a.name) < Depth(b.name);
        return a.name < b.name;
    });
    // The setup pass ends at the first nested folder; a setup file inside a folder must lie
    // beyond it, and every such file comes after all folders here.
    bool nested = std::any_of(entries.begin(), entries.end(),
                              [](const PlannedEntry& e) { return e.folder && Depth(e.name) >= 2; });
    for (const PlannedEntry& entry : entries) {
        if (entry.folder || Depth(entry.name) == 0 || nested || !IsSetupFileName(entry.name.c_str()))
            continue;
        error = DisplayName(entry.name) +
                ": its name contains install.env, insttscr.rct or .txt, so the updater's setup pass would try "
                "to unpack it into its work folder and fail, since the setup pass creates no folders. The setup "
                "pass ends at the first folder inside a folder, and this tree has none. Move the file to the "
                "top level, rename it, or put it in a folder two levels deep.";
        return false;
    }
    return true;
}
