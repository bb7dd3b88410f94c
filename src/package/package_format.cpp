#include "package/package_format.h"

#include <string.h>

int LocatePackage(ByteStream* stream, int32_t* packageSize)
{
    unsigned char trailer[4];
    stream->limit = -1;
    if (stream->seek(stream->context, -4, SEEK_END) != 0)
        return PACKAGE_DAMAGED;
    int64_t trailerPosition = stream->tell(stream->context);
    if (trailerPosition < 0 || trailerPosition > INT32_MAX || !ReadExactly(stream, trailer, 4))
        return PACKAGE_DAMAGED;
    uint32_t firstEntry = GetUi32(trailer);
    if ((int64_t)firstEntry > trailerPosition)
        return PACKAGE_DAMAGED;
    if (stream->seek(stream->context, (int64_t)firstEntry, SEEK_SET) != 0)
        return PACKAGE_DAMAGED;
    *packageSize = (int32_t)(trailerPosition - (int64_t)firstEntry);
    stream->limit = trailerPosition;
    return PACKAGE_ENTRY;
}

int ReadPackageEntry(ByteStream* stream, PackageEntry* entry)
{
    unsigned char field[4];
    entry->name[0] = '\0';
    if (!ReadExactly(stream, field, 2))
        return PACKAGE_DAMAGED;
    entry->nameLength = GetUi16(field);
    if (entry->nameLength == 0)
        return PACKAGE_END;
    if (entry->nameLength > PACKAGE_NAME_SIZE)
        return PACKAGE_DAMAGED;
    if (!ReadExactly(stream, entry->name, (size_t)entry->nameLength)) {
        entry->name[0] = '\0';
        return PACKAGE_DAMAGED;
    }
    if (entry->name[entry->nameLength - 1] != '\0') {
        entry->name[0] = '\0';
        return PACKAGE_DAMAGED;
    }
    if (!ReadExactly(stream, field, 4))
        return PACKAGE_DAMAGED;
    entry->originalSize = (int32_t)GetUi32(field);
    if (!ReadExactly(stream, field, 4))
        return PACKAGE_DAMAGED;
    entry->compressedSize = GetUi32(field);
    if (IsFolderEntry(entry))
        return PACKAGE_ENTRY;
    if (entry->originalSize < 0 || entry->compressedSize > (uint32_t)INT32_MAX)
        return PACKAGE_DAMAGED;
    return PACKAGE_ENTRY;
}

bool IsFolderEntry(const PackageEntry* entry)
{
    return entry->originalSize == PACKAGE_FOLDER_SIZE;
}

int SkipPackageData(ByteStream* stream, const PackageEntry* entry)
{
    if (stream->limit >= 0) {
        int64_t position = stream->tell(stream->context);
        if (position < 0 || position + (int64_t)entry->compressedSize + 8 > stream->limit)
            return PACKAGE_DAMAGED;
    }
    if (stream->seek(stream->context, (int64_t)entry->compressedSize + 8, SEEK_CUR) != 0)
        return PACKAGE_DAMAGED;
    return PACKAGE_ENTRY;
}

int32_t EntryHeaderSize(const PackageEntry* entry)
{
    return entry->nameLength + 10;
}
