// The walk over a whole package for list, verify, extract and the fuzzer
// (package/package_walk.h).
#include "package/package_walk.h"

#include <string.h>
#include <zlib.h>

#include <set>
#include <vector>

#include "package/entry_inflate.h"
#include "package/entry_names.h"
#include "text/path_text.h"

namespace {

std::string NameKey(const std::string& name, bool folder)
{
    char key[PATH_BUFFER_SIZE];
    EntryNameKey(name.c_str(), folder, key, sizeof key);
    return key;
}

// The folder that must exist before the entry can be made, separator included; empty at the
// top level.
std::string ParentFolder(const char* name, bool folder)
{
    return std::string(name, (size_t)ParentFolderLength(name, folder));
}

struct Walker {
    ByteStream* stream;
    PackageWalk& walk;
    PackageProblem* problem;
    std::set<std::string> folders;  // keys of the folder entries met so far
    std::set<std::string> names;    // keys of every entry
    std::string deltaKey;           // the name of the delta entries just met
    std::set<std::string> deltaBases;  // their old versions (size and hash)
    bool beforeNestedFolder = true;

    bool Fail(int64_t offset, const char* name, const std::string& text)
    {
        if (problem != nullptr && problem->text.empty()) {
            problem->offset = offset;
            problem->name.assign(name, strnlen(name, PATH_BUFFER_SIZE));
            problem->text = text;
        }
        return false;
    }

    int64_t Position() { return stream->tell(stream->context); }

    bool CheckRules(const WalkedEntry& walked)
    {
        const PackageEntry& entry = walked.entry;
        bool folder = IsFolderEntry(&entry);
        if (walked.nameFault != ENTRY_NAME_OK)
            return Fail(walked.offset, entry.name,
                        std::string("not a name the updater may write: ") + DescribeEntryNameFault(walked.nameFault));
        // Windows ignores case: "Data\" and "data" are one name, whatever kind each entry is.
        // Only delta entries side by side share a name, one for each old version.
        std::string key = NameKey(entry.name, folder);
        bool nextDelta = walked.delta && key == deltaKey;
        if (!nextDelta && !names.insert(key).second)
            return Fail(walked.offset, entry.name, "same name as an earlier entry (Windows ignores case)");
        if (walked.delta && !CheckDeltaRules(walked, key, nextDelta))
            return false;
        if (!walked.delta)
            deltaKey.clear();
        std::string parent = ParentFolder(entry.name, folder);
        if (!parent.empty() && folders.count(NameKey(parent, true)) == 0)
            return Fail(walked.offset, entry.name, "comes before the entry of its folder, " + parent);
        if (beforeNestedFolder) {
            int step = SetupPassStep(&entry);
            if (step == SETUP_END)
                beforeNestedFolder = false;
            else if (step == SETUP_EXTRACT && !parent.empty())
                return Fail(walked.offset, entry.name,
                            "setup file inside a folder before the first nested folder entry: the setup pass cannot create it");
        }
        if (folder)
            folders.insert(NameKey(entry.name, true));
        return true;
    }

    bool CheckDeltaRules(const WalkedEntry& walked, const std::string& key, bool nextDelta)
    {
        // The setup pass inflates its files whole: it has no old file to apply a delta to.
        if (IsSetupFileName(walked.entry.name))
            return Fail(walked.offset, walked.entry.name, "a delta of a setup file: the setup pass cannot apply it");
        if (!nextDelta) {
            deltaKey = key;
            deltaBases.clear();
        }
        const DeltaHeader& header = walked.deltaHeader;
        std::string base = std::to_string(header.baseSize) + ":" +
                           std::string(reinterpret_cast<const char*>(header.baseHash), SHA256_SIZE);
        if (!deltaBases.insert(base).second)
            return Fail(walked.offset, walked.entry.name, "a second delta entry from the same old version");
        return true;
    }

    // What the applier's status means, in words.
    static std::string DescribeDeltaFault(int status)
    {
        switch (status) {
        case DELTA_HEADER_CUT_SHORT: return "the delta's header does not fit its data";
        case DELTA_NO_ZLIB: return "zlib could not be initialised";
        case DELTA_CUT_SHORT: return "the file ends inside this entry's data";
        case DELTA_UNFINISHED: return "the delta's zlib stream does not end within its compressedSize";
        case DELTA_DAMAGED: return "damaged zlib stream of delta records";
        case DELTA_STREAM_SHORT: return "the delta's zlib stream ends before the end of its data (compressedSize is too large)";
        case DELTA_BAD_RECORD: return "a damaged delta record (unknown kind, length 0 or a number too large)";
        case DELTA_NO_END: return "the delta's records stop before their end record";
        case DELTA_AFTER_END: return "bytes after the delta's end record";
        case DELTA_OUT_OF_RANGE: return "a delta record reaches outside the old file";
        case DELTA_OLD_READ: return "the old file cannot be read to its stated size";
        case DELTA_TOO_LONG: return "the delta makes more bytes than its stated result size";
        case DELTA_TOO_SHORT: return "the delta makes fewer bytes than its stated result size";
        case DELTA_WRONG_HASH: return "the delta's result does not have its stated SHA-256";
        default: return "";
        }
    }

