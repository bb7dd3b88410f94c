// A forward byte source for the readers of the core: a buffered C stream (the updater reading
// its own file) or memory (tests, fuzzers). Every read reports how much it really delivered.
#ifndef UPDATER_PACKAGE_BYTE_STREAM_H
#define UPDATER_PACKAGE_BYTE_STREAM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

struct ByteStream {
    void* context;
    size_t (*read)(void* context, void* buffer, size_t size);  // bytes actually read
    int (*seek)(void* context, int64_t offset, int origin);    // 0 on success; SEEK_SET/CUR/END
    int64_t (*tell)(void* context);                            // -1 on failure
    // ReadExactly refuses to read at or past this position (-1: no limit). The package reader
    // sets it to the trailer, so a truncated package never borrows the trailer's bytes.
    int64_t limit = -1;
};

struct MemoryStream {
    const unsigned char* data;
    size_t size;
    size_t position;
};

ByteStream FileByteStream(FILE* file);
ByteStream MemoryByteStream(MemoryStream* memory);

// True when exactly size bytes were read (and, with a limit, all of them lie before it).
bool ReadExactly(ByteStream* stream, void* buffer, size_t size);
// Reads up to size bytes, never at or past the limit; returns how many were read.
size_t ReadAtMost(ByteStream* stream, void* buffer, size_t size);
// Moves count bytes forward; false when that would pass the limit or the seek fails.
bool SkipBytes(ByteStream* stream, uint64_t count);

uint16_t GetUi16(const unsigned char* bytes);
uint32_t GetUi32(const unsigned char* bytes);
uint64_t GetUi64(const unsigned char* bytes);
void SetUi16(unsigned char* bytes, uint16_t value);
void SetUi32(unsigned char* bytes, uint32_t value);
void SetUi64(unsigned char* bytes, uint64_t value);

#endif
