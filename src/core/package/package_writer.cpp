// The package layout writer of the builder and the tests (package/package_writer.h).
#include "package/package_writer.h"

#include <zlib.h>

#include <cstdlib>

#include "package/byte_stream.h"
#include "package/package_format.h"

PackageWriter::PackageWriter(ByteSink sink, uint32_t firstEntryOffset)
    : sink_(std::move(sink)), firstEntryOffset_(firstEntryOffset)
{
}

void PackageWriter::Put(const unsigned char* data, size_t size)
{
    if (size == 0)
        return;
    sink_(data, size);
    written_ += size;
}

void PackageWriter::PutHeader(const std::string& name, int32_t originalSize, uint32_t compressedSize)
{
    unsigned char field[4];
    SetUi16(field, (uint16_t)(name.size() + 1));
    Put(field, 2);
    Put(reinterpret_cast<const unsigned char*>(name.c_str()), name.size() + 1);
    SetUi32(field, (uint32_t)originalSize);
    Put(field, 4);
    SetUi32(field, compressedSize);
    Put(field, 4);
}

void PackageWriter::AddFolder(const std::string& name)
{
    PutHeader(name, PACKAGE_FOLDER_SIZE, 0);
}

void PackageWriter::BeginFile(const std::string& name, int32_t originalSize, uint64_t lastWriteTime,
                              size_t zlibSize)
{
    PutHeader(name, originalSize, (uint32_t)zlibSize);
    unsigned char time[PACKAGE_TIME_SIZE];
    SetUi64(time, lastWriteTime);
    Put(time, PACKAGE_TIME_SIZE);
}

void PackageWriter::BeginDelta(const std::string& name, uint64_t lastWriteTime, size_t dataSize)
{
    BeginFile(name, PACKAGE_DELTA_SIZE, lastWriteTime, dataSize);
}

void PackageWriter::AddDelta(const std::string& name, uint64_t lastWriteTime, const std::vector<unsigned char>& data)
{
    BeginDelta(name, lastWriteTime, data.size());
    Put(data.data(), data.size());
}

void PackageWriter::PutData(const unsigned char* data, size_t size)
{
    Put(data, size);
}

void PackageWriter::AddFile(const std::string& name, int32_t originalSize, uint64_t lastWriteTime,
                            const unsigned char* zlibStream, size_t zlibSize)
{
    BeginFile(name, originalSize, lastWriteTime, zlibSize);
    Put(zlibStream, zlibSize);
}

void PackageWriter::AddFile(const std::string& name, int32_t originalSize, uint64_t lastWriteTime,
                            const std::vector<unsigned char>& zlibStream)
{
    AddFile(name, originalSize, lastWriteTime, zlibStream.data(), zlibStream.size());
}

void PackageWriter::Finish(uint32_t extraPadding)
{
    const unsigned char zeros[4] = {0, 0, 0, 0};
    Put(zeros, 4);  // end marker and the two bytes of padding
    for (uint32_t i = 0; i < extraPadding; ++i)
        Put(zeros, 1);
    unsigned char trailer[4];
    SetUi32(trailer, firstEntryOffset_);
    Put(trailer, 4);
}

std::vector<unsigned char> DeflateZlib(const unsigned char* data, size_t size, int level)
{
    uLongf bound = compressBound((uLong)size);
    std::vector<unsigned char> out(bound);
    if (compress2(out.data(), &bound, data, (uLong)size, level) != Z_OK)
        std::abort();  // only out of memory can get here
    out.resize(bound);
    return out;
}

std::vector<unsigned char> DeflateZlib(const std::string& data, int level)
{
    return DeflateZlib(reinterpret_cast<const unsigned char*>(data.data()), data.size(), level);
}

std::vector<unsigned char> BuildPackageFile(const std::vector<unsigned char>& image,
                                            const std::vector<PackageFileEntry>& entries)
{
    std::vector<unsigned char> file(image);
    PackageWriter writer([&file](const unsigned char* data, size_t size) { file.insert(file.end(), data, data + size); },
                         (uint32_t)image.size());
    for (const PackageFileEntry& entry : entries) {
        if (entry.folder)
            writer.AddFolder(entry.name);
        else
            writer.AddFile(entry.name, (int32_t)entry.contents.size(), entry.lastWriteTime, DeflateZlib(entry.contents));
    }
    writer.Finish();
    return file;
}
