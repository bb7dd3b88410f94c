// mkupdate build SRC_DIR -o OUT.exe [--base OLD_DIR [--remove-missing]] [--stub STUB.exe] [--level N] ...
#include <algorithm>
#include <cerrno>
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
#include "lint/update_faults.h"
#include "package/package_walk.h"
#include "build/package_build.h"
#include "build/package_plan.h"
#include "host/rct_convert.h"
#include "cli/text_util.h"
#include "text/cp932_text.h"
#include "examine/update_file.h"

namespace fs = std::filesystem;

namespace {

const char kBuildHelp[] =
    "usage: mkupdate build SRC_DIR -o OUT.exe [--base OLD_DIR... [--remove-missing] [--keep PATTERN]...\n"
    "                      [--allow-empty] [--no-deltas]] [--explain] [--json] [--stub STUB.exe] [--level N]\n"
    "                      [--jobs N] [--strict] [--allow-wipe]\n"
    "                      [--exclude PATTERN]... [--no-default-excludes]\n"
    "\n"
    "Packs every file and folder under SRC_DIR (which must hold install.env) and appends the\n"
    "package to the updater stub, giving a finished update executable. Names become code page\n"
    "932 (Shift-JIS); last-write times come from the files. Every update needs its title picture\n"
    "at the top level: insttscr.rct, or an insttscr.png or insttscr.bmp (any case) that is turned\n"
    "into insttscr.rct; without one, or with another type (insttscr.jpg), the build is refused.\n"
    "The output is the same byte for byte whatever --jobs says. Links to files are followed;\n"
    "a link to a folder (a symbolic link, a junction) or a broken link is refused, in SRC_DIR\n"
    "and OLD_DIR alike, and never entered. Names that collide once case is ignored, and Windows\n"
    "device names (CON, nul.txt, com1.dat, ...) are refused. A name must fit under the player's\n"
    "install folder: the updater's paths hold 259 bytes, install folder included, with 22 bytes\n"
    "in each folder for the files waiting there. A name that fits no folder, not even C:\\G, is\n"
    "refused; one that leaves less room than an ordinary folder (80 bytes, such as\n"
    "C:\\Program Files (x86)\\<company>\\<game>) is a warning (an error with --strict).\n"
    "OUT.exe may not lie inside SRC_DIR nor be the stub; it is written as OUT.exe.part first\n"
    "(removed on failure or Ctrl+C).\n"
    "\n"
    "  -o, --output OUT.exe  the update to write (replaced only once it is complete)\n"
    "  --base OLD_DIR        an old release as it shipped (not a copy anyone has played): pack\n"
    "                        only what its players lack (see \"From one version to the next\").\n"
    "                        Repeat it for every old version the update accepts: every version\n"
    "                        that CHKREGVER..CHKREGVERHIGH of install.env admits\n"
    "  --no-deltas           with --base: pack changed files whole, never as deltas\n"
    "  --remove-missing      with --base: add removal lines for the files SRC_DIR no longer has to\n"
    "                        [delfiles_afterinst] of the install.env that is packed\n"
    "  --keep PATTERN        with --base: never remove what the pattern names (repeatable): a\n"
    "                        pattern without \"/\" names a file or folder anywhere (*.cfg), one\n"
    "                        with \"/\" the path from OLD_DIR (save/*.dat); a folder keeps all in it\n"
    "  --allow-empty         with --base: build even when the update brings none of the game's\n"
    "                        files (only install.env, the title picture and the readme)\n"
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
    "  --strict              refuse settings and names with warnings too, not only with errors\n"
    "  --allow-wipe          accept a removal of every file in the game's folder (\"*\", \"*.*\")\n"
    "  -q, --quiet           print nothing but problems\n"
    "  -h, --help            show this help\n"
    "\n"
    "\n"
    "From one version to the next (--base OLD_DIR):\n"
    "  SRC_DIR holds the new version of the game plus install.env, the title picture and the\n"
    "  readme; OLD_DIR the previous release as it shipped. A file whose bytes equal those of\n"
    "  the same name in OLD_DIR is left out; new and changed files are packed (sizes are compared\n"
    "  first, then the bytes, on --jobs threads). A folder is packed where it is new or a packed\n"
    "  file lies in it. install.env, the title image and the readme are always packed: the updater\n"
    "  reads them from the update itself. The --exclude rules apply to OLD_DIR as well.\n"
    "  Files of OLD_DIR that SRC_DIR lacks are listed, each with the line of [delfiles_afterinst]\n"
    "  that removes it from players' folders; --remove-missing adds those lines to the packaged\n"
    "  install.env (SRC_DIR's file is not touched) and checks each as lint does. Never removed: the\n"
    "  key file (KEYFILE; build also warns when OLD_DIR lacks it, as players' installs are found\n"
    "  by it), files install.env removes already, player data ([delfiles_user] patterns of\n"
    "  install.env, matched as the updater matches removal lines), what --keep names, names the\n"
    "  updater would read as something other than a file (\"-old.dat\", \"EOF.txt\", ...), and the\n"
    "  last file of a folder this update brings empty. The updater removes the first folder level\n"
    "  of a line once it is empty; other emptied folders stay.\n"
    "  OLD_DIR is the release as shipped. Files that look like player data, that SRC_DIR lacks\n"
    "  and that neither [delfiles_user] nor --keep names stop --remove-missing with a list of them:\n"
    "  - saves: anything in a folder save\\, saves\\, savedata\\, savegame\\, savegames\\, userdata\\\n"
    "    or its Japanese name; *.sav, *.save, *.lsd, *.rpgsave, *.rmmzsave, Save*.rxdata,\n"
    "    Save*.rvdata, Save*.rvdata2;\n"
    "  - what a game writes while it is played: settings files (*.ini, *.cfg, *.conf, *.config,\n"
    "    *.prefs), logs and dumps (*.log, *.dmp), anything in a folder screenshot\\, screenshots\\,\n"
    "    log\\, logs\\, cache\\, caches\\, shadercache\\ or the Japanese screenshot folders;\n"
    "  - any file written more than a minute after every file of SRC_DIR and every file OLD_DIR\n"
    "    shares with SRC_DIR.\n"
    "  Remove them from OLD_DIR, name them (--keep save/, --keep '*.ini'), or add the line of a\n"
    "  file that is meant to go to [delfiles_afterinst] yourself. An update that brings no file\n"
    "  or folder of the game and removes nothing is refused (is OLD_DIR the new version?) unless\n"
    "  --allow-empty is given.\n"
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
    "Several old versions, and deltas (--base OLD_DIR given once for each):\n"
    "  mkupdate cannot tell which version a folder holds, and the updater takes every version\n"
    "  that CHKREGVER..CHKREGVERHIGH admits: give each of them as a --base. A file is left out\n"
    "  only when it is the same in every OLD_DIR; the removal lines come from the files of every\n"
    "  OLD_DIR. A changed file that every OLD_DIR holds is packed as deltas, one for each\n"
    "  distinct old version of it (the changes only: copies of old bytes, new bytes, byte\n"
    "  differences), when together they take at most 4/5 of the whole file packed; else, and\n"
    "  for a file some OLD_DIR lacks, the whole file. A file that shares nothing with an old\n"
    "  version is found out early and packed whole. The updater checks each player's file by\n"
    "  size and SHA-256 before it writes anything: a file that is none of the old versions (a\n"
    "  player modified it) refuses the update with a notice that names it, and nothing changes.\n"
    "  --explain gives each changed file's verdict with its delta and whole sizes; a summary\n"
    "  line says what the deltas saved.\n"
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

// A top-level insttscr.png or .bmp (any case) becomes the title image insttscr.rct; the picture
// itself is a source and stays out of the package, as do other insttscr.* files once the title
// image is there.
bool PrepareTitleImage(std::vector<PlannedEntry>& entries, std::string& error)
{
    std::vector<std::string> topLevel;
    for (const PlannedEntry& entry : entries)
        if (!entry.folder && FirstSeparator(entry.name.c_str()) < 0)
            topLevel.push_back(entry.name);
    TitlePicture title = FindTitlePicture(topLevel);
    if (!title.problem.empty()) {
        error = DisplayName(title.problem);
        return false;
    }
    auto named = [&entries](const std::string& name) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const PlannedEntry& e) { return !e.folder && e.name == name; });
    };
    if (!title.picture.empty()) {
        auto picture = named(title.picture);
        PlannedEntry made;
        made.name = "insttscr.rct";
        made.generated = true;
        made.lastWriteTime = picture->lastWriteTime;
        if (!EncodeImageFileToRct(picture->source.u8string(), made.contents, error)) {
            error = PathForDisplay(picture->source) + ": " + error + "; the title picture must be a PNG or BMP";
            return false;
        }
        made.size = made.contents.size();
        entries.erase(picture);
        entries.push_back(std::move(made));
    }
    for (const std::string& name : title.passed) {
        auto passed = named(name);
        PrintTo(stderr, "mkupdate build: note: %s is the title picture, so %s is left out\n",
                DisplayName(title.rct.empty() ? "insttscr.rct" : title.rct).c_str(),
                PathForDisplay(passed->source).c_str());
        entries.erase(passed);
    }
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

