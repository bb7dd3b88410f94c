// Whether an entry's name fits under the folders players install games in.
#include "build/name_room.h"

#include "build/package_plan.h"
#include "host/host_files.h"
#include "package/entry_names.h"

NameRoom CheckNameRoom(const std::string& cp932, bool folder, std::string& why)
{
    int longest = LongestInstallFolder(cp932.c_str(), folder);
    const std::string rule =
        " (the updater writes paths of at most 259 bytes, install folder included, and keeps 22 bytes of room "
        "in each folder for the files waiting there)";
    if (longest < kShortestInstallFolder) {
        why = "the name is " + std::to_string(cp932.size()) + " bytes in code page 932 and fits under no install folder, "
              "not even C:\\G" + rule + "; shorten it or its folders";
        return NameRoom::kNone;
    }
    if (longest < kOrdinaryInstallFolder) {
        why = "the name is " + std::to_string(cp932.size()) +
              " bytes in code page 932 and leaves room for an install folder of " + std::to_string(longest) +
              " bytes at most; an ordinary one such as C:\\Program Files (x86)\\<company>\\<game> takes about " +
              std::to_string(kOrdinaryInstallFolder) + rule + "; shorten it or its folders";
        return NameRoom::kTight;
    }
    why.clear();
    return NameRoom::kFits;
}

bool JudgeNameRoom(const std::string& cp932, bool folder, std::string& problem, std::vector<std::string>& warnings)
{
    std::string why;
    NameRoom room = CheckNameRoom(cp932, folder, why);
    if (room == NameRoom::kNone) {
        problem = why;
        return false;
    }
    if (room == NameRoom::kTight)
        warnings.push_back(DisplayName(cp932) + ": " + why);
    return true;
}

std::vector<NameRoomNote> CheckTreeNameRoom(const std::filesystem::path& folder)
{
    std::vector<NameRoomNote> notes;
    TreeWalk walk;
    walk.excludes = ExcludePatterns(folder, CollectOptions());
    walk.visit = [&](const TreeItem& item, std::string&) {
        std::string name, component, unused;
        for (const std::filesystem::path& part : item.relative) {
            if (!NameToCp932(part, component, unused))
                return TreeStep::kPassOver;
            name += (name.empty() ? "" : "\\") + component;
        }
        NameRoomNote note;
        NameRoom room = CheckNameRoom(name, item.folder, note.why);
        if (room != NameRoom::kFits) {
            note.path = PathForDisplay(item.entry.path());
            note.error = room == NameRoom::kNone;
            notes.push_back(std::move(note));
        }
        return TreeStep::kGoOn;
    };
    std::string unused;
    WalkTree(folder, walk, unused);
    return notes;
}
