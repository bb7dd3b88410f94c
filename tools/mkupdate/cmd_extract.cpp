// mkupdate extract UPDATE.exe DEST_DIR [--setup-only]
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "host_files.h"
#include "lint.h"
#include "package/entry_names.h"
#include "update_file.h"

namespace fs = std::filesystem;

namespace {

const char kExtractHelp[] =
    "usage: mkupdate extract UPDATE.exe DEST_DIR [--setup-only]\n"
    "\n"
    "Writes into DEST_DIR what the updater's full pass would write into the installed folder,\n"
    "with the stored last-write times; with --setup-only, what its setup pass would put in its\n"
    "work folder (the setup files up to the first folder inside a folder). Each file is written\n"
    "under a temporary name and put in place only once its stream checked out. DEST_DIR must\n"
    "exist. Nothing is written outside DEST_DIR: a symbolic link inside it is refused, never\n"
    "followed, and a read-only file in the way stops the extraction as it stops the updater.\n"
    "\n"
    "  --setup-only   only the setup pass\n"
    "  --help         show this help\n"
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

int Usage(const std::string& message)
{
    std::fprintf(stderr, "mkupdate extract: %s\n\n%s", message.c_str(), kExtractHelp);
    return kExitUsage;
}

}  // namespace

int RunExtract(const Args& args)
{
    std::string path, destination;
    bool setupOnly = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kExtractHelp, stdout);
            return kExitOk;
        } else if (arg == "--setup-only") {
            setupOnly = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage("unknown option '" + arg + "'");
        } else if (path.empty()) {
            path = arg;
        } else if (destination.empty()) {
            destination = arg;
        } else {
            return Usage("too many arguments");
        }
    }
    if (path.empty() || destination.empty())
        return Usage("UPDATE.exe and DEST_DIR are both needed");
    std::error_code code;
    fs::path root(destination);
    if (!fs::is_directory(root, code)) {
        std::fprintf(stderr, "mkupdate extract: %s: no such folder\n", destination.c_str());
        return kExitInput;
    }
    UpdateFile file;
    if (!file.Open(path)) {
        std::fprintf(stderr, "mkupdate extract: %s: cannot open the file\n", path.c_str());
        return kExitInput;
    }

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
            std::fprintf(stderr, "mkupdate extract: note: cannot set the time of %s\n", PathForDisplay(target).c_str());
        partial.clear();
        std::printf("%s\n", DisplayName(e.entry.name).c_str());
        ++files;
        return true;
    };
    bool ok = WalkPackage(file.Stream(), walk, nullptr, &problem) && problem.text.empty();
    if (out != nullptr)
        std::fclose(out);
    if (!ok) {
        if (!partial.empty())
            fs::remove(partial, code);
        std::fprintf(stderr, "mkupdate extract: %s: %s\n", path.c_str(), DescribeProblem(problem).c_str());
        return kExitInput;
    }
    std::printf("%d files, %d folders extracted into %s\n", files, folders, destination.c_str());
    return kExitOk;
}