// What the command line asks for.
struct BuildRequest {
    std::string source, output, stubPath;
    std::vector<std::string> bases;  // every --base, UTF-8, as given
    std::vector<std::string> keep;  // UTF-8, as given
    bool removeMissing = false, allowEmpty = false, explain = false, json = false, deltas = true;
    LintOptions lint;
    CollectOptions collect;
    int level = 9;
    int jobs = (int)std::max(1u, std::thread::hardware_concurrency());
    bool progress = false;  // a progress line on standard error
};

// With --json, standard output carries the JSON alone.
std::FILE* ReportStream(const BuildRequest& request)
{
    return request.json ? stderr : stdout;
}

std::vector<OptionRule> BuildOptionRules(BuildRequest& request)
{
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
    auto number = [](int& target, int low, int high, std::string complaint) {
        return [&target, low, high, complaint](const std::string& value) {
            return ParseNumber(value, low, high, target) ? std::string() : complaint;
        };
    };
    return {{{"-o", "--output"}, true, text(request.output)},
            {{"--stub"}, true, text(request.stubPath)},
            {{"--base"}, true,
             [&request](const std::string& value) {
                 request.bases.push_back(value);
                 return std::string();
             }},
            {{"--no-deltas"}, false, flag(request.deltas, false)},
            {{"--remove-missing"}, false, flag(request.removeMissing, true)},
            {{"--keep"}, true,
             [&request](const std::string& value) {
                 request.keep.push_back(value);
                 return std::string();
             }},
            {{"--allow-empty"}, false, flag(request.allowEmpty, true)},
            {{"--explain"}, false, flag(request.explain, true)},
            {{"--json"}, false, flag(request.json, true)},
            {{"--level"}, true, number(request.level, 0, 9, "--level takes a number from 0 to 9")},
            {{"--jobs"}, true, number(request.jobs, 1, 256, "--jobs takes a number from 1 to 256")},
            {{"--exclude"}, true,
             [&request](const std::string& value) {
                 request.collect.excludes.push_back(value);
                 return std::string();
             }},
            {{"--no-default-excludes"}, false, flag(request.collect.defaultExcludes, false)},
            {{"--strict"}, false, flag(request.lint.strict, true)},
            {{"--allow-wipe"}, false, flag(request.lint.allowWipe, true)}};
}

