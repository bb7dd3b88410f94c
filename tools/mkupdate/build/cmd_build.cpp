// mkupdate build SRC_DIR -o OUT.exe [--base OLD_DIR [--remove-missing]] [--stub STUB.exe] [--level N] ...
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "build/build_base.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "package/package_walk.h"
#include "build/package_build.h"
#include "build/package_plan.h"
#include "host/rct_convert.h"
#include "cli/text_util.h"
#include "inspect/update_file.h"

namespace fs = std::filesystem;

namespace {

const char kBuildHelp[] =
    "usage: mkupdate build SRC_DIR -o OUT.exe [--base OLD_DIR [--remove-missing]] [--explain] [--json]\n"
    "                      [--stub STUB.exe] [--level N] [--jobs N] [--strict] [--allow-wipe]\n"
    "                      [--exclude PATTERN]... [--no-default-excludes]\n"
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
    "  --base OLD_DIR        the previous release as players have it: pack only what they lack\n"
    "                        (see \"From one version to the next\" below)\n"
    "  --remove-missing      with --base: add removal lines for the files SRC_DIR no longer has to\n"
    "                        [delfiles_afterinst] of the install.env that is packed\n"
    "  --explain             list every file and folder with what became of it\n"
    "  --json                the result as one JSON object on standard output, for CI (messages\n"
    "                        go to standard error)\n"
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
    "\n"
    "From one version to the next (--base OLD_DIR):\n"
    "  SRC_DIR holds the new version of the game plus install.env, the title picture and the\n"
    "  readme; OLD_DIR the previous release as players have it. A file whose bytes equal those of\n"
    "  the same name in OLD_DIR is left out; new and changed files are packed (sizes are compared\n"
    "  first, then the bytes, on --jobs threads). A folder is packed where it is new or a packed\n"
    "  file lies in it. install.env, the title image and the readme are always packed: the updater\n"
    "  reads them from the update itself. The --exclude rules apply to OLD_DIR as well.\n"
    "  Files of OLD_DIR that SRC_DIR lacks are listed, each with the line of [delfiles_afterinst]\n"
    "  that removes it from players' folders; --remove-missing adds those lines to the packaged\n"
    "  install.env (SRC_DIR's file is not touched) and checks each as lint does. Never removed: the\n"
    "  key file (KEYFILE; build also warns when OLD_DIR lacks it, as players' installs are found\n"
    "  by it), files install.env removes already, names the updater would read as something other\n"
    "  than a file (\"-old.dat\", \"EOF.txt\", ...), and the last file of a folder this update\n"
    "  brings empty. The updater removes the first folder level of a line once it is empty; other\n"
    "  emptied folders stay.\n"
    "  Names are matched the way Windows matches them on a player's disk:\n"
    "  - case is ignored: Data.DAT in OLD_DIR and data.dat in SRC_DIR are one file, compared by\n"
    "    content and never removed. Equal bytes: left out, and players keep the old spelling (no\n"
    "    Windows program can tell); changed: packed under the new spelling.\n"
    "  - names are compared as the code page 932 bytes the updater writes. Shift-JIS tables\n"
    "    disagree about a few characters (the wave dash U+301C against U+FF5E, U+2014, U+2016,\n"
    "    U+2212, the cent, pound and not signs); a name in OLD_DIR written with the other form\n"
    "    matches the SRC_DIR name with the same bytes. A name in OLD_DIR with no code page 932\n"
    "    form cannot be named by a removal line: it is listed and left alone.\n"
    "  A name that is a file on one side and a folder on the other is refused.\n"
    "\n"
    "exit status: 0 written, 1 a problem with the input, 2 wrong usage\n";

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
    std::string source, output, stubPath, base;
    bool removeMissing = false, explain = false, json = false;
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
         {{"--base"}, true, text(base)},
         {{"--remove-missing"}, false, flag(removeMissing, true)},
         {{"--explain"}, false, flag(explain, true)},
         {{"--json"}, false, flag(json, true)},
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
    if (removeMissing && base.empty())
        return Usage("--remove-missing needs --base OLD_DIR");

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
    // With --json, standard output carries the JSON alone.
    std::FILE* out = json ? stderr : stdout;
    for (const std::string& item : leftOut)
        if (!Quiet())
            PrintTo(out, "left out: %s\n", EscapeControls(item).c_str());
    if (!collected || !PrepareTitleImage(entries, error))
        return Refuse(error);
    bool progress = !Quiet() && IsTerminal(stderr);
    BaseReport baseReport;
    if (!base.empty()) {
        BaseRequest request;
        request.source = sourceFolder;
        request.base = fs::u8path(base);
        request.collect = collect;
        request.lint = lintOptions;
        request.removeMissing = removeMissing;
        request.jobs = jobs;
        request.progress = progress;
        if (!ApplyBase(request, entries, baseReport, error))
            return Refuse(error);
        if (!Quiet())
            PrintBaseReport(baseReport, explain, out);
    }
    if (!OrderEntries(entries, error))
        return Refuse(error);
    if (explain && base.empty() && !Quiet())
        for (const PlannedEntry& entry : entries)
            PrintTo(out, "%-9s %s\n", entry.folder ? "folder" : "file", DisplayName(entry.name).c_str());

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
    BuildOptions options;
    options.level = level;
    options.jobs = jobs;
    options.progress = progress;
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
    std::string totals = FormatTotals(result.files, result.folders, result.inputBytes, result.packageBytes);
    if (json) {
        PrintTo(stdout, "{\"output\": %s, \"files\": %d, \"folders\": %d, \"bytes\": %llu, \"packageBytes\": %llu, "
                        "\"base\": %s}\n",
                JsonString(output).c_str(), result.files, result.folders, (unsigned long long)result.inputBytes,
                (unsigned long long)result.packageBytes,
                base.empty() ? "null" : BaseReportJson(baseReport, base).c_str());
    } else if (!Quiet()) {
        if (!base.empty())
            PrintTo(out, "against %s: %s\n", base.c_str(), BaseSummary(baseReport).c_str());
        PrintTo(out, "%s: %s\n", output.c_str(), totals.c_str());
    }
    return kExitOk;
}
