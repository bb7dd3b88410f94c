#include "package/package_walk.h"

#include <string.h>
#include <zlib.h>

#include <set>
#include <vector>

#include "package/entry_names.h"
#include "startup/path_text.h"

namespace {

std::string LowerName(const std::string& name)
{
    char lower[PATH_BUFFER_SIZE];
    snprintf(lower, sizeof lower, "%s", name.c_str());
    LowerCp932(lower);
    return lower;
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
    std::set<std::string> folders;  // lower-cased names of the folder entries met so far
    std::set<std::string> names;    // lower-cased names of every entry, without a trailing separator
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
        int fault = CheckEntryName(entry.name, folder);
        if (fault != ENTRY_NAME_OK)
            return Fail(walked.offset, entry.name,
                        std::string("not a name the updater may write: ") + DescribeEntryNameFault(fault));
        // Windows ignores case: "Data\" and "data" are one name, whatever kind each entry is.
        std::string key = LowerName(entry.name);
        if (folder)
            key.pop_back();
        if (!names.insert(key).second)
            return Fail(walked.offset, entry.name, "same name as an earlier entry (Windows ignores case)");
        std::string parent = ParentFolder(entry.name, folder);
        if (!parent.empty() && folders.count(LowerName(parent)) == 0)
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
            folders.insert(LowerName(entry.name));
        return true;
    }

    // Inflates a file's data the way the updater does: reads of at most one unit, and the
    // stream must end exactly where its compressedSize says.
    bool Inflate(WalkedEntry& walked, bool deliver)
    {
        const PackageEntry& entry = walked.entry;
        int64_t dataOffset = walked.offset + EntryHeaderSize(&entry) + 8;
        std::vector<unsigned char> input(BLOCK_SIZE);
        std::vector<unsigned char> output(BLOCK_SIZE);
        z_stream zs;
        memset(&zs, 0, sizeof zs);
        if (inflateInit(&zs) != Z_OK)
            return Fail(dataOffset, entry.name, "zlib could not be initialised");
        uint32_t remaining = entry.compressedSize;
        bool shortRead = false;
        bool ok = true;
        int64_t produced = 0;
        for (;;) {
            if (zs.avail_in == 0 && remaining > 0) {
                uint32_t chunk = remaining < BLOCK_SIZE ? remaining : BLOCK_SIZE;
                size_t got = stream->read(stream->context, input.data(), chunk);
                shortRead = got < chunk;
                remaining -= chunk;
                zs.next_in = input.data();
                zs.avail_in = (uInt)got;
            }
            zs.next_out = output.data();
            zs.avail_out = (uInt)output.size();
            int result = inflate(&zs, Z_NO_FLUSH);
            size_t have = output.size() - zs.avail_out;
            // A stream that inflates past its originalSize is stopped at the first byte too many,
            // so a tiny package cannot fill a disk before the sizes are compared.
            bool overflow = walk.checkRules && produced + (int64_t)have > entry.originalSize;
            if (overflow)
                have = (size_t)(entry.originalSize - produced);
            produced += (int64_t)have;
            if (deliver && have > 0 && walk.data && !walk.data(walked, output.data(), have)) {
                ok = Fail(dataOffset + (int64_t)zs.total_in, entry.name, "");
                break;
            }
            if (overflow) {
                ok = Fail(shortRead ? dataOffset + (int64_t)zs.total_in : walked.offset, entry.name,
                          shortRead ? "the file ends inside this entry's data"
                                    : "inflates to more than its originalSize of " + std::to_string(entry.originalSize) +
                                          " bytes");
                break;
            }
            if (result == Z_STREAM_END) {
                if (zs.avail_in > 0 || remaining > 0)
                    ok = Fail(dataOffset + (int64_t)zs.total_in, entry.name,
                              "zlib stream ends " + std::to_string(zs.avail_in + remaining) +
                                  " bytes before the end of its data (compressedSize is too large)");
                break;
            }
            if (result == Z_OK || (result == Z_BUF_ERROR && zs.avail_in > 0))
                continue;
            int64_t at = dataOffset + (int64_t)zs.total_in;
            if (result == Z_BUF_ERROR && shortRead)
                ok = Fail(at, entry.name, "the file ends inside this entry's data");
            else if (result == Z_BUF_ERROR && entry.compressedSize == 0)
                ok = Fail(at, entry.name, "compressedSize is 0: no zlib stream (an empty file needs the stream of an empty input)");
            else if (result == Z_BUF_ERROR)
                ok = Fail(at, entry.name, "zlib stream does not end within its compressedSize");
            else if (result == Z_DATA_ERROR)
                ok = Fail(at, entry.name, std::string("damaged zlib stream: ") + (zs.msg != nullptr ? zs.msg : "data error"));
            else
                ok = Fail(at, entry.name, "zlib error " + std::to_string(result));
            break;
        }
        inflateEnd(&zs);
        walked.inflatedSize = produced;
        if (ok && walk.checkRules && produced != entry.originalSize)
            ok = Fail(walked.offset, entry.name,
                      "originalSize " + std::to_string(entry.originalSize) + " differs from the inflated length " +
                          std::to_string(produced));
        return ok;
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
            int read = ReadPackageEntry(stream, &walked.entry);
            if (read == PACKAGE_END) {
                if (walk.checkRules && walked.offset + 2 > trailer)
                    return Fail(walked.offset, "", "the end marker runs into the trailer");
                return true;
            }
            if (read != PACKAGE_ENTRY)
                return Fail(walked.offset, walked.entry.name, DescribeHeaderDamage(walked));
            const PackageEntry& entry = walked.entry;
            bool folder = IsFolderEntry(&entry);
            if (!folder) {
                unsigned char time[8];
                if (!ReadExactly(stream, time, 8))
                    return Fail(walked.offset, entry.name, "the file ends inside this entry's time stamp");
                walked.lastWriteTime = GetUi64(time);
            }
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

    std::string DescribeHeaderDamage(const WalkedEntry& walked)
    {
        const PackageEntry& entry = walked.entry;
        if (entry.nameLength == 0)
            return "the file ends where an entry or the end marker should begin";
        if (entry.nameLength > PATH_BUFFER_SIZE)
            return "nameLength " + std::to_string(entry.nameLength) + " is above 260";
        if (entry.name[0] == '\0')
            return "the name is cut short or lacks its terminating zero byte";
        return "entry header is cut short or holds a size of 2 GiB or more";
    }
};

}  // namespace

bool WalkPackage(ByteStream* stream, PackageWalk& walk, WalkSummary* summary, PackageProblem* problem)
{
    Walker walker{stream, walk, problem, {}, {}, true};
    return walker.Run(summary);
}