    // Where an entry's bytes go: to the walk's data callback, when the entry is to be delivered.
    struct Delivery {
        PackageWalk& walk;
        const WalkedEntry& walked;
        bool deliver;
    };
    static InflateSink DeliverySink(Delivery* delivery)
    {
        return {delivery,
                [](void* context, const unsigned char* data, size_t size) {
                    Delivery* d = static_cast<Delivery*>(context);
                    return !d->deliver || !d->walk.data || d->walk.data(d->walked, data, size);
                },
                nullptr};
    }

    // Applies a delta's records with the updater's own applier, to the old file the walk names
    // or, without one, to stand-in bytes (every check but the result's hash).
    bool ApplyDelta(WalkedEntry& walked, bool deliver)
    {
        const PackageEntry& entry = walked.entry;
        int64_t recordsOffset = walked.offset + EntryHeaderSize(&entry) + PACKAGE_TIME_SIZE + DELTA_HEADER_SIZE;
        std::vector<unsigned char> work(DELTA_WORK_SIZE);
        Delivery delivery{walk, walked, deliver};
        InflateSink sink = DeliverySink(&delivery);
        const DeltaSource* source = walk.deltaSource ? walk.deltaSource(walked) : nullptr;
        DeltaOutcome outcome;
        int status = ApplyDeltaRecords(stream, &walked.deltaHeader, entry.compressedSize, source, work.data(), &sink,
                                       &outcome);
        walked.inflatedSize = outcome.written;
        if (status == DELTA_DONE)
            return true;
        if (status == DELTA_REFUSED)
            return Fail(recordsOffset, entry.name, "");
        return Fail(recordsOffset + outcome.inflate.consumed, entry.name, DescribeDeltaFault(status));
    }

    // Inflates a file's data with the updater's own loop; the rules cap the output at
    // originalSize, and the stream must end exactly where its compressedSize says.
    bool Inflate(WalkedEntry& walked, bool deliver)
    {
        const PackageEntry& entry = walked.entry;
        int64_t dataOffset = walked.offset + EntryHeaderSize(&entry) + PACKAGE_TIME_SIZE;
        std::vector<unsigned char> input(BLOCK_SIZE);
        std::vector<unsigned char> output(BLOCK_SIZE);
        Delivery delivery{walk, walked, deliver};
        InflateSink sink = DeliverySink(&delivery);
        InflateOutcome outcome;
        int status = InflateEntryData(stream, entry.compressedSize, walk.checkRules ? entry.originalSize : -1,
                                      input.data(), output.data(), &sink, &outcome);
        walked.inflatedSize = outcome.inflated;
        int64_t at = dataOffset + outcome.consumed;
        if (outcome.unused > 0)
            return Fail(at, entry.name,
                        "zlib stream ends " + std::to_string(outcome.unused) +
                            " bytes before the end of its data (compressedSize is too large)");
        switch (status) {
        case INFLATE_DONE:
            break;
        case INFLATE_NO_ZLIB:
            return Fail(dataOffset, entry.name, "zlib could not be initialised");
        case INFLATE_REFUSED:
            return Fail(at, entry.name, "");
        case INFLATE_TOO_LONG:
            if (outcome.shortRead)
                return Fail(at, entry.name, "the file ends inside this entry's data");
            return Fail(walked.offset, entry.name,
                        "inflates to more than its originalSize of " + std::to_string(entry.originalSize) + " bytes");
        case INFLATE_CUT_SHORT:
            return Fail(at, entry.name, "the file ends inside this entry's data");
        case INFLATE_UNFINISHED:
            if (entry.compressedSize == 0)
                return Fail(at, entry.name,
                            "compressedSize is 0: no zlib stream (an empty file needs the stream of an empty input)");
            return Fail(at, entry.name, "zlib stream does not end within its compressedSize");
        default:
            if (outcome.zlibResult == Z_DATA_ERROR)
                return Fail(at, entry.name,
                            std::string("damaged zlib stream: ") + (outcome.message != nullptr ? outcome.message : "data error"));
            return Fail(at, entry.name, "zlib error " + std::to_string(outcome.zlibResult));
        }
        if (walk.checkRules && outcome.inflated != entry.originalSize)
            return Fail(walked.offset, entry.name,
                        "originalSize " + std::to_string(entry.originalSize) + " differs from the inflated length " +
                            std::to_string(outcome.inflated));
        return true;
    }

