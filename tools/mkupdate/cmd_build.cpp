// mkupdate build SRC_DIR -o OUT.exe [--stub STUB.exe] [--level N] [--jobs N]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "command_line.h"
#include "commands.h"
#include "host_files.h"
#include "lint.h"
#include "package/package_walk.h"
#include "package_build.h"
#include "package_plan.h"
#include "rct_convert.h"
#include "text_util.h"
#include "update_file.h"

namespace fs = std::filesystem;

namespace {

const char kBuildHelp[] =
    "usage: mkupdate build SRC_DIR -o OUT.exe [--stub STUB.exe] [--level N] [--jobs N] [--strict]\n"
    "                      [--allow-wipe] [--exclude PATTERN]... [--no-default-excludes]\n"
    "\n"
    "Packs every file and folder under SRC_DIR (which must hold install.env) and appends the\n"
    "package to the updater stub, giving a finished update executable. Names become code page\n"
    "932 (Shift-JIS); last-write times come from the files. A title image insttscr.png or\n"
    "insttscr.bmp at the top level is turned into insttscr.rct when there is no insttscr.rct.\n"
    "The output is the same byte for byte whatever --jobs says. Links to files are followed;\n"
    "a link to a folder is refused. Names that collide once case is ignored, and Windows device\n"
    "names (CON, nul.txt, com1.dat, ...) are refused. OUT.exe may not lie inside SRC_DIR nor be\n"
    "the stub; it is written as OUT.exe.part first (removed on failure or Ctrl+C).\n"
    "\n"
    "  -o, --output OUT.exe  the update to write (replaced only once it is complete)\n"
    "  --stub STUB.exe       the updater stub (default: updater.exe, else updater-stub.exe,\n"
    "                        beside mkupdate)\n"
    "  --level N             zlib level 0-9 (default 9)\n"
    "  --jobs N              compression threads (default: every core)\n"
    "  --exclude PATTERN     leave out matching files and folders (repeatable): a pattern without\n"
    "                        \"/\" matches a name anywhere (*.psd), one with \"/\" the path from\n"
    "                        SRC_DIR (work/*.txt); a trailing \"/\" matches folders only\n"
    "  --no-default-excludes pack what is left out by default: .git/, .svn/, .hg/, Thumbs.db,\n"
    "                        desktop.ini, .DS_Store, the ignore file .mkupdateignore (one pattern\n"
    "                        a line, # for comments) and what it lists, updates built earlier\n"
    "  --strict              refuse settings with warnings too, not only with errors\n"
    "  --allow-wipe          accept a removal of every file in the game's folder (\"*\", \"*.*\")\n"
    "  -q, --quiet           print nothing but problems\n"
    "  -h, --help            show this help\n"
    "\n"
    "exit status: 0 written, 1 a problem with the input, 2 wrong usage\n";

const uint64_t kProgressThreshold = 32ull << 20;

int Usage(const std::string& message)
{
    return UsageError("build", message);
}

int Refuse(const std::string& message)
{
    return InputError("build", message);
}

// The output may not replace an input: a file inside SRC_DIR (install.env, or the previous update
// that the next build would then pack) or the stub.
bool CheckOutputPlace(const fs::path& source, const fs::path& stub, const fs::path& output, std::string& error)
{
    std::error_code code;
    fs::path out = fs::weakly_canonical(fs::absolute(output, code), code);
    fs::path folder = fs::weakly_canonical(fs::absolute(source, code), code);
    fs::path relative = out.lexically_relative(folder);
    if (!relative.empty() && *relative.begin() != "..") {
        error = PathForDisplay(output) + ": lies inside SRC_DIR " + PathForDisplay(source) +
                "; it would change what is packed. Write the update outside the folder";
        return false;
    }
    if (fs::exists(output, code) && fs::equivalent(output, stub, code)) {
        error = PathForDisplay(output) + ": is the stub itself; write the update to another file";
        return false;
    }
    return true;
}

bool ParseNumber(const std::string& text, int low, int high, int& value)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

fs::path DefaultStub()
{
    fs::path folder = ProgramFolder();
    for (const char* name : {"updater.exe", "updater-stub.exe"}) {
        std::error_code code;
        if (!folder.empty() && fs::is_regular_file(folder / name, code))
            return folder / name;
    }
    return {};
}

// The settings file must be there and read cleanly the way the updater reads it.
bool CheckSettingsFile(const fs::path& sourceFolder, const LintOptions& options, std::string& error)
{
    fs::path settings = sourceFolder / "install.env";
    std::error_code code;
    if (!fs::is_regular_file(settings, code)) {
        error = PathForDisplay(settings) + ": missing; every update carries its settings file install.env";
        return false;
    }
    std::vector<LintFinding> findings = LintSettingsFile(settings.string(), options);
    PrintLintFindings(findings, stderr);
    if (HasLintErrors(findings)) {
        error = PathForDisplay(settings) + " has errors (see above; 'mkupdate lint' explains it)";
        return false;
    }
    return true;
}

bool IsTitlePicture(const PlannedEntry& entry)
{
    return !entry.folder && (entry.name == "insttscr.png" || entry.name == "insttscr.bmp");
}

// A top-level insttscr.png or .bmp becomes the title image insttscr.rct; the picture itself is
// a source and stays out of the package.
bool PrepareTitleImage(std::vector<PlannedEntry>& entries, std::string& error)
{
    bool haveRct = std::any_of(entries.begin(), entries.end(),
                               [](const PlannedEntry& e) { return !e.folder && e.name == "insttscr.rct"; });
    auto picture = std::find_if(entries.begin(), entries.end(), IsTitlePicture);
    if (picture != entries.end() && !haveRct) {
        PlannedEntry title;
        title.name = "insttscr.rct";
        title.generated = true;
        title.lastWriteTime = picture->lastWriteTime;
        if (!EncodeImageFileToRct(picture->source.u8string(), title.contents, error)) {
            error = PathForDisplay(picture->source) + ": " + error;
            return false;
        }
        title.size = title.contents.size();
        entries.push_back(std::move(title));
    } else if (picture != entries.end()) {
        PrintTo(stderr, "mkupdate build: note: insttscr.rct is there, so %s is left out\n",
                     PathForDisplay(picture->source).c_str());
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(), IsTitlePicture), entries.end());
    return true;
}

