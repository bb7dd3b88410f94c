// The package behind the executable image: entries, end marker, padding, and a trailer in the
// last 4 bytes holding the offset of the first entry. One reader, shared by the updater, the
// builder and the tests.
#ifndef UPDATER_PACKAGE_PACKAGE_FORMAT_H
#define UPDATER_PACKAGE_PACKAGE_FORMAT_H

#include <stdint.h>

#include "package/byte_stream.h"
#include "text/buffer_sizes.h"

#define PACKAGE_FOLDER_SIZE (-1)   // originalSize of a folder entry

enum PackageResult {
    PACKAGE_ENTRY = 0,     // an entry header was read
    PACKAGE_END = 1,       // the end marker was read
    PACKAGE_DAMAGED = -1,  // short read, or a field no package can hold
};

struct PackageEntry {
    int nameLength;                // bytes of name, terminator included
    char name[PATH_BUFFER_SIZE];  // always terminated
    int32_t originalSize;          // PACKAGE_FOLDER_SIZE for a folder
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
// nameLength above 260, a name without its terminator, a file entry size of 2^31 or more.
int ReadPackageEntry(ByteStream* stream, PackageEntry* entry);

bool IsFolderEntry(const PackageEntry* entry);

// For a file entry positioned after compressedSize: passes over lastWriteTime and data.
int SkipPackageData(ByteStream* stream, const PackageEntry* entry);

// For a file entry positioned after compressedSize: reads lastWriteTime.
bool ReadLastWriteTime(ByteStream* stream, uint64_t* lastWriteTime);

// Bytes an entry occupies before its lastWriteTime: nameLength + 10.
int32_t EntryHeaderSize(const PackageEntry* entry);

#endif
