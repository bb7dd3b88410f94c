// mkupdate list UPDATE.exe [--json]
#include <cstdio>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "build/removal_lines.h"
#include "cli/text_util.h"
#include "examine/update_file.h"
#include "package/delta_writer.h"

namespace {

const char kListHelp[] =
    "usage: mkupdate list UPDATE.exe [--json]\n"
    "\n"
    "Lists every entry of the package in an update executable, in package order: its kind\n"
    "(file, folder, or delta: the changes from one old version of a file, made by build --base;\n"
    "its size is that of the file it makes, and the size and SHA-256 of the old version it\n"
    "applies to follow in --json), name, size, packed size, ratio and last-write time (UTC), and then the\n"
    "files the updater removes after the update (the [delfiles_afterinst] lines of the packaged\n"
    "install.env, which build --base --remove-missing adds to). Nothing else is inflated;\n"
    "'mkupdate verify' checks the data.\n"
    "\n"
    "  --json       print a JSON object instead of a table (times in RFC 3339, UTC)\n"
    "  -h, --help   show this help\n"
    "\n"
    "exit status: 0 listed, 1 the file is no update or its package is damaged, 2 wrong usage\n";

struct Row {
    bool folder;
    bool delta;
    uint64_t baseSize;
    std::string baseHash, resultHash;
    std::string name;
    int64_t originalSize;
    uint32_t compressedSize;
    uint64_t time;
};

double Ratio(const Row& row)
{
    return row.originalSize > 0 ? 100.0 * row.compressedSize / (double)row.originalSize : 100.0;
}

}  // namespace

int RunList(const Args& args)
{
    bool json = false;
    std::string path;
    int stop = ReadUpdateAndJson("list", kListHelp, args, path, json);
    if (stop >= 0)
        return stop;
    UpdateFile file;
    if (!file.Open(path))
        return InputError("list", path + ": cannot open the file");
    std::vector<Row> rows;
    std::string settings;
    PackageWalk walk;
    walk.begin = [&](const WalkedEntry& e) {
        Row row{IsFolderEntry(&e.entry), e.delta, 0, "", "", DisplayName(e.entry.name), e.entry.originalSize,
                e.entry.compressedSize, e.lastWriteTime};
        if (e.delta) {
            row.originalSize = (int64_t)e.deltaHeader.resultSize;
            row.baseSize = e.deltaHeader.baseSize;
            row.baseHash = DigestHex(e.deltaHeader.baseHash);
            row.resultHash = DigestHex(e.deltaHeader.resultHash);
        }
        rows.push_back(row);
        return std::string(e.entry.name) == "install.env" ? (int)WALK_TAKE : (int)WALK_SKIP;
    };
    walk.data = [&](const WalkedEntry&, const unsigned char* data, size_t size) {
        settings.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    WalkSummary summary;
    PackageProblem problem;
    bool ok = WalkPackage(file.Stream(), walk, &summary, &problem);
    // Something that is no update at all gives nothing to read on standard output.
    if (!ok && rows.empty())
        return InputError("list", path + ": " + DescribeProblem(problem));

    std::vector<std::string> removals = ReadSettingsView(settings).removals;
    int files = 0, folders = 0, deltas = 0;
    uint64_t total = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        deltas += row.delta ? 1 : 0;
        // The deltas of one name, one for each old version, make one file.
        if (row.delta && i > 0 && rows[i - 1].delta && rows[i - 1].name == row.name)
            continue;
        row.folder ? ++folders : ++files;
        total += row.folder ? 0 : (uint64_t)row.originalSize;
    }
    if (json) {
        PrintTo(stdout, "{\n  \"packageOffset\": %lld,\n  \"packageSize\": %d,\n  \"files\": %d,\n  \"folders\": %d,\n"
                    "  \"bytes\": %llu,\n  \"entries\": [",
                    (long long)summary.firstEntryOffset, summary.packageSize, files, folders, (unsigned long long)total);
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            PrintTo(stdout, "%s\n    {\"kind\": \"%s\", \"name\": %s", i == 0 ? "" : ",",
                    row.folder ? "folder" : row.delta ? "delta" : "file", JsonString(row.name).c_str());
            if (!row.folder)
                PrintTo(stdout, ", \"size\": %lld, \"packedSize\": %u, \"ratio\": %.1f, \"time\": \"%s\", "
                            "\"fileTime\": %llu",
                            (long long)row.originalSize, row.compressedSize, Ratio(row),
                            FormatFileTimeRfc3339(row.time).c_str(), (unsigned long long)row.time);
            if (row.delta)
                PrintTo(stdout, ", \"sha256\": \"%s\", \"baseSize\": %llu, \"baseSha256\": \"%s\"", row.resultHash.c_str(),
                        (unsigned long long)row.baseSize, row.baseHash.c_str());
            PrintTo(stdout, "}");
        }
        PrintTo(stdout, "\n  ],\n  \"removedAfterUpdate\": [");
        for (size_t i = 0; i < removals.size(); ++i)
            PrintTo(stdout, "%s%s", i == 0 ? "" : ", ", JsonString(DisplayName(removals[i])).c_str());
        PrintTo(stdout, "]");
        if (!ok)
            PrintTo(stdout, ",\n  \"problem\": {\"offset\": %lld, \"text\": %s}", (long long)problem.offset,
                        JsonString(DescribeProblem(problem)).c_str());
        PrintTo(stdout, "\n}\n");
    } else {
        PrintTo(stdout, "%-6s %12s %12s %7s  %-19s  %s\n", "kind", "size", "packed", "ratio", "time (UTC)", "name");
        for (const Row& row : rows) {
            if (row.folder)
                PrintTo(stdout, "%-6s %12s %12s %7s  %-19s  %s\n", "folder", "-", "-", "-", "-", row.name.c_str());
            else
                PrintTo(stdout, "%-6s %12lld %12u %6.1f%%  %s  %s\n", row.delta ? "delta" : "file", (long long)row.originalSize,
                            row.compressedSize, Ratio(row), FormatFileTime(row.time).c_str(), row.name.c_str());
        }
        PrintTo(stdout, "%s; package at offset %lld\n", FormatTotals(files, folders, total, (uint64_t)summary.packageSize).c_str(),
                    (long long)summary.firstEntryOffset);
        if (deltas > 0)
            PrintTo(stdout, "%s of old versions: each makes its file from the old version whose size and SHA-256 it "
                            "names (mkupdate list --json)\n", Count(deltas, "delta", "deltas").c_str());
        for (const std::string& line : removals)
            PrintTo(stdout, "removed after the update: %s\n", DisplayName(line).c_str());
    }
    if (!ok)
        return InputError("list", path + ": " + DescribeProblem(problem));
    return kExitOk;
}
