// mkupdate verify UPDATE.exe [--base OLD_DIR]... [--json]
#include <cstdio>
#include <filesystem>

#include "build/name_room.h"
#include "build/package_plan.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "cli/text_util.h"
#include "examine/delta_bases.h"
#include "examine/update_file.h"
#include "host/rct_convert.h"
#include "lint/settings_replay.h"
#include "lint/update_faults.h"
#include "lint/version_rules.h"
#include "settings/action_lists.h"
#include "settings/settings.h"
#include "text/cp932_text.h"

namespace {

const char kVerifyHelp[] =
    "usage: mkupdate verify UPDATE.exe [--base OLD_DIR]... [--json]\n"
    "\n"
    "Checks an update executable the way the updater will meet it: the trailer and layout, every\n"
    "entry header, the rules of the format (names the updater writes under exactly that name,\n"
    "inside the installed folder; no two names that differ only in case; folders before their\n"
    "contents; setup files where the setup pass can unpack them; names that fit under an install\n"
    "folder, with a warning for each that leaves less room than an ordinary one of 80 bytes), and\n"
    "inflates every stream, checking its Adler-32, its size, and that it ends exactly where its\n"
    "packed size says. An update that cannot work is not sound either: one without its title\n"
    "picture insttscr.rct (or with one the updater cannot show), or whose version gate fails: a\n"
    "range no installed version passes, a CHKREGVER or CHKREGVERHIGH that is no whole number, and\n"
    "no [reg] line writing CHKREG's value above the range (players could take it again, or be\n"
    "turned back to an older number).\n"
    "A delta entry (an update built with --base carries one for a file that changed little) has\n"
    "its records checked: each kind, each range within the old file, the stream's end, the size\n"
    "of what they make. Given the old versions with --base, each delta is applied to the file it\n"
    "belongs to and the result's SHA-256 checked, and every --base must be served: for each\n"
    "file the update brings as deltas, that folder's file must be one of their old versions (or\n"
    "already the new one), else the updater would refuse players who have that version.\n"
    "\n"
    "  --base OLD_DIR  an old version the update is for (repeatable)\n"
    "  --json       print the verdict as a JSON object\n"
    "  -q, --quiet  print nothing but problems\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 sound, 1 a problem (the first one is printed with its byte offset), 2 wrong usage\n";

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

// The setup files the updater reads at start-up, gathered while the walk inflates them.
struct SetupTexts {
    bool hasSettings = false, hasTitle = false;
    std::string settings, title, titleName;
};

// What a sound package still lacks to work: a title picture the updater can show, a version
// range some installed version passes. Fills `problem` and returns false.
bool CheckWorks(const SetupTexts& setup, int64_t packageOffset, PackageProblem& problem)
{
    problem.offset = packageOffset;
    if (!setup.hasTitle) {
        problem.name = "insttscr.rct";
        problem.text = std::string(kNoTitlePicture) + "; then build the update again";
        return false;
    }
    RgbImage image;
    RctFileInfo info;
    std::string error;
    if (!DecodeRctFile(setup.title, image, info, error)) {
        problem.name = setup.titleName;
        problem.text = "the title picture is no RCT picture the updater can show (" + error +
                       "); make it again with mkupdate rct encode and build the update again";
        return false;
    }
    if (setup.hasSettings) {
        SettingsReplay replay = ReplaySettings(setup.settings);
        std::vector<VersionFinding> versions = CheckVersionGate(replay);
        FreeActionLists();
        FreeSettings();
        for (const VersionFinding& finding : versions) {
            if (!finding.error)
                continue;
            problem.name = "install.env";
            problem.text = finding.message + " (line " + std::to_string(finding.line) + " of the packaged install.env)";
            return false;
        }
    }
    return true;
}

// The delta entries of one name against every --base, once the group is complete: each old
// version must be served by one of them.
bool CheckDeltaGroup(const DeltaGroup& group, const DeltaBases& bases, PackageProblem& problem)
{
    for (size_t i = 0; i < group.served.size(); ++i) {
        if (group.served[i])
            continue;
        problem.offset = group.offset;
        problem.name = group.name;
        problem.text = group.absent[i]
                           ? "--base " + PathForDisplay(bases.Folder(i)) +
                                 " lacks this file, which the update brings only as a delta: the updater would "
                                 "refuse players who have that version"
                           : "the file in --base " + PathForDisplay(bases.Folder(i)) +
                                 " is none of the old versions this update's deltas apply to: the updater would "
                                 "refuse players who have that version";
        return false;
    }
    return true;
}

// Weighs a delta entry against every --base; a new name closes the group before it.
bool WeighDelta(const WalkedEntry& e, DeltaBases& bases, DeltaGroup& group, PackageProblem& problem)
{
    std::string key = NameKey(e.entry.name, false);
    if (!group.key.empty() && key != group.key && !CheckDeltaGroup(group, bases, problem))
        return false;
    if (key != group.key) {
        group = DeltaGroup{key, e.entry.name, e.offset, std::vector<bool>(bases.Count()), std::vector<bool>(bases.Count())};
    }
    for (size_t i = 0; i < bases.Count(); ++i) {
        const DeltaBases::OldFile* old = nullptr;
        std::string error;
        if (!bases.Find(i, e.entry.name, old, error)) {
            problem.offset = e.offset;
            problem.name = e.entry.name;
            problem.text = error;
            return false;
        }
        group.absent[i] = !old->present;
        if (old->present && CompareDeltaBase(&e.deltaHeader, old->size, old->hash) != DELTA_BASE_DIFFERS)
            group.served[i] = true;
    }
    return true;
}

}  // namespace

