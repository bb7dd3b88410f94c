// The package reader over arbitrary bytes: trailer, entry headers, the rules and every inflated
// stream, through the same walk the builder's verify and extract use. It must never read or
// write outside its buffers, a sound verdict must hold up when the package is read again entry
// by entry with the reader alone, and every name of a package verify calls sound must map to a
// path strictly inside extract's destination folder.
#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/entry_names.h"
#include "host_files.h"
#include "package/package_walk.h"

volatile uint64_t packageReaderSink;

static void ReadHeadersOnly(const uint8_t* data, size_t size)
{
    MemoryStream memory{data, size, 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t packageSize = 0;
    if (LocatePackage(&stream, &packageSize) != PACKAGE_ENTRY)
        return;
    for (int i = 0; i < 100000; ++i) {
        PackageEntry entry;
        if (ReadPackageEntry(&stream, &entry) != PACKAGE_ENTRY)
            return;
        // Exercise the name rules on what the reader hands out.
        IsSetupFileName(entry.name);
        SetupPassStep(&entry);
        IsSafeEntryName("C:\\Game", &entry);
        if (!IsFolderEntry(&entry) && SkipPackageData(&stream, &entry) != PACKAGE_ENTRY)
            return;
    }
}

// Extract's mapping of a sound name stays strictly below the destination. (A name whose
// characters code page 932 does not assign has no mapping: extract and verify refuse it.)
static void CheckInsideDestination(const std::string& name)
{
    const std::filesystem::path destination("/dest");
    std::filesystem::path path;
    if (!Cp932ToHostPath(destination, name, path))
        return;
    std::filesystem::path inside = path.lexically_normal().lexically_relative(destination);
    if (inside.empty() || inside == "." || *inside.begin() == "..")
        __builtin_trap();
    for (const std::filesystem::path& part : path.lexically_relative(destination))
        if (part == "." || part == "..")
            __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ReadHeadersOnly(data, size);

    MemoryStream memory{data, size, 0};
    ByteStream stream = MemoryByteStream(&memory);
    uint64_t inflated = 0;
    PackageWalk walk;
    walk.inflateAll = true;
    walk.checkRules = (size & 1) != 0;
    walk.data = [&](const WalkedEntry& entry, const unsigned char* bytes, size_t count) {
        // Touch every delivered byte so the sanitizers see each one.
        for (size_t i = 0; i < count; ++i)
            inflated += bytes[i];
        return entry.inflatedSize >= 0;
    };
    std::vector<std::string> names;
    walk.begin = [&](const WalkedEntry& entry) {
        names.emplace_back(entry.entry.name);
        return (int)WALK_TAKE;
    };
    WalkSummary summary;
    PackageProblem problem;
    if (WalkPackage(&stream, walk, &summary, &problem)) {
        if (!problem.text.empty() || summary.packageSize < 0)
            __builtin_trap();
        if (walk.checkRules)
            for (const std::string& name : names)
                CheckInsideDestination(name);
    } else if (problem.text.empty() || problem.offset < 0 || problem.offset > (int64_t)size) {
        // A refusal always says what and where.
        __builtin_trap();
    }
    packageReaderSink = inflated;
    return 0;
}
