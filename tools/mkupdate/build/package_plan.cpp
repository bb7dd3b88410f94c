// The plan of a build: the source tree walked into ordered package entries, with the exclusions.
#include "build/package_plan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <system_error>

#include "build/name_room.h"
#include "cli/command_line.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "cli/text_util.h"
#include "examine/update_file.h"
#include "package/entry_names.h"
#include "text/cp932_text.h"

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
        auto [at, fresh] = seen.emplace(NameKey(entry.name, entry.folder), &entry);
        if (!fresh) {
            const PlannedEntry* other = at->second;
            error = DisplayName(other->name) + " and " + DisplayName(entry.name) +
                    ": the same name once case is ignored, as Windows ignores it; rename one of them";
            return false;
        }
    }
    return true;
}

// Left out of every build unless --no-default-excludes: version control and what desktops leave
// behind; none of it belongs in a player's game folder.
const char* const kClutter[] = {".git/", ".svn/", ".hg/", "Thumbs.db", "desktop.ini", ".DS_Store"};

// Case is ignored, as Windows folders ignore it; "*" and "?" stay within one name.
bool GlobMatch(const char* pattern, const char* text)
{
    if (*pattern == '\0')
        return *text == '\0';
    if (*pattern == '*')
        return GlobMatch(pattern + 1, text) || (*text != '\0' && *text != '/' && GlobMatch(pattern, text + 1));
    if (*text == '\0' || (*pattern == '?' ? *text == '/' : std::tolower((unsigned char)*pattern) != std::tolower((unsigned char)*text)))
        return false;
    return GlobMatch(pattern + 1, text + 1);
}

// A pattern without "/" matches a file or folder name anywhere in the tree; one with "/" inside
// matches the path from SRC_DIR; a trailing "/" matches folders only.
bool IsExcluded(const std::filesystem::path& relative, bool folder, const std::vector<std::string>& patterns)
{
    std::string path = relative.generic_u8string();
    std::string name = relative.filename().u8string();
    for (std::string pattern : patterns) {
        bool foldersOnly = !pattern.empty() && pattern.back() == '/';
        if (foldersOnly)
            pattern.pop_back();
        if (pattern.empty() || (foldersOnly && !folder))
            continue;
        bool anywhere = pattern.find('/') == std::string::npos;
        if (GlobMatch(pattern.c_str(), anywhere ? name.c_str() : path.c_str()))
            return true;
    }
    return false;
}

// The patterns of an ignore file: one a line; blank lines and lines starting with "#" are skipped.
std::vector<std::string> IgnoreFilePatterns(const std::string& text)
{
    std::vector<std::string> patterns;
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find('\n', start);
        std::string line = text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            patterns.push_back(line);
        if (stop == std::string::npos)
            break;
        start = stop + 1;
    }
    return patterns;
}

// The entry's name: the parts of the path in code page 932, backslash separated. False with the
// reason when a part has no such form.
bool EntryName(const std::filesystem::path& relative, std::string& name, std::string& why)
{
    for (const std::filesystem::path& component : relative) {
        std::string cp932;
        if (!NameToCp932(component, cp932, why))
            return false;
        if (!name.empty())
            name += '\\';
        name += cp932;
    }
    return true;
}

// A folder, or a file with its size; a link to a folder, a broken link or a device is refused.
bool ReadEntryKind(const TreeItem& item, PlannedEntry& entry, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code code;
    fs::file_status status = item.entry.status(code);
    // Links to files are followed: their bytes are what the player gets. A link to a folder (a
    // symbolic link, a junction, a mount point) is refused, not left out: leaving it out would
    // ship the game without what it holds, and entering it could walk outside the tree or loop.
    if (!code && fs::is_directory(status) && item.link) {
        error = PathForDisplay(item.entry.path()) +
                ": a symbolic link to a folder; mkupdate build follows links to files only. Copy the folder in instead";
        return false;
    }
    if (!code && fs::is_directory(status)) {
        entry.folder = true;
        entry.name += '\\';
    } else if (!code && fs::is_regular_file(status)) {
        entry.source = item.entry.path();
        entry.size = item.entry.file_size(code);
    } else {
        error = PathForDisplay(item.entry.path()) + ": neither a file nor a folder (a broken link or a device?)";
        return false;
    }
    return true;
}

// The limits of the package format, and the file's last-write time.
bool CheckEntryLimits(const std::filesystem::path& path, PlannedEntry& entry, std::string& error)
{
    // Whatever fits under the shortest install folder also fits the format's 259-byte names.
    std::string why;
    if (CheckNameRoom(entry.name, entry.folder, why) == NameRoom::kNone) {
        error = PathForDisplay(path) + ": " + why;
        return false;
    }
    if (entry.folder)
        return true;
    if (entry.size > 0x7FFFFFFFu) {
        error = PathForDisplay(path) + ": 2 GiB or larger; a package file must stay below 2 GiB";
        return false;
    }
    if (!ReadHostFileTime(entry.source, entry.lastWriteTime)) {
        error = PathForDisplay(path) + ": cannot read its last-write time";
        return false;
    }
    return true;
}

// One line a name, and a count when there are several.
std::string UnnamedMessage(const std::vector<std::string>& unnamed)
{
    std::string message;
    for (const std::string& line : unnamed)
        message += (message.empty() ? "" : "\n") + line;
    if (unnamed.size() > 1)
        message += "\n" + std::to_string(unnamed.size()) + " names cannot be carried; rename them";
    return message;
}

}  // namespace

