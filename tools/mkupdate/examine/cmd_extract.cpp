// mkupdate extract UPDATE.exe [-o] DEST_DIR [--base OLD_DIR] [--setup-only]
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "build/package_plan.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "package/entry_names.h"
#include "text/cp932_text.h"
#include "examine/delta_bases.h"
#include "examine/update_file.h"

namespace fs = std::filesystem;

namespace {

const char kExtractHelp[] =
    "usage: mkupdate extract UPDATE.exe DEST_DIR [--base OLD_DIR] [--setup-only]\n"
    "       mkupdate extract UPDATE.exe -o DEST_DIR [--base OLD_DIR] [--setup-only]\n"
    "\n"
    "Writes into DEST_DIR what the updater's full pass would write into the installed folder,\n"
    "with the stored last-write times; with --setup-only, what its setup pass would put in its\n"
    "work folder (the setup files up to the first folder inside a folder). Each file is written\n"
    "under a temporary name (~updXXXX.tmp) beside its place and put in place only once its\n"
    "stream checked out. Names meet existing files and folders as on Windows: case and the\n"
    "duplicate encodings of one character are ignored. DEST_DIR is created when it does not\n"
    "exist. Nothing is written outside DEST_DIR: a link inside it (a symbolic link, a junction) is\n"
    "refused, never followed, and a read-only file in the way stops the extraction as it stops\n"
    "the updater.\n"
    "An update built with --base may carry delta entries, the changes from an old version of a\n"
    "file: --base OLD_DIR names the old version the player has, and each such file is made from\n"
    "OLD_DIR's file by the delta for its version (a file of OLD_DIR that already is the new one\n"
    "is copied). A file of OLD_DIR that is none of the delta's old versions stops the extraction,\n"
    "as the updater refuses such a folder.\n"
    "\n"
    "  -o, --output DEST_DIR  where to write (instead of the second operand)\n"
    "  --base OLD_DIR         the old version the delta entries apply to\n"
    "  --setup-only           only the setup pass\n"
    "  -q, --quiet            print nothing but problems\n"
    "  -h, --help             show this help\n"
    "\n"
    "exit status: 0 extracted, 1 a damaged package or a file that cannot be written, 2 wrong usage\n";

// The first part of target below root (root itself is the user's choice) that is a link, for
// messages; empty when there is none. Asked of the host: MinGW's std::filesystem sees no links.
std::string FindLinkBelow(const fs::path& root, const fs::path& target)
{
    fs::path walked = root;
    for (const fs::path& part : target.lexically_relative(root)) {
        walked /= part;
        if (IsLink(walked))
            return PathForDisplay(walked);
    }
    return {};
}

// The components of a code page 932 name, a folder's trailing backslash left out.
std::vector<std::string> NameComponents(const std::string& name)
{
    std::vector<std::string> parts(1);
    for (int i = 0; i < (int)name.size(); i = NextCharacter(name.c_str(), i)) {
        if (name[(size_t)i] == '\\')
            parts.emplace_back();
        else
            parts.back().append(name, (size_t)i, (size_t)(NextCharacter(name.c_str(), i) - i));
    }
    if (parts.size() > 1 && parts.back().empty())
        parts.pop_back();
    return parts;
}

// How many temporary names to try beside a file before giving up: a name is taken only when
// nothing has it yet, and a leftover of an extraction that was killed may hold the first ones.
constexpr int kTemporaryNameTries = 64;

struct ExtractRequest {
    std::string update;       // UPDATE.exe
    std::string destination;  // DEST_DIR
    std::string base;         // OLD_DIR, for delta entries
    bool setupOnly = false;
};

// Returns -1 to go on with `request` filled, else the exit status (help shown, wrong usage).
int ReadExtractRequest(const Args& args, ExtractRequest& request)
{
    std::vector<std::string> operands;
    int stop = ReadCommandLine("extract", kExtractHelp, args,
                               {{{"--setup-only"}, false,
                                 [&](const std::string&) {
                                     request.setupOnly = true;
                                     return std::string();
                                 }},
                                {{"-o", "--output"}, true,
                                 [&](const std::string& value) {
                                     request.destination = value;
                                     return std::string();
                                 }},
                                {{"--base"}, true,
                                 [&](const std::string& value) {
                                     if (!request.base.empty())
                                         return std::string("--base: one old version at a time");
                                     request.base = value;
                                     return std::string();
                                 }}},
                               operands);
    if (stop >= 0)
        return stop;
    if (operands.size() == 2 && request.destination.empty())
        request.destination = operands[1];
    else if (operands.size() >= 2)
        return UsageError("extract", "too many arguments");
    if (operands.empty() || request.destination.empty())
        return UsageError("extract", "UPDATE.exe and DEST_DIR are both needed");
    request.update = operands[0];
    return -1;
}

// The walk's handlers: each file goes to a temporary name beside its place and is renamed there
// once its stream checked out; the first fault stops the walk and is kept in `problem`.
struct Extraction {
    Extraction(const fs::path& root, bool setupOnly, ProgressLine& progress, DeltaBases& bases)
        : root(root), setupOnly(setupOnly), bases(bases), progress(progress)
    {
    }

