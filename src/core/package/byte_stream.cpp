// The bounded forward byte source of the core's readers (package/byte_stream.h).
#include "package/byte_stream.h"

#include <string.h>

static size_t FileRead(void* context, void* buffer, size_t size)
{
    return fread(buffer, 1, size, (FILE*)context);
}

static int FileSeek(void* context, int64_t offset, int origin)
{
    // Positions of the package are signed 32-bit (the file stays below 2 GiB).
    if (offset < INT32_MIN || offset > INT32_MAX)
        return -1;
    return fseek((FILE*)context, (long)offset, origin);
}

static int64_t FileTell(void* context)
{
    return ftell((FILE*)context);
}

ByteStream FileByteStream(FILE* file)
{
    ByteStream stream = {file, FileRead, FileSeek, FileTell, -1};
    return stream;
}

static size_t MemoryRead(void* context, void* buffer, size_t size)
{
    MemoryStream* memory = (MemoryStream*)context;
    size_t left = memory->position < memory->size ? memory->size - memory->position : 0;
    if (size > left)
        size = left;
    if (size > 0)
        memcpy(buffer, memory->data + memory->position, size);
    memory->position += size;
    return size;
}

static int MemorySeek(void* context, int64_t offset, int origin)
{
    MemoryStream* memory = (MemoryStream*)context;
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? (int64_t)memory->position : (int64_t)memory->size;
    if (offset > INT64_MAX - base && offset > 0)
        return -1;
    int64_t target = base + offset;
    if (target < 0)
        return -1;
    // Like a file: seeking past the end is allowed, the next read then delivers nothing.
    memory->position = (size_t)target;
    return 0;
}

static int64_t MemoryTell(void* context)
{
    return (int64_t)((MemoryStream*)context)->position;
}

ByteStream MemoryByteStream(MemoryStream* memory)
{
    ByteStream stream = {memory, MemoryRead, MemorySeek, MemoryTell, -1};
    return stream;
}

// The bytes left before the limit (UINT64_MAX without one); false when the position is unknown.
static bool BytesBeforeLimit(ByteStream* stream, uint64_t* left)
{
    *left = UINT64_MAX;
    if (stream->limit < 0)
        return true;
    int64_t position = stream->tell(stream->context);
    if (position < 0)
        return false;
    *left = position > stream->limit ? 0 : (uint64_t)(stream->limit - position);
    return true;
}

bool ReadExactly(ByteStream* stream, void* buffer, size_t size)
{
    uint64_t left;
    if (!BytesBeforeLimit(stream, &left) || left < size)
        return false;
    return stream->read(stream->context, buffer, size) == size;
}

size_t ReadAtMost(ByteStream* stream, void* buffer, size_t size)
{
    uint64_t left;
    if (!BytesBeforeLimit(stream, &left))
        return 0;
    if (left < size)
        size = (size_t)left;
    return size > 0 ? stream->read(stream->context, buffer, size) : 0;
}

bool SkipBytes(ByteStream* stream, uint64_t count)
{
    uint64_t left;
    if (!BytesBeforeLimit(stream, &left) || left < count || count > (uint64_t)INT64_MAX)
        return false;
    return stream->seek(stream->context, (int64_t)count, SEEK_CUR) == 0;
}

uint16_t GetUi16(const unsigned char* bytes)
{
    return (uint16_t)(bytes[0] | (bytes[1] << 8));
}

uint32_t GetUi32(const unsigned char* bytes)
{
    return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) | ((uint32_t)bytes[3] << 24);
}

uint64_t GetUi64(const unsigned char* bytes)
{
    return (uint64_t)GetUi32(bytes) | ((uint64_t)GetUi32(bytes + 4) << 32);
}

void SetUi16(unsigned char* bytes, uint16_t value)
{
    bytes[0] = (unsigned char)value;
    bytes[1] = (unsigned char)(value >> 8);
}

void SetUi32(unsigned char* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = (unsigned char)(value >> (8 * i));
}

void SetUi64(unsigned char* bytes, uint64_t value)
{
    SetUi32(bytes, (uint32_t)value);
    SetUi32(bytes + 4, (uint32_t)(value >> 32));
}