// An executable with a package behind it whose first entry is a settings file: what build writes.
bool IsBuiltUpdate(const std::filesystem::path& path)
{
    UpdateFile file;
    if (!file.Open(path.string()))
        return false;
    int32_t packageSize = 0;
    PackageEntry entry;
    ByteStream* stream = file.Stream();
    unsigned char magic[2] = {0, 0};
    if (stream->seek(stream->context, 0, SEEK_SET) != 0 || stream->read(stream->context, magic, 2) != 2 ||
        magic[0] != 'M' || magic[1] != 'Z')
        return false;
    return LocatePackage(stream, &packageSize) == PACKAGE_ENTRY && ReadPackageEntry(stream, &entry) == PACKAGE_ENTRY &&
           std::string(entry.name) == "install.env";
}

std::string NameKey(const std::string& cp932, bool folder)
{
    std::string key(cp932.size() + 1, '\0');
    EntryNameKey(cp932.c_str(), folder, &key[0], key.size());
    key.resize(std::strlen(key.c_str()));
    return key;
}

bool CollectEntries(const std::filesystem::path& root, std::vector<PlannedEntry>& entries, std::string& error)
{
    CollectOptions options;
    options.defaultExcludes = false;
    return CollectEntries(root, options, entries, error);
}

bool CollectEntries(const std::filesystem::path& root, const CollectOptions& options, std::vector<PlannedEntry>& entries,
                    std::string& error)
{
    // Names without a code page 932 form are gathered, so one run reports them all.
    std::vector<std::string> unnamed;
    TreeWalk walk;
    walk.excludes = ExcludePatterns(root, options);
    walk.leftOut = [&](const TreeItem& item) {
        if (options.leftOut != nullptr)
            options.leftOut->push_back(item.relative.generic_u8string() + (item.folder ? "/" : ""));
    };
    walk.visit = [&](const TreeItem& item, std::string& why) {
        PlannedEntry entry;
        std::string unfit;
        if (!EntryName(item.relative, entry.name, unfit)) {
            unnamed.push_back(PathForDisplay(item.entry.path()) + ": the name " + unfit);
            return TreeStep::kGoOn;
        }
        if (!ReadEntryKind(item, entry, why) || !CheckEntryLimits(item.entry.path(), entry, why))
            return TreeStep::kStop;
        // An update built earlier and left in the folder would be shipped inside this one.
        if (!entry.folder && options.defaultExcludes && IsBuiltUpdate(entry.source)) {
            if (options.leftOut != nullptr)
                options.leftOut->push_back(item.relative.generic_u8string() + " (an update built earlier)");
            return TreeStep::kGoOn;
        }
        entries.push_back(std::move(entry));
        return TreeStep::kGoOn;
    };
    if (!WalkTree(root, walk, error))
        return false;
    if (!unnamed.empty()) {
        error = UnnamedMessage(unnamed);
        return false;
    }
    return RefuseCaseCollisions(entries, error);
}

bool WalkTree(const std::filesystem::path& root, const TreeWalk& walk, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code code;
    fs::recursive_directory_iterator items(root, code), end;
    auto unreadable = [&](const fs::path& folder) {
        error = PathForDisplay(folder) + ": cannot read the folder: " + code.message();
        return false;
    };
    if (code)
        return unreadable(root);
    while (items != end) {
        const fs::directory_entry& entry = *items;
        std::error_code ignored;
        // Asked of the host, not of std::filesystem: MinGW's sees no links at all.
        bool link = IsLink(entry.path());
        bool directory = entry.is_directory(ignored);
        bool folder = directory && (walk.linkedFolders || !link);
        TreeItem item{entry, entry.path().lexically_relative(root), folder, link};
        TreeStep step = TreeStep::kPassOver;
        if (IsExcluded(item.relative, folder, walk.excludes)) {
            if (walk.leftOut)
                walk.leftOut(item);
        } else {
            step = walk.visit(item, error);
        }
        if (step == TreeStep::kStop)
            return false;
        // A link is never entered, whatever it points at, so a link loop cannot hold the walk.
        bool enter = directory && !link && step != TreeStep::kPassOver;
        if (!enter)
            items.disable_recursion_pending();
        fs::path reading = enter ? entry.path() : entry.path().parent_path();
        // A folder that cannot be opened or read ends the iterator with the error set; the
        // error is checked before the end, or the walk would end quietly with part of the tree.
        items.increment(code);
        if (code)
            return unreadable(reading);
    }
    return true;
}

bool WarnOfTightNames(const std::vector<PlannedEntry>& entries, bool strict, std::string& error)
{
    std::vector<std::string> tight;
    for (const PlannedEntry& entry : entries) {
        std::string why;
        if (CheckNameRoom(entry.name, entry.folder, why) != NameRoom::kFits)
            tight.push_back(DisplayName(entry.name) + ": " + why);
    }
    if (strict && !tight.empty()) {
        for (const std::string& line : tight)
            error += line + "\n";
        error += "--strict counts these warnings as errors";
        return false;
    }
    for (const std::string& line : tight)
        PrintTo(stderr, "mkupdate build: warning: %s\n", line.c_str());
    return true;
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

std::vector<std::string> ExcludePatterns(const std::filesystem::path& root, const CollectOptions& options)
{
    std::vector<std::string> excludes = options.excludes;
    if (options.defaultExcludes) {
        excludes.insert(excludes.end(), std::begin(kClutter), std::end(kClutter));
        excludes.push_back(kIgnoreFile);
        std::string listed;
        if (ReadWholeFile(root / kIgnoreFile, listed))
            for (const std::string& line : IgnoreFilePatterns(listed))
                excludes.push_back(line);
    }
    return excludes;
}
