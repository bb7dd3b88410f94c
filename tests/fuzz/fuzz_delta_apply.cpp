// The delta applier over any bytes: an old file and records taken from the input, the records
// either deflated first (so the fuzzer reaches the record parser) or taken as the zlib stream
// itself. Whatever comes, the applier never hands out more than the stated result size, and
// success means exactly that size, with a hash that matches.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "package/delta_apply.h"
#include "package/delta_writer.h"

namespace {

struct Old {
    const unsigned char* data;
    size_t size;
};

size_t ReadOld(void* context, uint64_t offset, void* buffer, size_t size)
{
    const Old* old = static_cast<const Old*>(context);
    if (offset >= old->size)
        return 0;
    size_t take = size < old->size - offset ? size : (size_t)(old->size - offset);
    memcpy(buffer, old->data + offset, take);
    return take;
}

struct Result {
    uint64_t written = 0;
    Sha256Context hash;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    bool raw = data[0] & 1;              // the rest is the zlib stream itself
    bool stated = data[0] & 2;           // baseSize from the input, not the old file's length
    size_t oldSize = (size_t)(data[1] | (data[2] << 8)) % (size - 4);
    uint64_t resultSize = (uint64_t)(data[3] | (data[4] << 8));
    Old old = {data + 5, oldSize < size - 5 ? oldSize : size - 5};
    const unsigned char* records = old.data + old.size;
    size_t recordsSize = size - 5 - old.size;

    DeltaHeader header;
    memset(&header, 0, sizeof header);
    header.baseSize = stated ? (uint64_t)data[1] * 3 : old.size;
    header.resultSize = resultSize;
    std::vector<unsigned char> entry(DELTA_HEADER_SIZE);
    if (raw) {
        entry.insert(entry.end(), records, records + recordsSize);
    } else {
        std::vector<unsigned char> stream = DeflateZlib(records, recordsSize, 0);
        entry.insert(entry.end(), stream.begin(), stream.end());
    }
    EncodeDeltaHeader(&header, entry.data());

    // The stated hash is the hash of what the records make, found by a first run without it.
    MemoryStream memory = {entry.data(), entry.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    std::vector<unsigned char> work(DELTA_WORK_SIZE);
    Result result;
    Sha256Init(&result.hash);
    InflateSink sink = {&result,
                        [](void* context, const unsigned char* bytes, size_t count) {
                            Result* r = static_cast<Result*>(context);
                            r->written += count;
                            Sha256Update(&r->hash, bytes, count);
                            return true;
                        },
                        nullptr};
    DeltaSource source = {&old, ReadOld};
    DeltaOutcome outcome;
    int status = ApplyDeltaEntry(&stream, (uint32_t)entry.size(), &source, work.data(), &sink, &outcome);
    if (result.written > resultSize)
        abort();
    if (status == DELTA_DONE)
        abort();  // the zero hash cannot be what the records made
    if (status != DELTA_WRONG_HASH)
        return 0;
    if (result.written != resultSize)
        abort();
    Sha256Final(&result.hash, header.resultHash);
    EncodeDeltaHeader(&header, entry.data());
    memory.position = 0;
    result.written = 0;
    Sha256Init(&result.hash);
    if (ApplyDeltaEntry(&stream, (uint32_t)entry.size(), &source, work.data(), &sink, &outcome) != DELTA_DONE ||
        result.written != resultSize)
        abort();
    return 0;
}
