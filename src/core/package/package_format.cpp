// The package layout reader shared by the updater, the builder and the tests
// (package/package_format.h).
#include "package/package_format.h"

#include <string.h>

#include "text/entry_name_rules.h"

static bool ReadAt(ByteStream* stream, int64_t position, unsigned char* buffer, size_t size)
{
    return stream->seek(stream->context, position, SEEK_SET) == 0 && ReadExactly(stream, buffer, size);
}

int64_t FindCertificateTable(ByteStream* stream, int64_t fileLength)
{
    unsigned char field[8];
    if (!ReadAt(stream, 0, field, 2) || field[0] != 'M' || field[1] != 'Z')
        return -1;
    if (!ReadAt(stream, 0x3C, field, 4))
        return -1;
    int64_t peHeader = GetUi32(field);
    if (peHeader + 24 + 2 > fileLength || !ReadAt(stream, peHeader, field, 4) || memcmp(field, "PE\0\0", 4) != 0)
        return -1;
    if (!ReadAt(stream, peHeader + 20, field, 2))
        return -1;
    int64_t optionalSize = GetUi16(field);
    int64_t optional = peHeader + 24;
    if (!ReadAt(stream, optional, field, 2))
        return -1;
    // The data directories follow the fields of PE32 (0x10B) or PE32+ (0x20B).
    int64_t countOffset = GetUi16(field) == 0x10B ? 92 : GetUi16(field) == 0x20B ? 108 : -1;
    if (countOffset < 0 || countOffset + 4 + 5 * 8 > optionalSize || !ReadAt(stream, optional + countOffset, field, 4) ||
        GetUi32(field) <= 4)
        return -1;
    if (!ReadAt(stream, optional + countOffset + 4 + 4 * 8, field, 8))
        return -1;
    int64_t tableOffset = GetUi32(field);
    int64_t tableSize = GetUi32(field + 4);
    if (tableSize == 0 || tableOffset < 4 || tableOffset + tableSize != fileLength)
        return -1;
    return tableOffset;
}

int LocatePackage(ByteStream* stream, int32_t* packageSize)
{
    unsigned char trailer[4];
    stream->limit = -1;
    if (stream->seek(stream->context, 0, SEEK_END) != 0)
        return PACKAGE_DAMAGED;
    int64_t fileLength = stream->tell(stream->context);
    if (fileLength < 4 || fileLength - 4 > INT32_MAX)
        return PACKAGE_DAMAGED;
    // A signed file carries its certificate table behind the package: the trailer then
    // stands just before that table.
    int64_t certificates = FindCertificateTable(stream, fileLength);
    int64_t trailerPosition = (certificates >= 0 ? certificates : fileLength) - 4;
    if (!ReadAt(stream, trailerPosition, trailer, 4))
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
        return PACKAGE_NO_HEADER;
    entry->nameLength = GetUi16(field);
    if (entry->nameLength == 0)
        return PACKAGE_END;
    if (entry->nameLength > PATH_BUFFER_SIZE)
        return PACKAGE_NAME_TOO_LONG;
    if (!ReadExactly(stream, entry->name, (size_t)entry->nameLength)) {
        entry->name[0] = '\0';
        return PACKAGE_NAME_CUT_SHORT;
    }
    if (entry->name[entry->nameLength - 1] != '\0') {
        entry->name[0] = '\0';
        return PACKAGE_NAME_UNTERMINATED;
    }
    if (!ReadExactly(stream, field, 4))
        return PACKAGE_SIZES_CUT_SHORT;
    entry->originalSize = (int32_t)GetUi32(field);
    if (!ReadExactly(stream, field, 4))
        return PACKAGE_SIZES_CUT_SHORT;
    entry->compressedSize = GetUi32(field);
    if (IsFolderEntry(entry))
        return PACKAGE_ENTRY;
    if ((entry->originalSize < 0 && !IsDeltaEntry(entry)) || entry->compressedSize > (uint32_t)INT32_MAX)
        return PACKAGE_SIZE_TOO_LARGE;
    if (IsDeltaEntry(entry) && entry->compressedSize < PACKAGE_DELTA_HEADER_SIZE)
        return PACKAGE_DELTA_TOO_SHORT;
    return PACKAGE_ENTRY;
}

int ReadEntryHeader(ByteStream* stream, EntryHeader* header)
{
    header->lastWriteTime = 0;
    header->nameFault = ENTRY_NAME_OK;
    int read = ReadPackageEntry(stream, &header->entry);
    if (read != PACKAGE_ENTRY)
        return read;
    bool folder = IsFolderEntry(&header->entry);
    if (!folder && !ReadLastWriteTime(stream, &header->lastWriteTime))
        return PACKAGE_TIME_CUT_SHORT;
    header->nameFault = CheckEntryName(header->entry.name, folder);
    return PACKAGE_ENTRY;
}

bool IsFolderEntry(const PackageEntry* entry)
{
    return entry->originalSize == PACKAGE_FOLDER_SIZE;
}

bool IsDeltaEntry(const PackageEntry* entry)
{
    return entry->originalSize == PACKAGE_DELTA_SIZE;
}

int SkipPackageData(ByteStream* stream, const PackageEntry* entry)
{
    return SkipBytes(stream, entry->compressedSize) ? PACKAGE_ENTRY : PACKAGE_DAMAGED;
}

bool ReadLastWriteTime(ByteStream* stream, uint64_t* lastWriteTime)
{
    unsigned char time[PACKAGE_TIME_SIZE];
    if (!ReadExactly(stream, time, sizeof time))
        return false;
    *lastWriteTime = GetUi64(time);
    return true;
}

int32_t EntryHeaderSize(const PackageEntry* entry)
{
    return entry->nameLength + 10;
}
