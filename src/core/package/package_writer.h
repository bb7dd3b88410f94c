// Writes the package layout: the builder and the tests share it with the reader's module.
#ifndef UPDATER_PACKAGE_PACKAGE_WRITER_H
#define UPDATER_PACKAGE_PACKAGE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using ByteSink = std::function<void(const unsigned char* data, size_t size)>;

// Appends entries to a sink that already holds `firstEntryOffset` bytes (the executable image).
// Names are code page 932 bytes; the writer writes what it is given, so tests can also make
// packages that break the format's rules.
class PackageWriter {
public:
    PackageWriter(ByteSink sink, uint32_t firstEntryOffset);

    void AddFolder(const std::string& name);
    void AddFile(const std::string& name, int32_t originalSize, uint64_t lastWriteTime,
                 const unsigned char* zlibStream, size_t zlibSize);
    void AddFile(const std::string& name, int32_t originalSize, uint64_t lastWriteTime,
                 const std::vector<unsigned char>& zlibStream);
    // A file whose zlib stream is handed over in pieces (a stream too large to hold whole): the
    // header and time stamp, then exactly `zlibSize` bytes through PutData.
    void BeginFile(const std::string& name, int32_t originalSize, uint64_t lastWriteTime, size_t zlibSize);
    void PutData(const unsigned char* data, size_t size);
    // A delta entry (package/delta_apply.h): its header and time stamp, then exactly `dataSize`
    // bytes (the DeltaHeader and the records' zlib stream) through PutData.
    void BeginDelta(const std::string& name, uint64_t lastWriteTime, size_t dataSize);
    void AddDelta(const std::string& name, uint64_t lastWriteTime, const std::vector<unsigned char>& data);
    // End marker, two zero bytes of padding plus `extraPadding` more, and the trailer.
    void Finish(uint32_t extraPadding = 0);

    uint64_t BytesWritten() const { return written_; }

private:
    void Put(const unsigned char* data, size_t size);
    void PutHeader(const std::string& name, int32_t originalSize, uint32_t compressedSize);

    ByteSink sink_;
    uint32_t firstEntryOffset_;
    uint64_t written_ = 0;
};

// One complete zlib stream (header, deflate, Adler-32) of the data.
std::vector<unsigned char> DeflateZlib(const unsigned char* data, size_t size, int level = 9);
std::vector<unsigned char> DeflateZlib(const std::string& data, int level = 9);

// Convenience for tests: a whole executable file, image then package.
struct PackageFileEntry {
    std::string name;           // a folder's name ends in a backslash
    std::string contents;       // ignored for folders
    uint64_t lastWriteTime = 0;
    bool folder = false;
};
std::vector<unsigned char> BuildPackageFile(const std::vector<unsigned char>& image,
                                            const std::vector<PackageFileEntry>& entries);

#endif
