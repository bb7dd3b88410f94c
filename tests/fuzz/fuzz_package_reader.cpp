// The package reader over arbitrary bytes: trailer, entry headers, the rules and every inflated
// stream, through the same walk the builder's verify and extract use. It must never read or
// write outside its buffers, a sound verdict must hold up when the package is read again entry
// by entry with the reader alone, and every name of a package verify calls sound must map to a
// path strictly inside extract's destination folder. The updater's full pass is replayed too,
// with its own settings of the shared inflate loop: where the walk finds a package sound, the
// updater must extract it, each file with the same bytes, in blocks and progress steps its
// progress arithmetic can rely on.
#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/delta_apply.h"
#include "package/entry_inflate.h"
#include "package/entry_names.h"
#include "host/host_files.h"
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
        EntryHeader header;
        if (ReadEntryHeader(&stream, &header) != PACKAGE_ENTRY)
            return;
        // Exercise the name rules on what the reader hands out, as the updater's setup pass does.
        IsSetupFileName(header.entry.name);
        SetupPassStep(&header.entry);
        IsSafeEntryName("C:\\Game", &header);
        if (!IsFolderEntry(&header.entry) && SkipPackageData(&stream, &header.entry) != PACKAGE_ENTRY)
            return;
    }
}

// A running digest of one file's inflated bytes, in order.
struct Digest {
    uint64_t value = 1469598103934665603ull;
    void Add(const unsigned char* bytes, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            value = (value ^ bytes[i]) * 1099511628211ull;
    }
};

struct StubFile {
    Digest digest;
    uint32_t compressedSize;
    int64_t handedOver = 0;
    int64_t lastRequested = 0;
    bool shortBlockSeen = false;
};

static bool StubBlock(void* context, const unsigned char* bytes, size_t count)
{
    StubFile* file = (StubFile*)context;
    // Only the last block of a file may be short, and none is empty or over the unit.
    if (count == 0 || count > BLOCK_SIZE || file->shortBlockSeen)
        __builtin_trap();
    file->shortBlockSeen = count < BLOCK_SIZE;
    file->digest.Add(bytes, count);
    file->handedOver += (int64_t)count;
    return true;
}

static void StubProgress(void* context, int64_t inflated, int64_t requested)
{
    StubFile* file = (StubFile*)context;
    if (inflated != file->handedOver || requested < file->lastRequested || requested > (int64_t)file->compressedSize)
        __builtin_trap();
    file->lastRequested = requested;
}

// The updater's full pass without the files: no cap on the output, a stream that ends before
// its compressedSize taken as the updater takes it. False where the updater gives its notice.
static bool ReplayFullPass(const uint8_t* data, size_t size, std::vector<uint64_t>& digests)
{
    MemoryStream memory{data, size, 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t packageSize = 0;
    if (LocatePackage(&stream, &packageSize) != PACKAGE_ENTRY)
        return false;
    std::vector<unsigned char> input(BLOCK_SIZE), output(BLOCK_SIZE);
    for (int i = 0; i < 100000; ++i) {
        EntryHeader header;
        int read = ReadEntryHeader(&stream, &header);
        if (read == PACKAGE_END)
            return true;
        if (read != PACKAGE_ENTRY)
            return false;
        const PackageEntry& entry = header.entry;
        if (IsFolderEntry(&entry))
            continue;
        StubFile file;
        file.compressedSize = entry.compressedSize;
        InflateSink sink = {&file, StubBlock, StubProgress};
        InflateOutcome outcome;
        int64_t dataStart = (int64_t)memory.position;
        if (IsDeltaEntry(&entry)) {
            // The full pass's applier, with stand-in old bytes as the walk of verify uses them.
            std::vector<unsigned char> work(DELTA_WORK_SIZE);
            DeltaOutcome delta;
            if (ApplyDeltaEntry(&stream, entry.compressedSize, nullptr, work.data(), &sink, &delta) != DELTA_DONE)
                return false;
            if ((int64_t)memory.position != dataStart + (int64_t)entry.compressedSize)
                __builtin_trap();
            digests.push_back(file.digest.value);
            continue;
        }
        if (InflateEntryData(&stream, entry.compressedSize, -1, input.data(), output.data(), &sink, &outcome) !=
            INFLATE_DONE)
            return false;
        // The next entry is read right after the data the entry claims; data that runs past the
        // package leaves the stream at its limit, where that read fails.
        int64_t next = outcome.shortRead ? stream.limit : dataStart + (int64_t)entry.compressedSize;
        if ((int64_t)memory.position != next || next > stream.limit)
            __builtin_trap();
        digests.push_back(file.digest.value);
    }
    return false;
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
    std::vector<uint64_t> walkedDigests;
    Digest digest;
    PackageWalk walk;
    walk.inflateAll = true;
    walk.checkRules = (size & 1) != 0;
    walk.data = [&](const WalkedEntry& entry, const unsigned char* bytes, size_t count) {
        // Touch every delivered byte so the sanitizers see each one.
        for (size_t i = 0; i < count; ++i)
            inflated += bytes[i];
        digest.Add(bytes, count);
        return entry.inflatedSize >= 0;
    };
    walk.end = [&](const WalkedEntry& entry) {
        if (!IsFolderEntry(&entry.entry))
            walkedDigests.push_back(digest.value);
        digest = Digest();
        return true;
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
        std::vector<uint64_t> extractedDigests;
        if (!ReplayFullPass(data, size, extractedDigests) || extractedDigests != walkedDigests)
            __builtin_trap();
    } else {
        // A refusal always says what and where.
        if (problem.text.empty() || problem.offset < 0 || problem.offset > (int64_t)size)
            __builtin_trap();
        std::vector<uint64_t> ignored;
        ReplayFullPass(data, size, ignored);
    }
    packageReaderSink = inflated;
    return 0;
}
