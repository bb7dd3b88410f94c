// mkupdate list UPDATE.exe [--json]
#include <cstdio>
#include <vector>

#include "commands.h"
#include "lint.h"
#include "update_file.h"

namespace {

const char kListHelp[] =
    "usage: mkupdate list UPDATE.exe [--json]\n"
    "\n"
    "Lists every entry of the package in an update executable, in package order: its kind\n"
    "(file or folder), name, size, packed size, ratio and last-write time (UTC). Nothing is\n"
    "inflated; 'mkupdate verify' checks the data.\n"
    "\n"
    "  --json   print a JSON object instead of a table\n"
    "  --help   show this help\n"
    "\n"
    "exit status: 0 listed, 1 the file is no update or its package is damaged, 2 wrong usage\n";

std::string JsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

struct Row {
    bool folder;
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
    std::string path;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kListHelp, stdout);
            return kExitOk;
        } else if (arg == "--json") {
            json = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "mkupdate list: unknown option '%s'\n\n%s", arg.c_str(), kListHelp);
            return kExitUsage;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "mkupdate list: one update at a time\n\n%s", kListHelp);
            return kExitUsage;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "mkupdate list: which update? UPDATE.exe is missing\n\n%s", kListHelp);
        return kExitUsage;
    }
    UpdateFile file;
    if (!file.Open(path)) {
        std::fprintf(stderr, "mkupdate list: %s: cannot open the file\n", path.c_str());
        return kExitInput;
    }
    std::vector<Row> rows;
    PackageWalk walk;
    walk.begin = [&](const WalkedEntry& e) {
        rows.push_back({IsFolderEntry(&e.entry), DisplayName(e.entry.name), e.entry.originalSize,
                        e.entry.compressedSize, e.lastWriteTime});
        return (int)WALK_SKIP;
    };
    WalkSummary summary;
    PackageProblem problem;
    bool ok = WalkPackage(file.Stream(), walk, &summary, &problem);

    if (json) {
        std::printf("{\n  \"packageOffset\": %lld,\n  \"packageSize\": %d,\n  \"entries\": [",
                    (long long)summary.firstEntryOffset, summary.packageSize);
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            std::printf("%s\n    {\"kind\": \"%s\", \"name\": %s", i == 0 ? "" : ",", row.folder ? "folder" : "file",
                        JsonString(row.name).c_str());
            if (!row.folder)
                std::printf(", \"size\": %lld, \"packedSize\": %u, \"ratio\": %.1f, \"time\": \"%sZ\", "
                            "\"fileTime\": %llu",
                            (long long)row.originalSize, row.compressedSize, Ratio(row),
                            FormatFileTime(row.time).c_str(), (unsigned long long)row.time);
            std::printf("}");
        }
        std::printf("\n  ]");
        if (!ok)
            std::printf(",\n  \"problem\": {\"offset\": %lld, \"text\": %s}", (long long)problem.offset,
                        JsonString(DescribeProblem(problem)).c_str());
        std::printf("\n}\n");
    } else {
        std::printf("%-6s %12s %12s %7s  %-19s  %s\n", "kind", "size", "packed", "ratio", "time (UTC)", "name");
        uint64_t total = 0, packed = 0;
        for (const Row& row : rows) {
            if (row.folder) {
                std::printf("%-6s %12s %12s %7s  %-19s  %s\n", "folder", "-", "-", "-", "-", row.name.c_str());
                continue;
            }
            total += (uint64_t)row.originalSize;
            packed += row.compressedSize;
            std::printf("%-6s %12lld %12u %6.1f%%  %s  %s\n", "file", (long long)row.originalSize, row.compressedSize,
                        Ratio(row), FormatFileTime(row.time).c_str(), row.name.c_str());
        }
        std::printf("%zu entries, %llu bytes packed into %llu; package of %d bytes at offset %lld\n", rows.size(),
                    (unsigned long long)total, (unsigned long long)packed, summary.packageSize,
                    (long long)summary.firstEntryOffset);
    }
    if (!ok) {
        std::fprintf(stderr, "mkupdate list: %s: %s\n", path.c_str(), DescribeProblem(problem).c_str());
        return kExitInput;
    }
    return kExitOk;
}