// Returns -1 to go on with `request` filled, else the exit status (help shown, wrong usage).
int ReadBuildRequest(const Args& args, BuildRequest& request)
{
    std::vector<std::string> operands;
    int stop = ReadCommandLine("build", kBuildHelp, args, BuildOptionRules(request), operands);
    if (stop >= 0)
        return stop;
    if (operands.size() > 1)
        return Usage("one source folder at a time");
    if (!operands.empty())
        request.source = operands[0];
    if (request.source.empty())
        return Usage("which folder? SRC_DIR is missing");
    if (request.output.empty())
        return Usage("where to? -o OUT.exe is missing");
    if (request.removeMissing && request.bases.empty())
        return Usage("--remove-missing needs --base OLD_DIR");
    if (!request.keep.empty() && request.bases.empty())
        return Usage("--keep needs --base OLD_DIR");
    if (request.allowEmpty && request.bases.empty())
        return Usage("--allow-empty needs --base OLD_DIR");
    for (const std::string& pattern : request.keep) {
        std::string cp932;
        if (pattern.empty() || !TextToCp932(pattern, cp932))
            return Usage("--keep " + pattern + ": give a pattern with a code page 932 form");
    }
    request.progress = !Quiet() && IsTerminal(stderr);
    return -1;
}

bool ReadStub(const BuildRequest& request, fs::path& stub, std::string& stubBytes, std::string& error)
{
    stub = request.stubPath.empty() ? DefaultStub() : fs::u8path(request.stubPath);
    if (stub.empty())
        error = "no updater stub beside mkupdate (updater.exe or updater-stub.exe); name one with --stub";
    else if (!ReadWholeFile(stub, stubBytes))
        error = PathForDisplay(stub) + ": cannot read the stub";
    else if (stubBytes.empty())
        error = PathForDisplay(stub) + ": the stub is empty";
    return error.empty();
}

