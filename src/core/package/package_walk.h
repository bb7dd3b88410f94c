// Walks a whole package front to back the way the updater meets it, optionally inflating
// every stream and checking every rule of the format. The builder's list, verify and extract
// commands and the fuzzer share it; the first problem comes back with the byte offset where it
// lies.
#ifndef UPDATER_PACKAGE_PACKAGE_WALK_H
#define UPDATER_PACKAGE_PACKAGE_WALK_H

#include <stdint.h>

#include <functional>
#include <string>

#include "package/byte_stream.h"
#include "package/delta_apply.h"
#include "package/package_format.h"

struct WalkedEntry {
    PackageEntry entry{};
    int64_t offset = 0;          // file offset of the entry's nameLength
    uint64_t lastWriteTime = 0;  // file entries only
    int nameFault = 0;           // ReadEntryHeader's verdict on the name (an EntryNameFault)
    int64_t inflatedSize = 0;    // file entries that were inflated, delta entries that were applied
    bool delta = false;          // a delta entry: deltaHeader read, the data is its result
    DeltaHeader deltaHeader{};
};

struct PackageProblem {
    int64_t offset = -1;  // file offset where the problem lies
    std::string name;     // the entry concerned (code page 932), empty for the layout
    std::string text;     // what is wrong, in English
};

enum WalkAction {
    WALK_TAKE = 0,  // inflate the entry's data and hand it to `data`
    WALK_SKIP = 1,  // seek past the data (still checked when `inflateAll` is set)
    WALK_STOP = 2,  // end the walk here, successfully
};

struct PackageWalk {
    bool inflateAll = false;   // inflate even skipped entries, to find damage
    bool checkRules = false;   // also check the ordering and naming rules
    // Called after an entry's header and time stamp; default: take every entry.
    std::function<int(const WalkedEntry&)> begin;
    // Inflated bytes of a taken entry, BLOCK_SIZE at most per call; false stops with a problem.
    std::function<bool(const WalkedEntry&, const unsigned char*, size_t)> data;
    // After a taken file's stream ended with a correct check, or after a taken folder.
    std::function<bool(const WalkedEntry&)> end;
    // The old file a taken (or, with inflateAll, checked) delta entry applies to; NULL or no
    // function: the records are checked without it (ApplyDeltaEntry with no old file).
    std::function<const DeltaSource*(const WalkedEntry&)> deltaSource;
};

struct WalkSummary {
    int32_t packageSize = 0;
    int64_t firstEntryOffset = 0;
    int files = 0;  // delta entries included
    int folders = 0;
    int deltas = 0;
};

// True when the package is sound as far as the walk went. On false, `problem` tells the first
// problem. A handler that returns false sets `problem` itself or leaves the text empty.
bool WalkPackage(ByteStream* stream, PackageWalk& walk, WalkSummary* summary, PackageProblem* problem);

#endif