int RunVerify(const Args& args)
{
    bool json = false;
    std::string path;
    std::vector<std::filesystem::path> baseFolders;
    std::vector<std::string> operands;
    int stop = ReadCommandLine("verify", kVerifyHelp, args,
                               {{{"--json"}, false,
                                 [&](const std::string&) {
                                     json = true;
                                     return std::string();
                                 }},
                                {{"--base"}, true,
                                 [&](const std::string& value) {
                                     baseFolders.push_back(std::filesystem::u8path(value));
                                     return std::string();
                                 }}},
                               operands);
    if (stop >= 0)
        return stop;
    if (operands.empty())
        return UsageError("verify", "which update? UPDATE.exe is missing");
    if (operands.size() > 1)
        return UsageError("verify", "one update at a time");
    path = operands[0];
    DeltaBases bases;
    std::string baseError;
    if (!bases.Read(baseFolders, baseError))
        return InputError("verify", baseError);
    DeltaGroup group;
    UpdateFile file;
    if (!file.Open(path))
        return InputError("verify", path + ": cannot open the file");
    std::error_code code;
    ProgressLine progress("verify", std::filesystem::file_size(std::filesystem::u8path(path), code));
    PackageWalk walk;
    walk.inflateAll = true;
    walk.checkRules = true;
    PackageProblem problem;
    std::vector<std::string> tight;  // names that leave less room than an ordinary install folder
    SetupTexts setup;
    std::string* taking = nullptr;
    walk.begin = [&](const WalkedEntry& e) {
        progress.Reached((uint64_t)e.offset);
        // The rules hold byte by byte; the characters must also exist, or Windows writes the name
        // with a stand-in character and extract cannot write it at all.
        std::filesystem::path mapped;
        if (!Cp932ToHostPath(".", e.entry.name, mapped)) {
            problem.offset = e.offset;
            problem.name = e.entry.name;
            problem.text = "the name holds a character that code page 932 does not assign";
            return (int)WALK_STOP;
        }
        if (!JudgeNameRoom(e.entry.name, IsFolderEntry(&e.entry), problem.text, tight)) {
            problem.offset = e.offset;
            problem.name = e.entry.name;
            return (int)WALK_STOP;
        }
        if (!e.delta && !group.key.empty()) {
            if (!CheckDeltaGroup(group, bases, problem))
                return (int)WALK_STOP;
            group = DeltaGroup{};
        }
        if (e.delta && !WeighDelta(e, bases, group, problem))
            return (int)WALK_STOP;
        std::string name = Lower(e.entry.name);
        taking = nullptr;
        if (e.entry.originalSize != PACKAGE_FOLDER_SIZE && name == "install.env" && !setup.hasSettings) {
            setup.hasSettings = true;
            taking = &setup.settings;
        } else if (e.entry.originalSize != PACKAGE_FOLDER_SIZE && name == "insttscr.rct" && !setup.hasTitle) {
            setup.hasTitle = true;
            setup.titleName = e.entry.name;
            taking = &setup.title;
        }
        return taking != nullptr ? (int)WALK_TAKE : (int)WALK_SKIP;
    };
    walk.data = [&](const WalkedEntry&, const unsigned char* data, size_t size) {
        taking->append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    // Each delta applied to the old version it belongs to, where a --base holds it.
    walk.deltaSource = [&](const WalkedEntry& e) -> const DeltaSource* {
        for (size_t i = 0; i < bases.Count(); ++i) {
            const DeltaBases::OldFile* old = nullptr;
            std::string error;
            if (bases.Find(i, e.entry.name, old, error) && old->present &&
                CompareDeltaBase(&e.deltaHeader, old->size, old->hash) == DELTA_BASE_MATCHES)
                return bases.Open(old->path);
        }
        return nullptr;
    };
    WalkSummary summary;
    bool sound = WalkPackage(file.Stream(), walk, &summary, &problem) && problem.text.empty() &&
                 (group.key.empty() || CheckDeltaGroup(group, bases, problem)) &&
                 CheckWorks(setup, summary.firstEntryOffset, problem);
    for (const std::string& line : tight)
        PrintTo(stderr, "mkupdate verify: warning: %s\n", line.c_str());
    if (json) {
        PrintTo(stdout, "{\"file\": %s, \"sound\": %s", JsonString(path).c_str(), sound ? "true" : "false");
        if (sound)
            PrintTo(stdout, ", \"files\": %d, \"folders\": %d, \"packageSize\": %d, \"packageOffset\": %lld, \"deltas\": %d",
                    summary.files, summary.folders, summary.packageSize, (long long)summary.firstEntryOffset, summary.deltas);
        else
            PrintTo(stdout, ", \"problem\": {\"offset\": %lld, \"name\": %s, \"text\": %s}", (long long)problem.offset,
                        JsonString(DisplayName(problem.name)).c_str(), JsonString(problem.text).c_str());
        PrintTo(stdout, "}\n");
    }
    if (!sound)
        return InputError("verify", path + ": " + DescribeProblem(problem));
    if (!json)
        Say("%s: sound: %s%s, %s, package of %d bytes at offset %lld\n", path.c_str(),
            Count(summary.files, "file", "files").c_str(),
            summary.deltas > 0 ? (" (" + Count(summary.deltas, "delta", "deltas") +
                                  (bases.Count() > 0 ? " applied to the old versions given" : ", records checked") + ")")
                                     .c_str()
                               : "",
            Count(summary.folders, "folder", "folders").c_str(), summary.packageSize, (long long)summary.firstEntryOffset);
    return kExitOk;
}
