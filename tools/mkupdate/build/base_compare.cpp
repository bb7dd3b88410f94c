// build --base: the new tree against the previous release, file by file, by size then bytes.
#include "build/base_compare.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "host/host_files.h"
#include "lint/lint.h"
#include "text/cp932_text.h"
#include "examine/update_file.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kComparePiece = 1 << 20;

// Characters that Shift-JIS tables disagree about: JIS-based converters (and the files they made
// on other systems) give the first, Windows gives the second for the same code page 932 bytes.
const char* const kCp932Variants[][2] = {
    {"\xE3\x80\x9C", "\xEF\xBD\x9E"},  // wave dash U+301C, fullwidth tilde U+FF5E (0x8160)
    {"\xE2\x80\x96", "\xE2\x88\xA5"},  // double vertical line U+2016, parallel to U+2225 (0x8161)
    {"\xE2\x88\x92", "\xEF\xBC\x8D"},  // minus sign U+2212, fullwidth hyphen-minus U+FF0D (0x817C)
    {"\xE2\x80\x94", "\xE2\x80\x95"},  // em dash U+2014, horizontal bar U+2015 (0x815C)
    {"\xC2\xA2", "\xEF\xBF\xA0"},      // cent sign (0x8191)
    {"\xC2\xA3", "\xEF\xBF\xA1"},      // pound sign (0x8192)
    {"\xC2\xAC", "\xEF\xBF\xA2"},      // not sign (0x81CA)
};

bool OldComponentName(const fs::path& component, std::string& cp932)
{
    std::string utf8 = component.u8string();
    for (const auto& variant : kCp932Variants) {
        size_t length = std::strlen(variant[0]);
        for (size_t at = utf8.find(variant[0]); at != std::string::npos; at = utf8.find(variant[0], at))
            utf8.replace(at, length, variant[1]);
    }
    std::string why;
    return NameToCp932(fs::u8path(utf8), cp932, why);
}

bool EndsWithExe(const fs::path& path)
{
    std::string extension = path.extension().u8string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return (char)std::tolower((unsigned char)c); });
    return extension == ".exe";
}

// A top-level title picture is the source of insttscr.rct, never a file of the game.
bool IsTitlePictureName(const std::string& cp932)
{
    std::string folded = NameKey(cp932, false);
    return folded == "insttscr.png" || folded == "insttscr.bmp";
}