    bool Run(WalkSummary* summary)
    {
        int32_t packageSize = 0;
        if (LocatePackage(stream, &packageSize) != PACKAGE_ENTRY)
            return Fail(0, "", "no package: the trailer in the last 4 bytes does not point into the file");
        int64_t first = Position();
        int64_t trailer = first + packageSize;
        if (summary != nullptr) {
            summary->packageSize = packageSize;
            summary->firstEntryOffset = first;
        }
        for (;;) {
            WalkedEntry walked;
            walked.offset = Position();
            EntryHeader header{};
            int read = ReadEntryHeader(stream, &header);
            walked.entry = header.entry;
            walked.lastWriteTime = header.lastWriteTime;
            walked.nameFault = header.nameFault;
            if (read == PACKAGE_END) {
                if (walk.checkRules && walked.offset + 2 > trailer)
                    return Fail(walked.offset, "", "the end marker runs into the trailer");
                return true;
            }
            if (read != PACKAGE_ENTRY)
                return Fail(walked.offset, walked.entry.name, DescribeHeaderDamage(read, walked.entry));
            const PackageEntry& entry = walked.entry;
            bool folder = IsFolderEntry(&entry);
            walked.delta = IsDeltaEntry(&entry);
            if (walked.delta && !ReadDeltaHeader(stream, entry.compressedSize, &walked.deltaHeader))
                return Fail(walked.offset, entry.name, "the file ends inside this delta's header");
            if (walk.checkRules && !CheckRules(walked))
                return false;
            int action = walk.begin ? walk.begin(walked) : WALK_TAKE;
            if (action == WALK_STOP)
                return true;
            if (folder) {
                if (summary != nullptr)
                    ++summary->folders;
                if (action == WALK_TAKE && walk.end && !walk.end(walked))
                    return Fail(walked.offset, entry.name, "");
                continue;
            }
            if (summary != nullptr)
                ++summary->files;
            if (walked.delta) {
                if (summary != nullptr)
                    ++summary->deltas;
                if (action == WALK_TAKE || walk.inflateAll) {
                    if (!ApplyDelta(walked, action == WALK_TAKE))
                        return false;
                    if (action == WALK_TAKE && walk.end && !walk.end(walked))
                        return Fail(walked.offset, entry.name, "");
                } else if (!SkipBytes(stream, entry.compressedSize - DELTA_HEADER_SIZE)) {
                    return Fail(walked.offset, entry.name, "the file ends inside this entry's data");
                }
                continue;
            }
            if (action == WALK_TAKE || walk.inflateAll) {
                if (!Inflate(walked, action == WALK_TAKE))
                    return false;
                if (action == WALK_TAKE && walk.end && !walk.end(walked))
                    return Fail(walked.offset, entry.name, "");
            } else if (stream->seek(stream->context, (int64_t)entry.compressedSize, SEEK_CUR) != 0) {
                return Fail(walked.offset, entry.name, "cannot seek past this entry's data");
            }
        }
    }

    // The cause ReadEntryHeader gave, in words.
    static std::string DescribeHeaderDamage(int cause, const PackageEntry& entry)
    {
        switch (cause) {
        case PACKAGE_NO_HEADER:
            return "the file ends where an entry or the end marker should begin";
        case PACKAGE_NAME_TOO_LONG:
            return "nameLength " + std::to_string(entry.nameLength) + " is above 260";
        case PACKAGE_NAME_CUT_SHORT:
            return "the file ends inside this entry's name";
        case PACKAGE_NAME_UNTERMINATED:
            return "the name lacks its terminating zero byte";
        case PACKAGE_SIZES_CUT_SHORT:
            return "the file ends inside this entry's originalSize or compressedSize";
        case PACKAGE_SIZE_TOO_LARGE:
            return std::string(entry.originalSize < 0 ? "originalSize" : "compressedSize") + " is 2 GiB or more";
        case PACKAGE_TIME_CUT_SHORT:
            return "the file ends inside this entry's time stamp";
        case PACKAGE_DELTA_TOO_SHORT:
            return "a delta entry whose compressedSize " + std::to_string(entry.compressedSize) +
                   " cannot hold its 80-byte header";
        default:
            return "damaged entry header";
        }
    }
};

}  // namespace

bool WalkPackage(ByteStream* stream, PackageWalk& walk, WalkSummary* summary, PackageProblem* problem)
{
    Walker walker{stream, walk, problem, {}, {}, {}, {}, true};
    return walker.Run(summary);
}