// SRC_DIR, the stub and the place of OUT.exe, and the settings file read as the updater reads it.
bool CheckInputs(const BuildRequest& request, std::string& stubBytes, std::string& error)
{
    std::error_code code;
    fs::path sourceFolder = fs::u8path(request.source);
    if (!fs::is_directory(sourceFolder, code)) {
        error = request.source + ": not a folder";
        return false;
    }
    fs::path stub;
    return ReadStub(request, stub, stubBytes, error) &&
           CheckOutputPlace(sourceFolder, stub, fs::u8path(request.output), error) &&
           CheckSettingsFile(sourceFolder, request.lint, error);
}

// SRC_DIR's files and folders less what is left out, the title picture made into insttscr.rct.
bool CollectSource(const BuildRequest& request, std::vector<PlannedEntry>& entries, std::string& error)
{
    std::vector<std::string> leftOut;
    CollectOptions collect = request.collect;
    collect.leftOut = &leftOut;
    bool collected = CollectEntries(fs::u8path(request.source), collect, entries, error);
    for (const std::string& item : leftOut)
        if (!Quiet())
            PrintTo(ReportStream(request), "left out: %s\n", EscapeControls(item).c_str());
    return collected && PrepareTitleImage(entries, error);
}

// With --base: the entries cut down to what players lack, and what became of each reported.
bool WeighAgainstBase(const BuildRequest& request, std::vector<PlannedEntry>& entries, BaseReport& report,
                      std::string& error)
{
    if (request.bases.empty())
        return true;
    BaseRequest base;
    base.source = fs::u8path(request.source);
    for (const std::string& folder : request.bases)
        base.bases.push_back(fs::u8path(folder));
    base.deltas = request.deltas;
    base.collect = request.collect;
    base.lint = request.lint;
    base.removeMissing = request.removeMissing;
    base.allowEmpty = request.allowEmpty;
    for (const std::string& pattern : request.keep) {
        std::string cp932;
        TextToCp932(pattern, cp932);
        base.keep.push_back(cp932);
    }
    base.jobs = request.jobs;
    base.progress = request.progress;
    if (!ApplyBase(base, entries, report, error))
        return false;
    if (!Quiet())
        PrintBaseReport(report, request.explain, ReportStream(request));
    return true;
}

// The entries of the package in the order it holds them.
bool PlanPackage(const BuildRequest& request, std::vector<PlannedEntry>& entries, BaseReport& report,
                 std::string& error)
{
    if (!CollectSource(request, entries, error) || !WeighAgainstBase(request, entries, report, error) ||
        !OrderEntries(entries, error) || !WarnOfTightNames(entries, request.lint.strict, error))
        return false;
    if (request.explain && request.bases.empty() && !Quiet())
        for (const PlannedEntry& entry : entries)
            PrintTo(ReportStream(request), "%-9s %s\n", entry.folder ? "folder" : "file",
                    DisplayName(entry.name).c_str());
    return true;
}