std::FILE* OpenForReading(const fs::path& path)
{
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    // Unbuffered: the pieces are read straight into the caller's buffer.
    if (file != nullptr)
        std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

// Every folder that holds `name` (code page 932), each with its trailing backslash.
void AddParentFolders(const std::string& name, std::set<std::string>& folders)
{
    const char* text = name.c_str();
    int length = (int)name.size();
    for (int i = 0; i < length; i = NextCharacter(text, i))
        if (text[i] == '\\' && i + 1 < length)
            folders.insert(name.substr(0, (size_t)i + 1));
}

// The equal-size pairs, compared on `jobs` threads; results[i] as SameContents returns it.
bool CompareAll(const std::vector<std::pair<fs::path, fs::path>>& pairs, uint64_t totalBytes, const BaseOptions& options,
                std::vector<int>& results, std::string& error)
{
    results.assign(pairs.size(), 0);
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> done{0};
    std::atomic<size_t> finished{0};
    std::mutex mutex;
    std::condition_variable changed;
    std::string firstError;
    auto work = [&] {
        std::vector<char> a(kComparePiece), b(kComparePiece);
        for (size_t i = next++; i < pairs.size(); i = next++) {
            std::string problem;
            uint64_t read = 0;
            results[i] = SameContents(pairs[i].first, pairs[i].second, a, b, &read, problem);
            done += read;
            if (results[i] < 0) {
                std::lock_guard<std::mutex> lock(mutex);
                if (firstError.empty())
                    firstError = problem;
                next = pairs.size();
            }
        }
        ++finished;
        changed.notify_all();
    };
    int jobs = std::max(1, std::min(options.jobs, (int)std::max<size_t>(1, pairs.size())));
    std::vector<std::thread> workers;
    for (int i = 0; i < jobs; ++i)
        workers.emplace_back(work);
    {
        ProgressLine progress("build", options.progress ? totalBytes : 0);
        std::unique_lock<std::mutex> lock(mutex);
        while (finished < (size_t)jobs) {
            changed.wait_for(lock, std::chrono::milliseconds(200));
            progress.Reached(done);
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    error = firstError;
    return firstError.empty();
}

}  // namespace

bool ReadOldTree(const fs::path& root, const std::vector<std::string>& excludes, bool skipUpdates, OldTree& tree,
                 std::string& error)
{
    // Each folder's code page 932 name, so a file converts its own name only.
    std::map<fs::path, std::string> folderNames;
    TreeWalk walk;
    walk.excludes = excludes;
    walk.linkedFolders = true;
    walk.visit = [&](const TreeItem& item, std::string& why) {
        std::string parentName;
        if (item.relative.has_parent_path()) {
            auto parent = folderNames.find(item.relative.parent_path());
            if (parent == folderNames.end())
                return TreeStep::kGoOn;  // inside an unnamed folder, reported with it
            parentName = parent->second + "\\";
        }
        std::string leaf;
        if (!OldComponentName(item.relative.filename(), leaf)) {
            tree.unnamed.push_back(item.relative.generic_u8string() + (item.folder ? "/" : ""));
            return TreeStep::kPassOver;
        }
        OldEntry entry;
        entry.name = parentName + leaf;
        entry.path = item.entry.path();
        std::error_code code;
        if (item.folder) {
            entry.folder = true;
            folderNames[item.relative] = entry.name;
            entry.name += '\\';
            // As build refuses a linked folder in the new tree: what lies behind it is no part of
            // the release, and its name alone would turn into wrong removal lines.
            if (item.link) {
                why = PathForDisplay(entry.path) +
                      ": a symbolic link to a folder in the previous release; copy the folder in instead";
                return TreeStep::kStop;
            }
        } else if (item.entry.is_regular_file(code)) {
            entry.size = item.entry.file_size(code);
            if (code) {
                why = PathForDisplay(entry.path) + ": cannot read its size: " + code.message();
                return TreeStep::kStop;
            }
            if (skipUpdates && EndsWithExe(entry.path) && IsBuiltUpdate(entry.path))
                return TreeStep::kGoOn;
        } else {
            return TreeStep::kGoOn;  // a broken link or a device: nothing the updater wrote or can remove
        }
        tree.byName[NameKey(entry.name, entry.folder)].push_back(std::move(entry));
        return TreeStep::kGoOn;
    };
    return WalkTree(root, walk, error);
}

int SameContents(const fs::path& a, const fs::path& b, std::vector<char>& bufferA, std::vector<char>& bufferB,
                 uint64_t* done, std::string& error)
{
    std::FILE* first = OpenForReading(a);
    std::FILE* second = first != nullptr ? OpenForReading(b) : nullptr;
    if (second == nullptr) {
        error = PathForDisplay(first == nullptr ? a : b) + ": cannot open the file to compare it";
        if (first != nullptr)
            std::fclose(first);
        return -1;
    }
    int result = 1;
    for (;;) {
        size_t gotA = std::fread(bufferA.data(), 1, bufferA.size(), first);
        size_t gotB = std::fread(bufferB.data(), 1, bufferB.size(), second);
        *done += gotA;
        if (std::ferror(first) || std::ferror(second)) {
            error = PathForDisplay(std::ferror(first) ? a : b) + ": read error while comparing";
            result = -1;
            break;
        }
        if (gotA != gotB || std::memcmp(bufferA.data(), bufferB.data(), gotA) != 0) {
            result = 0;
            break;
        }
        if (gotA < bufferA.size())
            break;
    }
    std::fclose(first);
    std::fclose(second);
    return result;
}

bool CompareWithBase(std::vector<PlannedEntry>& entries, const OldTree& old, const BaseOptions& options,
                     BaseResult& result, std::string& error)
{
    std::set<std::string> carried;
    for (const std::string& name : options.carried)
        carried.insert(NameKey(name, false));
    std::set<std::string> newNames;
    std::vector<Verdict> verdicts(entries.size());
    std::vector<std::pair<fs::path, fs::path>> pairs;
    std::vector<size_t> pairEntry;
    uint64_t pairBytes = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PlannedEntry& entry = entries[i];
        Verdict& verdict = verdicts[i];
        verdict.name = entry.name;
        verdict.folder = entry.folder;
        verdict.size = entry.size;
        std::string key = NameKey(entry.name, entry.folder);
        newNames.insert(key);
        auto found = old.byName.find(key);
        const OldEntry* match = nullptr;
        if (found != old.byName.end()) {
            match = &found->second.front();
            for (const OldEntry& candidate : found->second)
                if (candidate.name == entry.name)
                    match = &candidate;
            if (match->name != entry.name)
                verdict.oldName = match->name;
            if (match->folder != entry.folder) {
                error = DisplayName(entry.name) + ": a " + (entry.folder ? "folder" : "file") +
                        " in SRC_DIR but a " + (match->folder ? "folder" : "file") +
                        " in OLD_DIR; the updater cannot put one in the place of the other on a player's disk. "
                        "Give it another name";
                return false;
            }
        }
        if (entry.folder) {
            verdict.state = match == nullptr ? BaseState::kNew : BaseState::kUnchanged;
        } else if (carried.count(key) != 0 || entry.generated) {
            verdict.state = BaseState::kCarried;
        } else if (match == nullptr) {
            verdict.state = BaseState::kNew;
        } else if (match->size != entry.size) {
            verdict.state = BaseState::kChanged;
        } else {
            verdict.state = BaseState::kUnchanged;
            pairs.emplace_back(entry.source, match->path);
            pairEntry.push_back(i);
            pairBytes += entry.size;
        }
    }
    std::vector<int> same;
    if (!CompareAll(pairs, pairBytes, options, same, error))
        return false;
    for (size_t p = 0; p < pairs.size(); ++p) {
        if (same[p] == 0)
            verdicts[pairEntry[p]].state = BaseState::kChanged;
        result.comparedBytes += entries[pairEntry[p]].size;
    }

    // Folders are carried where they are new or a packed entry lies in them.
    std::set<std::string> needed;
    for (const Verdict& verdict : verdicts)
        if (verdict.folder ? verdict.state == BaseState::kNew : verdict.state != BaseState::kUnchanged)
            AddParentFolders(verdict.name, needed);
    std::vector<PlannedEntry> kept;
    for (size_t i = 0; i < entries.size(); ++i) {
        Verdict& verdict = verdicts[i];
        if (verdict.folder && verdict.state == BaseState::kUnchanged && needed.count(verdict.name) != 0)
            verdict.state = BaseState::kCarried;
        switch (verdict.state) {
        case BaseState::kNew: verdict.folder ? ++result.newFolders : ++result.newFiles; break;
        case BaseState::kChanged: ++result.changedFiles; break;
        case BaseState::kCarried: verdict.folder ? ++result.neededFolders : ++result.carriedFiles; break;
        case BaseState::kUnchanged: verdict.folder ? ++result.keptFolders : ++result.unchangedFiles; break;
        }
        if (verdict.state != BaseState::kUnchanged)
            kept.push_back(std::move(entries[i]));
    }
    entries = std::move(kept);
    result.verdicts = std::move(verdicts);

    for (const auto& [key, list] : old.byName) {
        if (newNames.count(key) != 0)
            continue;
        for (const OldEntry& entry : list) {
            if (entry.folder)
                result.missingFolders.push_back(entry);
            else if (!IsTitlePictureName(entry.name))
                result.missingFiles.push_back(entry);
        }
    }
    auto byName = [](const OldEntry& a, const OldEntry& b) { return a.name < b.name; };
    std::sort(result.missingFiles.begin(), result.missingFiles.end(), byName);
    std::sort(result.missingFolders.begin(), result.missingFolders.end(), byName);
    result.unnamed = old.unnamed;
    return true;
}
