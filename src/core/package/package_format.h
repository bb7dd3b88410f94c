// The package behind the executable image: entries, end marker, padding, and a trailer in the
// last 4 bytes holding the offset of the first entry. One reader, shared by the updater, the
// builder and the tests.
#ifndef UPDATER_PACKAGE_PACKAGE_FORMAT_H
#define UPDATER_PACKAGE_PACKAGE_FORMAT_H

#include <stdint.h>

#include "package/byte_stream.h"
#include "text/buffer_sizes.h"

#define PACKAGE_FOLDER_SIZE (-1)   // originalSize of a folder entry
#define PACKAGE_DELTA_SIZE (-2)    // originalSize of a delta entry (package/delta_apply.h)
#define PACKAGE_DELTA_HEADER_SIZE 80  // a delta entry's data begins with its DeltaHeader
#define PACKAGE_TIME_SIZE 8        // bytes of a file entry's lastWriteTime, between its header and data

// Every negative result is damage. The updater shows one notice for all of them; the causes are
// kept apart so the tools can say which check refused the bytes.
enum PackageResult {
    PACKAGE_ENTRY = 0,               // an entry header was read
    PACKAGE_END = 1,                 // the end marker was read
    PACKAGE_DAMAGED = -1,            // no trailer pointing into the file, or data running past the package
    PACKAGE_NO_HEADER = -2,          // the file ends where an entry or the end marker should begin
    PACKAGE_NAME_TOO_LONG = -3,      // nameLength above PATH_BUFFER_SIZE
    PACKAGE_NAME_CUT_SHORT = -4,     // the file ends inside the name
    PACKAGE_NAME_UNTERMINATED = -5,  // the name's last byte is not its terminating zero
    PACKAGE_SIZES_CUT_SHORT = -6,    // the file ends inside originalSize or compressedSize
    PACKAGE_SIZE_TOO_LARGE = -7,     // a file entry's size of 2^31 or more
    PACKAGE_TIME_CUT_SHORT = -8,     // the file ends inside a file entry's lastWriteTime
    PACKAGE_DELTA_TOO_SHORT = -9,    // a delta entry's compressedSize cannot hold its DeltaHeader
};

struct PackageEntry {
    int nameLength;                // bytes of name, terminator included
    char name[PATH_BUFFER_SIZE];  // always terminated
    int32_t originalSize;          // PACKAGE_FOLDER_SIZE for a folder, PACKAGE_DELTA_SIZE for a delta
    uint32_t compressedSize;       // meaningless for a folder
};

// Reads the trailer (the last 4 bytes, or the 4 bytes before a certificate table that ends the
// file), leaves the stream at the first entry and sets the package size: trailer position -
// first entry offset. PACKAGE_DAMAGED when the trailer cannot be read or
// points outside the file. From then on ReadExactly stops at the trailer.
int LocatePackage(ByteStream* stream, int32_t* packageSize);

// The file offset of an Authenticode certificate table that ends the file, as the executable's
// security directory names it, or -1 (no such table, or no executable image at all).
int64_t FindCertificateTable(ByteStream* stream, int64_t fileLength);

// Reads nameLength and, unless it is the end marker, the name and both sizes. Refuses a
// nameLength above 260, a name without its terminator, a file entry size of 2^31 or more (any
// negative originalSize but a folder's and a delta's), a delta too short for its header, each
// with its own PackageResult.
int ReadPackageEntry(ByteStream* stream, PackageEntry* entry);

// An entry up to its data, as the updater's passes and the tools' walk both meet it.
struct EntryHeader {
    PackageEntry entry;
    uint64_t lastWriteTime;  // file entries; 0 for a folder
    int nameFault;           // CheckEntryName's verdict (an EntryNameFault); refusing is the caller's call
};

// Reads the next entry's header and, for a file or a delta, its lastWriteTime, so the stream
// stands at the data (a delta's DeltaHeader); checks the name rules on the way. PACKAGE_ENTRY, PACKAGE_END or the cause of the damage.
int ReadEntryHeader(ByteStream* stream, EntryHeader* header);

bool IsFolderEntry(const PackageEntry* entry);
// A delta entry: data, lastWriteTime and compressedSize as a file's, made from an old file.
bool IsDeltaEntry(const PackageEntry* entry);

// For a file or delta entry whose header ReadEntryHeader read: passes over its data (PACKAGE_DAMAGED when
// the data runs past the package).
int SkipPackageData(ByteStream* stream, const PackageEntry* entry);

// For a file entry positioned after compressedSize: reads lastWriteTime.
bool ReadLastWriteTime(ByteStream* stream, uint64_t* lastWriteTime);

// Bytes an entry occupies before its lastWriteTime: nameLength + 10.
int32_t EntryHeaderSize(const PackageEntry* entry);

#endif