// Stub and package into `file`, which is closed, then read back as the updater reads it.
bool WriteAndCheck(const BuildRequest& request, const std::string& stubBytes, const std::vector<PlannedEntry>& entries,
                   std::FILE* file, const fs::path& partial, BuildResult& result, std::string& error)
{
    BuildOptions options;
    options.level = request.level;
    options.jobs = request.jobs;
    options.progress = request.progress;
    bool written = WriteUpdate(stubBytes, entries, options, file, result, error);
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = "cannot write " + PathForDisplay(partial) + " (disk full?)";
    }
    return written && CheckWrittenUpdate(partial, error);
}

// OUT.exe appears only complete: the update is written as OUT.exe.part, which goes on failure or
// interrupt, and renamed once it reads back.
bool WriteUpdateFile(const BuildRequest& request, const std::string& stubBytes,
                     const std::vector<PlannedEntry>& entries, BuildResult& result, std::string& error)
{
    fs::path outputPath = fs::u8path(request.output);
    fs::path partial = outputPath;
    partial += ".part";
    RemoveOnInterrupt(partial);
    std::FILE* file = CreateNewFile(partial);
    if (file == nullptr) {
        KeepOnInterrupt();
        std::error_code missing;
        fs::path folder = outputPath.parent_path();
        if (!folder.empty() && !fs::is_directory(folder, missing))
            error = request.output + ": the folder " + PathForDisplay(folder) + " does not exist; make it first "
                    "(mkdir " + PathAsArgument(folder) + ") or give -o a file in a folder that exists";
        else if (fs::exists(fs::symlink_status(partial, missing)))
            error = request.output + ": cannot create " + PathForDisplay(partial) +
                    ": it exists (left from an interrupted build? remove it first)";
        else
            error = request.output + ": cannot create " + PathForDisplay(partial) + " (" +
                    std::generic_category().message(errno) + "); is the folder writable?";
        return false;
    }
    std::error_code code;
    bool written = WriteAndCheck(request, stubBytes, entries, file, partial, result, error);
    if (written) {
        fs::rename(partial, outputPath, code);
        if (code) {
            error = "cannot put the update in place as " + request.output + ": " + code.message();
            written = false;
        }
    }
    if (!written)
        fs::remove(partial, code);
    KeepOnInterrupt();
    return written;
}

std::string JoinBases(const BuildRequest& request)
{
    std::string text;
    for (const std::string& base : request.bases)
        text += (text.empty() ? "" : ", ") + base;
    return text;
}

// The changed files that had old versions to make deltas from, and what they cost and saved.
struct DeltaTotals {
    int files = 0, deltaFiles = 0, deltas = 0;
    uint64_t deltaBytes = 0, wholeBytes = 0;  // of the files packed as deltas
    bool atLeast = false;                     // some whole sizes only as far as they were compressed
};

DeltaTotals SumDeltas(const BuildResult& result)
{
    DeltaTotals totals;
    for (const DeltaVerdict& verdict : result.deltaVerdicts) {
        ++totals.files;
        if (!verdict.deltas)
            continue;
        ++totals.deltaFiles;
        totals.deltas += (int)verdict.deltaSizes.size();
        for (uint64_t size : verdict.deltaSizes)
            totals.deltaBytes += size;
        totals.wholeBytes += verdict.wholeSize;
        totals.atLeast = totals.atLeast || verdict.wholeAtLeast;
    }
    return totals;
}

