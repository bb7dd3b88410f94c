// Inflates the data of one file entry: the loop the updater's passes and the builder's
// walk share, so the fuzzer and the sanitizers run the code that ships. It reads the entry's
// compressedSize bytes through the bounded stream in blocks of BLOCK_SIZE and hands the output
// over in whole blocks of BLOCK_SIZE bytes (only the last one shorter).
#ifndef UPDATER_PACKAGE_ENTRY_INFLATE_H
#define UPDATER_PACKAGE_ENTRY_INFLATE_H

#include <stddef.h>
#include <stdint.h>

#include "package/byte_stream.h"
#include "text/buffer_sizes.h"

struct InflateSink {
    void* context;
    // One block of output; false stops the loop with INFLATE_REFUSED.
    bool (*block)(void* context, const unsigned char* data, size_t size);
    // After each block: bytes handed over so far, and compressed bytes requested from the stream
    // so far (whole blocks of input, as they are read). NULL: no progress wanted.
    void (*progress)(void* context, int64_t inflated, int64_t requested);
};

enum InflateStatus {
    INFLATE_DONE = 0,        // the stream ended with a correct check
    INFLATE_NO_ZLIB = 1,     // zlib could not be initialised
    INFLATE_REFUSED = 2,     // the sink refused a block
    INFLATE_TOO_LONG = 3,    // the output passed the caller's cap (only the bytes up to it went out)
    INFLATE_CUT_SHORT = 4,   // the stream (or its limit) ends inside the data
    INFLATE_UNFINISHED = 5,  // compressedSize was used up before the zlib stream ended
    INFLATE_DAMAGED = 6,     // zlib refused the data (zlibResult, message)
};

struct InflateOutcome {
    int status;            // an InflateStatus
    int zlibResult;        // for INFLATE_DAMAGED: Z_DATA_ERROR, Z_MEM_ERROR, ...
    const char* message;   // zlib's text for INFLATE_DAMAGED, or NULL
    int64_t inflated;      // bytes handed to the sink
    int64_t consumed;      // compressed bytes zlib took in
    int64_t unused;        // bytes of compressedSize after the zlib stream's end (0 when it did not end)
    bool shortRead;        // the last read of input delivered fewer bytes than asked
};

// Expects the stream at the entry's data and two buffers of BLOCK_SIZE bytes. inflatedCap >= 0
// stops the output at that many bytes (INFLATE_TOO_LONG); -1 lets it run. On INFLATE_DONE the
// stream stands after all compressedSize bytes, even when the zlib stream ended earlier; where
// those bytes run past the stream's limit (shortRead), at the limit, so the next read fails.
// Returns outcome->status.
int InflateEntryData(ByteStream* stream, uint32_t compressedSize, int64_t inflatedCap, unsigned char* input,
                     unsigned char* output, const InflateSink* sink, InflateOutcome* outcome);

#endif