    fs::path root;
    bool setupOnly;
    DeltaBases& bases;
    ProgressLine& progress;
    DeltaGroup group;                    // the delta entries of one name, side by side
    const DeltaSource* source = nullptr;  // the old file of the delta under way
    PackageProblem problem;
    fs::path target, partial;  // of the entry under way; `partial` while its file is open
    std::FILE* out = nullptr;
    int files = 0, folders = 0;

    bool Fail(const WalkedEntry& e, const std::string& text)
    {
        problem.offset = e.offset;
        problem.name = e.entry.name;
        problem.text = text;
        return false;
    }

    // The host paths of what each folder under DEST_DIR holds, by the key Windows compares names
    // with: an entry lands on the file or folder Windows would take for it, whatever the case or
    // the encoding of its name ("A\\" then "a\\x.dat" is one folder, as the updater sees it).
    std::map<fs::path, std::map<std::string, fs::path>> listings;

    std::map<std::string, fs::path>& Listing(const fs::path& folder)
    {
        auto [at, fresh] = listings.try_emplace(folder);
        if (fresh) {
            std::error_code code;
            for (fs::directory_iterator item(folder, code), end; !code && item != end; item.increment(code)) {
                std::string cp932, unused;
                if (NameToCp932(item->path().filename(), cp932, unused))
                    at->second.emplace(NameKey(cp932, false), item->path());
            }
        }
        return at->second;
    }

    // Where the entry goes under DEST_DIR, reached through no symbolic link.
    bool ChooseTarget(const WalkedEntry& e)
    {
        if (!Cp932ToHostPath(root, e.entry.name, target))
            return Fail(e, "the name has no form on this system");
        fs::path at = root;
        for (const std::string& part : NameComponents(e.entry.name)) {
            std::map<std::string, fs::path>& listing = Listing(at);
            auto found = listing.find(NameKey(part, false));
            if (found == listing.end()) {
                fs::path fresh;
                if (!Cp932ToHostPath(at, part, fresh))
                    return Fail(e, "the name has no form on this system");
                found = listing.emplace(NameKey(part, false), fresh).first;
            }
            at = found->second;
        }
        target = at;
        std::string link = FindLinkBelow(root, target);
        if (!link.empty())
            return Fail(e, link + " is a symbolic link; extract follows no links inside DEST_DIR");
        return true;
    }