// --explain: each changed file's verdict, with its delta and whole sizes.
void ExplainDeltas(const BuildResult& result, std::FILE* out)
{
    for (const DeltaVerdict& verdict : result.deltaVerdicts) {
        std::string sizes;
        for (uint64_t size : verdict.deltaSizes)
            sizes += (sizes.empty() ? "" : " + ") + std::to_string(size);
        std::string whole = (verdict.wholeAtLeast ? "more than " : "") + std::to_string(verdict.wholeSize);
        if (verdict.deltas)
            PrintTo(out, "delta     %s: %s of %s bytes against %s bytes whole (%llu bytes)\n",
                    DisplayName(verdict.name).c_str(), Count((long long)verdict.deltaSizes.size(), "delta", "deltas").c_str(),
                    sizes.c_str(), whole.c_str(), (unsigned long long)verdict.size);
        else if (verdict.nothingMatches)
            PrintTo(out, "whole     %s: shares nothing with an old version; %s bytes whole (%llu bytes)\n",
                    DisplayName(verdict.name).c_str(), whole.c_str(), (unsigned long long)verdict.size);
        else
            PrintTo(out, "whole     %s: deltas of %s bytes are not clearly smaller than %s bytes whole (%llu bytes)\n",
                    DisplayName(verdict.name).c_str(), sizes.c_str(), whole.c_str(), (unsigned long long)verdict.size);
    }
}

std::string DeltaSummary(const DeltaTotals& totals)
{
    if (totals.deltaFiles == 0)
        return "none clearly smaller than the whole file; " +
               Count(totals.files, "changed file", "changed files") + " packed whole";
    std::string text = Count(totals.deltaFiles, "changed file", "changed files") + " as " +
                       Count(totals.deltas, "delta", "deltas") + " of " + std::to_string(totals.deltaBytes) +
                       " bytes instead of " + (totals.atLeast ? "more than " : "") + std::to_string(totals.wholeBytes) +
                       " whole";
    if (totals.wholeBytes > totals.deltaBytes)
        text += ": " + std::string(totals.atLeast ? "at least " : "") +
                std::to_string(totals.wholeBytes - totals.deltaBytes) + " bytes saved";
    if (totals.files > totals.deltaFiles)
        text += "; " + Count(totals.files - totals.deltaFiles, "changed file", "changed files") + " packed whole";
    return text;
}

void ReportBuild(const BuildRequest& request, const BuildResult& result, const BaseReport& baseReport)
{
    DeltaTotals totals = SumDeltas(result);
    if (request.json) {
        PrintTo(stdout, "{\"output\": %s, \"files\": %d, \"folders\": %d, \"bytes\": %llu, \"packageBytes\": %llu, "
                        "\"deltas\": {\"files\": %d, \"entries\": %d, \"bytes\": %llu, \"wholeBytes\": %llu, "
                        "\"wholeAtLeast\": %s}, \"base\": %s}\n",
                JsonString(request.output).c_str(), result.files, result.folders,
                (unsigned long long)result.inputBytes, (unsigned long long)result.packageBytes, totals.deltaFiles,
                totals.deltas, (unsigned long long)totals.deltaBytes, (unsigned long long)totals.wholeBytes,
                totals.atLeast ? "true" : "false",
                request.bases.empty() ? "null" : BaseReportJson(baseReport, request.bases).c_str());
    } else if (!Quiet()) {
        std::FILE* out = ReportStream(request);
        if (request.explain)
            ExplainDeltas(result, out);
        if (!request.bases.empty())
            PrintTo(out, "against %s: %s\n", JoinBases(request).c_str(), BaseSummary(baseReport).c_str());
        if (totals.files > 0)
            PrintTo(out, "deltas: %s\n", DeltaSummary(totals).c_str());
        std::string totalsText = FormatTotals(result.files, result.folders, result.inputBytes, result.packageBytes);
        PrintTo(out, "%s: %s\n", request.output.c_str(), totalsText.c_str());
    }
}

}  // namespace

int RunBuild(const Args& args)
{
    BuildRequest request;
    int stop = ReadBuildRequest(args, request);
    if (stop >= 0)
        return stop;
    std::string stubBytes, error;
    std::vector<PlannedEntry> entries;
    BaseReport baseReport;
    BuildResult result;
    if (!CheckInputs(request, stubBytes, error) || !PlanPackage(request, entries, baseReport, error) ||
        !WriteUpdateFile(request, stubBytes, entries, result, error))
        return Refuse(error);
    ReportBuild(request, result, baseReport);
    return kExitOk;
}
