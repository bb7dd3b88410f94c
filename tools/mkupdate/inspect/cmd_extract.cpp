// mkupdate extract UPDATE.exe [-o] DEST_DIR [--setup-only]
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "package/entry_names.h"
#include "inspect/update_file.h"

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


}  // namespace

int RunExtract(const Args& args)
{
    std::string destination;
    bool setupOnly = false;
    std::vector<std::string> operands;
    int stop = ReadCommandLine("extract", kExtractHelp, args,
                               {{{"--setup-only"}, false,
                                 [&](const std::string&) {
                                     setupOnly = true;
                                     return std::string();
                                 }},
                                {{"-o", "--output"}, true,
                                 [&](const std::string& value) {
                                     destination = value;
                                     return std::string();
                                 }}},
                               operands);
    if (stop >= 0)
        return stop;
    if (operands.size() == 2 && destination.empty())
        destination = operands[1];
    else if (operands.size() >= 2)
        return UsageError("extract", "too many arguments");
    if (operands.empty() || destination.empty())
        return UsageError("extract", "UPDATE.exe and DEST_DIR are both needed");
    const std::string& path = operands[0];
    std::error_code code;
    fs::path root = fs::u8path(destination);
    fs::create_directories(root, code);
    if (!fs::is_directory(root, code))
        return InputError("extract", destination + ": not a folder, and it cannot be created");
    UpdateFile file;
    if (!file.Open(path))
        return InputError("extract", path + ": cannot open the file");
    ProgressLine progress("extract", fs::file_size(fs::u8path(path), code));

    PackageProblem problem;
    fs::path target, partial;
    std::FILE* out = nullptr;
    int files = 0, folders = 0;
    auto fail = [&](const WalkedEntry& e, const std::string& text) {
        problem.offset = e.offset;
        problem.name = e.entry.name;
        problem.text = text;
        return false;
    };
    PackageWalk walk;
    walk.checkRules = true;
    walk.begin = [&](const WalkedEntry& e) -> int {
        progress.Reached((uint64_t)e.offset);
        if (setupOnly) {
            int step = SetupPassStep(&e.entry);
            if (step == SETUP_END)
                return WALK_STOP;
            if (step == SETUP_SKIP)
                return WALK_SKIP;
        }
        if (!Cp932ToHostPath(root, e.entry.name, target)) {
            fail(e, "the name has no form on this system");
            return WALK_STOP;
        }
        std::string link = FindLinkBelow(root, target);
        if (!link.empty()) {
            fail(e, link + " is a symbolic link; extract follows no links inside DEST_DIR");
            return WALK_STOP;
        }
        if (IsFolderEntry(&e.entry))
            return WALK_TAKE;
        if (IsReadOnlyFile(target)) {
            fail(e, PathForDisplay(target) + " is read-only; the updater would stop here too");
            return WALK_STOP;
        }
        partial = target;
        partial += ".mkupdate-part";
        out = CreateNewFile(partial);
        if (out == nullptr) {
            fail(e, "cannot create " + PathForDisplay(partial) + " (does it exist already?)");
            partial.clear();
            return WALK_STOP;
        }
        return WALK_TAKE;
    };
    walk.data = [&](const WalkedEntry& e, const unsigned char* data, size_t size) {
        return std::fwrite(data, 1, size, out) == size ? true : fail(e, "cannot write " + PathForDisplay(partial));
    };
    walk.end = [&](const WalkedEntry& e) {
        if (IsFolderEntry(&e.entry)) {
            fs::create_directory(target, code);
            if (code)
                return fail(e, "cannot create the folder " + PathForDisplay(target) + ": " + code.message());
            ++folders;
            return true;
        }
        bool closed = std::fclose(out) == 0;
        out = nullptr;
        if (!closed)
            return fail(e, "cannot write " + PathForDisplay(partial));
        fs::rename(partial, target, code);
        if (code)
            return fail(e, "cannot put " + PathForDisplay(target) + " in place: " + code.message());
        if (!WriteLastWriteTime(target, e.lastWriteTime))
            PrintTo(stderr, "mkupdate extract: note: cannot set the time of %s\n", PathForDisplay(target).c_str());
        partial.clear();
        Say("%s\n", DisplayName(e.entry.name).c_str());
        ++files;
        return true;
    };
    bool ok = WalkPackage(file.Stream(), walk, nullptr, &problem) && problem.text.empty();
    if (out != nullptr)
        std::fclose(out);
    if (!ok) {
        if (!partial.empty())
            fs::remove(partial, code);
        return InputError("extract", path + ": " + DescribeProblem(problem));
    }
    Say("%s, %s extracted into %s\n", Count(files, "file", "files").c_str(), Count(folders, "folder", "folders").c_str(),
        destination.c_str());
    return kExitOk;
}
