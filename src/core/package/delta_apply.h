// Delta entries: the difference between one old version of a file and the new one. Beside the
// file and folder entries the package has a third kind, marked by originalSize
// PACKAGE_DELTA_SIZE (-2, which no older package holds: -1 is a folder and every other negative
// size was refused). Its header and lastWriteTime are those of a file entry; its compressedSize
// bytes of data are a DeltaHeader (DELTA_HEADER_SIZE bytes) followed by exactly one zlib stream
// of records:
//
//   baseSize u64, baseHash (SHA-256), resultSize u64, resultHash (SHA-256), zlib stream
//
// The records, back to back in the inflated stream, each a kind byte and unsigned LEB128 numbers
// (a seek is zigzag-coded: 0, -1, 1, -2, ... as 0, 1, 2, 3, ...):
//
//   DELTA_END   0                      the last record; the zlib stream ends right after it
//   DELTA_COPY  1, length, seek        length old bytes from (cursor + seek)
//   DELTA_ADD   2, length, bytes       length new bytes
//   DELTA_DIFF  3, length, seek, bytes length old bytes from (cursor + seek), each plus its byte
//
// The cursor starts at 0 and stands after the old bytes the last COPY or DIFF used. Lengths are
// at least 1. The result is the records' output in order; it must be resultSize bytes long and
// hash to resultHash.
//
// Several delta entries may carry one name, one for each old version (each with its own base);
// such entries stand side by side, and no file entry carries that name.
#ifndef UPDATER_PACKAGE_DELTA_APPLY_H
#define UPDATER_PACKAGE_DELTA_APPLY_H

#include <stddef.h>
#include <stdint.h>

#include "package/byte_stream.h"
#include "package/entry_inflate.h"
#include "package/sha256.h"

#include "package/package_format.h"

#define DELTA_HEADER_SIZE PACKAGE_DELTA_HEADER_SIZE  // 8 + SHA256_SIZE + 8 + SHA256_SIZE

enum DeltaRecordKind {
    DELTA_END = 0,
    DELTA_COPY = 1,
    DELTA_ADD = 2,
    DELTA_DIFF = 3,
};

struct DeltaHeader {
    uint64_t baseSize;
    unsigned char baseHash[SHA256_SIZE];
    uint64_t resultSize;
    unsigned char resultHash[SHA256_SIZE];
};

// The old file, read at any offset: the updater passes a file handle, the builder a FILE*.
struct DeltaSource {
    void* context;
    // Up to size bytes at offset into buffer; the bytes actually read (fewer only on failure).
    size_t (*read)(void* context, uint64_t offset, void* buffer, size_t size);
};

// Every fault has a code of its own; all but DELTA_REFUSED are damage of the package (or, for
// DELTA_OLD_READ, an old file that changed or became unreadable after it was checked).
enum DeltaStatus {
    DELTA_DONE = 0,
    DELTA_HEADER_CUT_SHORT = 1,  // compressedSize below DELTA_HEADER_SIZE, or the package ends inside the header
    DELTA_NO_ZLIB = 2,           // zlib could not be initialised
    DELTA_REFUSED = 3,           // the sink refused a block
    DELTA_CUT_SHORT = 4,         // the package ends inside the records' zlib stream
    DELTA_UNFINISHED = 5,        // compressedSize used up before the zlib stream ended
    DELTA_DAMAGED = 6,           // zlib refused the data (a wrong check included)
    DELTA_STREAM_SHORT = 7,      // the zlib stream ended before compressedSize was used up
    DELTA_BAD_RECORD = 8,        // an unknown kind, a length of 0, a number of more than 64 bits
    DELTA_NO_END = 9,            // the records stop inside a record or before the end record
    DELTA_AFTER_END = 10,        // bytes after the end record
    DELTA_OUT_OF_RANGE = 11,     // a copy or difference reaching outside the old file (baseSize)
    DELTA_OLD_READ = 12,         // the old file delivered fewer bytes than asked
    DELTA_TOO_LONG = 13,         // the records make more than resultSize bytes (nothing past it goes out)
    DELTA_TOO_SHORT = 14,        // the records make fewer than resultSize bytes
    DELTA_WRONG_HASH = 15,       // the result does not hash to resultHash
};

struct DeltaOutcome {
    int status;              // a DeltaStatus
    DeltaHeader header;      // as read from the package
    int64_t written;         // result bytes handed to the sink
    int64_t recordOffset;    // offset in the inflated records where a record fault lies
    InflateOutcome inflate;  // the records' zlib stream (consumed, message, ...)
};

// Buffer sizes the caller provides: three blocks (package input, inflated records, result).
#define DELTA_WORK_SIZE (3 * BLOCK_SIZE)

// Reads the header at the entry's data (compressedSize of the entry given); false when it does
// not fit (DELTA_HEADER_CUT_SHORT). The stream then stands at the records' zlib stream.
bool ReadDeltaHeader(ByteStream* stream, uint32_t compressedSize, DeltaHeader* header);
void EncodeDeltaHeader(const DeltaHeader* header, unsigned char bytes[DELTA_HEADER_SIZE]);

// Applies one delta entry. Expects the package stream at the entry's data (where ReadEntryHeader
// leaves it), compressedSize of the entry, the old file and a work area of DELTA_WORK_SIZE bytes;
// memory stays these buffers and one inflate stream whatever the file sizes. The result goes to
// sink->block in whole blocks of BLOCK_SIZE (only the last one shorter), with sink->progress
// after each block: result bytes written, and package bytes requested from the stream so far
// (DELTA_HEADER_SIZE plus whole blocks of input; at the end, all of compressedSize). The result
// is checked as it goes (records, ranges, its length) and at the end (the zlib stream's end at
// compressedSize, the length, the hash): only DELTA_DONE means the bytes written are the new
// file; on any other status the caller throws them away.
//
// old == NULL checks what can be checked without the old file: the records, their ranges against
// baseSize and the result's length, with zero bytes standing for the old ones; the hash is not
// checked then.
//
// On DELTA_DONE the stream stands after the entry's data. Returns outcome->status.
int ApplyDeltaEntry(ByteStream* stream, uint32_t compressedSize, const DeltaSource* old, unsigned char* work,
                    const InflateSink* sink, DeltaOutcome* outcome);
// The same with the header already read (ReadDeltaHeader), the stream at the records.
int ApplyDeltaRecords(ByteStream* stream, const DeltaHeader* header, uint32_t compressedSize, const DeltaSource* old,
                      unsigned char* work, const InflateSink* sink, DeltaOutcome* outcome);

// What an installed file is to one delta entry, by size and hash.
enum DeltaBaseMatch {
    DELTA_BASE_MATCHES = 0,  // the entry's old version: the delta applies
    DELTA_BASE_IS_RESULT = 1,  // already the new version: nothing to write
    DELTA_BASE_DIFFERS = 2,  // neither: this entry cannot make the new file from it
};
int CompareDeltaBase(const DeltaHeader* header, uint64_t size, const unsigned char hash[SHA256_SIZE]);

// Hashes the first `size` bytes of a file through `source`, BLOCK_SIZE at a time into `buffer`,
// calling progress (may be NULL) after each block with the bytes hashed. False when a read falls
// short. Hash once, then CompareDeltaBase against each delta entry of the name, before anything
// is written.
bool HashDeltaSource(const DeltaSource* source, uint64_t size, unsigned char* buffer,
                     void (*progress)(void* context, uint64_t hashed), void* progressContext,
                     unsigned char hash[SHA256_SIZE]);

#endif