    // The file is written under a short name of the updater's own form beside its place: a
    // package may carry no such name, and a long name plus a suffix could pass the 255 bytes a
    // Linux file system allows in one name.
    bool OpenPartial(const WalkedEntry& e)
    {
        if (IsReadOnlyFile(target))
            return Fail(e, PathForDisplay(target) + " is read-only; the updater would stop here too");
        for (int n = 0; n < kTemporaryNameTries && out == nullptr; ++n) {
            char leaf[UPDATE_TEMPORARY_NAME_LENGTH + 1];
            std::snprintf(leaf, sizeof leaf, UPDATE_TEMPORARY_PREFIX "%04X" UPDATE_TEMPORARY_SUFFIX, n);
            partial = target.parent_path() / leaf;
            out = CreateNewFile(partial);
        }
        if (out == nullptr) {
            Fail(e, "cannot create a temporary file such as " + PathForDisplay(partial) + " beside it");
            partial.clear();
            return false;
        }
        return true;
    }

    int Begin(const WalkedEntry& e)
    {
        progress.Reached((uint64_t)e.offset);
        if (setupOnly) {
            int step = SetupPassStep(&e.entry);
            if (step == SETUP_END)
                return WALK_STOP;
            if (step == SETUP_SKIP)
                return WALK_SKIP;
        }
        if (!e.delta && !CloseDeltaGroup())
            return WALK_STOP;
        if (e.delta)
            return BeginDelta(e);
        if (!ChooseTarget(e))
            return WALK_STOP;
        if (IsFolderEntry(&e.entry))
            return WALK_TAKE;
        return OpenPartial(e) ? WALK_TAKE : WALK_STOP;
    }

    // The delta entries of a name are done: one of them must have served OLD_DIR's file.
    bool CloseDeltaGroup()
    {
        if (group.key.empty() || group.served[0])
            return true;
        problem.offset = group.offset;
        problem.name = group.name;
        problem.text = group.absent[0] ? "OLD_DIR lacks this file, which the update brings only as a delta"
                                       : "OLD_DIR's file is none of the old versions this update's deltas apply to; "
                                         "the updater refuses such a folder";
        return false;
    }

    // A delta entry: taken when OLD_DIR's file is its old version; OLD_DIR's file copied when it
    // already is the new one; passed over otherwise (another delta of the name may fit).
    int BeginDelta(const WalkedEntry& e)
    {
        if (bases.Count() == 0)
            return Fail(e, "a delta entry: give --base OLD_DIR, the old version it applies to"), WALK_STOP;
        std::string key = NameKey(e.entry.name, false);
        if (key != group.key) {
            if (!CloseDeltaGroup())
                return WALK_STOP;
            group = DeltaGroup{key, e.entry.name, e.offset, {false}, {false}};
        }
        const DeltaBases::OldFile* old = nullptr;
        std::string error;
        if (!bases.Find(0, e.entry.name, old, error))
            return Fail(e, error), WALK_STOP;
        group.absent[0] = !old->present;
        if (group.served[0] || !old->present)
            return WALK_SKIP;
        int match = CompareDeltaBase(&e.deltaHeader, old->size, old->hash);
        if (match == DELTA_BASE_DIFFERS)
            return WALK_SKIP;
        group.served[0] = true;
        if (!ChooseTarget(e) || !OpenPartial(e))
            return WALK_STOP;
        if (match == DELTA_BASE_MATCHES) {
            source = bases.Open(old->path);
            return source != nullptr ? WALK_TAKE : (Fail(e, "cannot open " + PathForDisplay(old->path)), WALK_STOP);
        }
        return CopyOldFile(e, old->path) && EndFile(e) ? WALK_SKIP : WALK_STOP;
    }

    bool CopyOldFile(const WalkedEntry& e, const fs::path& path)
    {
        std::FILE* in = OpenBinaryFile(path);
        if (in == nullptr)
            return Fail(e, "cannot read " + PathForDisplay(path));
        std::vector<unsigned char> piece(1 << 20);
        bool ok = true;
        for (size_t got; ok && (got = std::fread(piece.data(), 1, piece.size(), in)) > 0;)
            ok = Data(e, piece.data(), got);
        if (ok && std::ferror(in))
            ok = Fail(e, "cannot read " + PathForDisplay(path));
        std::fclose(in);
        return ok;
    }

