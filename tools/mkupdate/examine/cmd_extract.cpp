// mkupdate extract UPDATE.exe [-o] DEST_DIR [--setup-only]
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "package/entry_names.h"
#include "examine/update_file.h"

namespace fs = std::filesystem;

namespace {

const char kExtractHelp[] =
    "usage: mkupdate extract UPDATE.exe DEST_DIR [--setup-only]\n"
    "       mkupdate extract UPDATE.exe -o DEST_DIR [--setup-only]\n"
    "\n"
    "Writes into DEST_DIR what the updater's full pass would write into the installed folder,\n"
    "with the stored last-write times; with --setup-only, what its setup pass would put in its\n"
    "work folder (the setup files up to the first folder inside a folder). Each file is written\n"
    "under a temporary name and put in place only once its stream checked out. DEST_DIR is\n"
    "created when it does not exist. Nothing is written outside DEST_DIR: a symbolic link inside\n"
    "it is refused, never followed, and a read-only file in the way stops the extraction as it\n"
    "stops the updater.\n"
    "\n"
    "  -o, --output DEST_DIR  where to write (instead of the second operand)\n"
    "  --setup-only           only the setup pass\n"
    "  -q, --quiet            print nothing but problems\n"
    "  -h, --help             show this help\n"
    "\n"
    "exit status: 0 extracted, 1 a damaged package or a file that cannot be written, 2 wrong usage\n";

// The first existing part of target below root (root itself is the user's choice) that is a
// symbolic link, for messages; empty when there is none.
std::string FindLinkBelow(const fs::path& root, const fs::path& target)
{
    fs::path walked = root;
    for (const fs::path& part : target.lexically_relative(root)) {
        walked /= part;
        std::error_code code;
        fs::file_status status = fs::symlink_status(walked, code);
        if (code || !fs::exists(status))
            return {};
        if (fs::is_symlink(status))
            return PathForDisplay(walked);
    }
    return {};
}

struct ExtractRequest {
    std::string update;       // UPDATE.exe
    std::string destination;  // DEST_DIR
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
    Extraction(const fs::path& root, bool setupOnly, ProgressLine& progress)
        : root(root), setupOnly(setupOnly), progress(progress)
    {
    }

    fs::path root;
    bool setupOnly;
    ProgressLine& progress;
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

    // Where the entry goes under DEST_DIR, reached through no symbolic link.
    bool ChooseTarget(const WalkedEntry& e)
    {
        if (!Cp932ToHostPath(root, e.entry.name, target))
            return Fail(e, "the name has no form on this system");
        std::string link = FindLinkBelow(root, target);
        if (!link.empty())
            return Fail(e, link + " is a symbolic link; extract follows no links inside DEST_DIR");
        return true;
    }

    bool OpenPartial(const WalkedEntry& e)
    {
        if (IsReadOnlyFile(target))
            return Fail(e, PathForDisplay(target) + " is read-only; the updater would stop here too");
        partial = target;
        partial += ".mkupdate-part";
        out = CreateNewFile(partial);
        if (out == nullptr) {
            Fail(e, "cannot create " + PathForDisplay(partial) + " (does it exist already?)");
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
        if (!ChooseTarget(e))
            return WALK_STOP;
        if (IsFolderEntry(&e.entry))
            return WALK_TAKE;
        return OpenPartial(e) ? WALK_TAKE : WALK_STOP;
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
    bool ok = WalkPackage(file.Stream(), walk, nullptr, &extraction.problem) && extraction.problem.text.empty();
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
    ProgressLine progress("extract", fs::file_size(fs::u8path(request.update), code));
    Extraction extraction(root, request.setupOnly, progress);
    if (!ExtractEntries(file, extraction))
        return InputError("extract", request.update + ": " + DescribeProblem(extraction.problem));
    Say("%s, %s extracted into %s\n", Count(extraction.files, "file", "files").c_str(),
        Count(extraction.folders, "folder", "folders").c_str(), request.destination.c_str());
    return kExitOk;
}