// Reads the finished file back the way the updater will, headers only.
bool CheckWrittenUpdate(const fs::path& path, std::string& error)
{
    UpdateFile file;
    if (!file.Open(path)) {
        error = "cannot read back " + PathForDisplay(path);
        return false;
    }
    ByteStream& stream = *file.Stream();
    PackageWalk walk;
    walk.checkRules = true;
    walk.begin = [](const WalkedEntry&) { return (int)WALK_SKIP; };
    PackageProblem problem;
    bool ok = WalkPackage(&stream, walk, nullptr, &problem);
    if (!ok)
        error = "the written update breaks a package rule at offset " + std::to_string(problem.offset) + ": " +
                DisplayName(problem.name) + ": " + problem.text;
    return ok;
}

}  // namespace

int RunBuild(const Args& args)
{
    std::string source, output, stubPath;
    LintOptions lintOptions;
    CollectOptions collect;
    int level = 9;
    int jobs = (int)std::max(1u, std::thread::hardware_concurrency());
    auto text = [](std::string& target) {
        return [&target](const std::string& value) {
            target = value;
            return std::string();
        };
    };
    auto flag = [](bool& target, bool to) {
        return [&target, to](const std::string&) {
            target = to;
            return std::string();
        };
    };
    std::vector<std::string> operands;
    int stop = ReadCommandLine(
        "build", kBuildHelp, args,
        {{{"-o", "--output"}, true, text(output)},
         {{"--stub"}, true, text(stubPath)},
         {{"--level"}, true,
          [&](const std::string& value) {
              return ParseNumber(value, 0, 9, level) ? std::string() : "--level takes a number from 0 to 9";
          }},
         {{"--jobs"}, true,
          [&](const std::string& value) {
              return ParseNumber(value, 1, 256, jobs) ? std::string() : "--jobs takes a number from 1 to 256";
          }},
         {{"--exclude"}, true,
          [&](const std::string& value) {
              collect.excludes.push_back(value);
              return std::string();
          }},
         {{"--no-default-excludes"}, false, flag(collect.defaultExcludes, false)},
         {{"--strict"}, false, flag(lintOptions.strict, true)},
         {{"--allow-wipe"}, false, flag(lintOptions.allowWipe, true)}},
        operands);
    if (stop >= 0)
        return stop;
    if (operands.size() > 1)
        return Usage("one source folder at a time");
    if (!operands.empty())
        source = operands[0];
    if (source.empty())
        return Usage("which folder? SRC_DIR is missing");
    if (output.empty())
        return Usage("where to? -o OUT.exe is missing");

    std::error_code code;
    fs::path sourceFolder = fs::u8path(source);
    if (!fs::is_directory(sourceFolder, code))
        return Refuse(source + ": not a folder");
    fs::path stub = stubPath.empty() ? DefaultStub() : fs::u8path(stubPath);
    if (stub.empty())
        return Refuse("no updater stub beside mkupdate (updater.exe or updater-stub.exe); name one with --stub");
    std::string stubBytes;
    if (!ReadWholeFile(stub, stubBytes))
        return Refuse(PathForDisplay(stub) + ": cannot read the stub");
    if (stubBytes.empty())
        return Refuse(PathForDisplay(stub) + ": the stub is empty");

    std::string error;
    if (!CheckOutputPlace(sourceFolder, stub, fs::u8path(output), error))
        return Refuse(error);
    if (!CheckSettingsFile(sourceFolder, lintOptions, error))
        return Refuse(error);
    std::vector<PlannedEntry> entries;
    std::vector<std::string> leftOut;
    collect.leftOut = &leftOut;
    bool collected = CollectEntries(sourceFolder, collect, entries, error);
    for (const std::string& item : leftOut)
        Say("left out: %s\n", EscapeControls(item).c_str());
    if (!collected || !PrepareTitleImage(entries, error) ||
        !OrderEntries(entries, error))
        return Refuse(error);

    fs::path outputPath = fs::u8path(output);
    fs::path partial = outputPath;
    partial += ".part";
    RemoveOnInterrupt(partial);
    std::FILE* file = CreateNewFile(partial);
    if (file == nullptr) {
        KeepOnInterrupt();
        return Refuse(output + ": cannot create " + PathForDisplay(partial) +
                      " (left from an interrupted build? remove it first)");
    }
    uint64_t input = 0;
    for (const PlannedEntry& entry : entries)
        input += entry.size;
    BuildOptions options;
    options.level = level;
    options.jobs = jobs;
    options.progress = input >= kProgressThreshold && !Quiet() && IsTerminal(stderr) ? stderr : nullptr;
    BuildResult result;
    bool written = WriteUpdate(stubBytes, entries, options, file, result, error);
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = "cannot write " + PathForDisplay(partial) + " (disk full?)";
    }
    if (written && !CheckWrittenUpdate(partial, error))
        written = false;
    if (written) {
        fs::rename(partial, outputPath, code);
        if (code) {
            error = "cannot put the update in place as " + output + ": " + code.message();
            written = false;
        }
    }
    if (!written)
        fs::remove(partial, code);
    KeepOnInterrupt();
    if (!written)
        return Refuse(error);
    Say("%s: %s\n", output.c_str(),
        FormatTotals(result.files, result.folders, result.inputBytes, result.packageBytes).c_str());
    return kExitOk;
}