    bool Data(const WalkedEntry& e, const unsigned char* data, size_t size)
    {
        return std::fwrite(data, 1, size, out) == size ? true : Fail(e, "cannot write " + PathForDisplay(partial));
    }

    bool EndFolder(const WalkedEntry& e)
    {
        std::error_code code;
        fs::create_directory(target, code);
        if (code)
            return Fail(e, "cannot create the folder " + PathForDisplay(target) + ": " + code.message());
        ++folders;
        return true;
    }

    bool EndFile(const WalkedEntry& e)
    {
        bool closed = std::fclose(out) == 0;
        out = nullptr;
        if (!closed)
            return Fail(e, "cannot write " + PathForDisplay(partial));
        std::error_code code;
        fs::rename(partial, target, code);
        if (code)
            return Fail(e, "cannot put " + PathForDisplay(target) + " in place: " + code.message());
        if (!WriteLastWriteTime(target, e.lastWriteTime))
            PrintTo(stderr, "mkupdate extract: note: cannot set the time of %s\n", PathForDisplay(target).c_str());
        partial.clear();
        Say("%s\n", DisplayName(e.entry.name).c_str());
        ++files;
        return true;
    }

    bool End(const WalkedEntry& e) { return IsFolderEntry(&e.entry) ? EndFolder(e) : EndFile(e); }

    // After a fault: the file under way is closed and its temporary name removed.
    void Abandon()
    {
        if (out != nullptr)
            std::fclose(out);
        out = nullptr;
        std::error_code code;
        if (!partial.empty())
            fs::remove(partial, code);
    }
};

// Every entry the chosen pass takes, written under DEST_DIR.
bool ExtractEntries(UpdateFile& file, Extraction& extraction)
{
    PackageWalk walk;
    walk.checkRules = true;
    walk.begin = [&](const WalkedEntry& e) { return extraction.Begin(e); };
    walk.data = [&](const WalkedEntry& e, const unsigned char* data, size_t size) {
        return extraction.Data(e, data, size);
    };
    walk.end = [&](const WalkedEntry& e) { return extraction.End(e); };
    walk.deltaSource = [&](const WalkedEntry&) { return extraction.source; };
    bool ok = WalkPackage(file.Stream(), walk, nullptr, &extraction.problem) && extraction.problem.text.empty() &&
              extraction.CloseDeltaGroup();
    if (!ok)
        extraction.Abandon();
    else if (extraction.out != nullptr)
        std::fclose(extraction.out);
    return ok;
}

}  // namespace

int RunExtract(const Args& args)
{
    ExtractRequest request;
    int stop = ReadExtractRequest(args, request);
    if (stop >= 0)
        return stop;
    std::error_code code;
    fs::path root = fs::u8path(request.destination);
    fs::create_directories(root, code);
    if (!fs::is_directory(root, code))
        return InputError("extract", request.destination + ": not a folder, and it cannot be created");
    UpdateFile file;
    if (!file.Open(request.update))
        return InputError("extract", request.update + ": cannot open the file");
    DeltaBases bases;
    std::string baseError;
    if (!bases.Read(request.base.empty() ? std::vector<fs::path>{} : std::vector<fs::path>{fs::u8path(request.base)},
                    baseError))
        return InputError("extract", baseError);
    ProgressLine progress("extract", fs::file_size(fs::u8path(request.update), code));
    Extraction extraction(root, request.setupOnly, progress, bases);
    if (!ExtractEntries(file, extraction))
        return InputError("extract", request.update + ": " + DescribeProblem(extraction.problem));
    Say("%s, %s extracted into %s\n", Count(extraction.files, "file", "files").c_str(),
        Count(extraction.folders, "folder", "folders").c_str(), request.destination.c_str());
    return kExitOk;
}
