// Writes the records of a delta entry (package/delta_apply.h) as one zlib stream: the builder and
// the tests share it with the applier's module.
#ifndef UPDATER_PACKAGE_DELTA_WRITER_H
#define UPDATER_PACKAGE_DELTA_WRITER_H

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/delta_apply.h"
#include "package/package_writer.h"

// Record bytes as the applier reads them, before compression: tests build damaged ones by hand.
void AppendDeltaNumber(std::vector<unsigned char>& out, uint64_t value);
void AppendDeltaSeek(std::vector<unsigned char>& out, int64_t seek);

// The writer keeps the old-file cursor, so callers name absolute old positions. It writes what it
// is given: a record of length 0 or a payload of the wrong length makes a stream the applier
// refuses.
class DeltaWriter {
public:
    DeltaWriter(ByteSink sink, int level = 9);
    ~DeltaWriter();
    DeltaWriter(const DeltaWriter&) = delete;
    DeltaWriter& operator=(const DeltaWriter&) = delete;

    void Copy(uint64_t oldPosition, uint64_t length);
    // An ADD or DIFF record's kind and numbers; its `length` payload bytes follow through Payload.
    void BeginAdd(uint64_t length);
    void BeginDiff(uint64_t oldPosition, uint64_t length);
    void Payload(const unsigned char* data, size_t size);
    void Add(const unsigned char* data, size_t size);
    // The end record and the end of the zlib stream.
    void Finish();

    uint64_t RecordBytes() const { return recordBytes_; }  // before compression
    uint64_t OutputBytes() const { return outputBytes_; }  // the zlib stream so far

private:
    void Put(const unsigned char* data, size_t size);
    void Deflate(int flush);
    void Seek(uint64_t oldPosition, uint64_t length);

    ByteSink sink_;
    z_stream zs_{};
    std::vector<unsigned char> pending_;
    std::vector<unsigned char> out_;
    uint64_t cursor_ = 0;
    uint64_t recordBytes_ = 0;
    uint64_t outputBytes_ = 0;
};

// A SHA-256 digest as 64 lower-case hexadecimal digits (list's JSON, tests).
std::string DigestHex(const unsigned char digest[SHA256_SIZE]);

// A DeltaHeader's hash fields from whole contents (tests, small files).
void Sha256Of(const unsigned char* data, size_t size, unsigned char digest[SHA256_SIZE]);

// A whole delta entry's data (header and records) from a list of records already encoded,
// compressed as one zlib stream: for tests that make deltas by hand.
std::vector<unsigned char> DeltaEntryData(const DeltaHeader& header, const std::vector<unsigned char>& records);

#endif
