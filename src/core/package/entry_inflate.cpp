// One file entry's zlib stream, block by block.
#include "package/entry_inflate.h"

#include <string.h>
#include <zlib.h>

namespace {

struct InflateRun {
    ByteStream* stream;
    const InflateSink* sink;
    unsigned char* input;
    unsigned char* output;
    z_stream zs;
    uint32_t remaining;  // compressed bytes not yet requested
    int64_t requested;
    InflateOutcome* outcome;
};

void ReadInput(InflateRun* run)
{
    uint32_t chunk = run->remaining < BLOCK_SIZE ? run->remaining : BLOCK_SIZE;
    size_t got = ReadAtMost(run->stream, run->input, chunk);
    run->outcome->shortRead = got < chunk;
    run->remaining -= chunk;
    run->requested += chunk;
    run->zs.next_in = run->input;
    run->zs.avail_in = (uInt)got;
}

// Hands the first `size` bytes of the output buffer over and makes the whole buffer free again.
bool HandOver(InflateRun* run, size_t size)
{
    if (size > 0) {
        if (!run->sink->block(run->sink->context, run->output, size))
            return false;
        run->outcome->inflated += (int64_t)size;
        if (run->sink->progress != NULL)
            run->sink->progress(run->sink->context, run->outcome->inflated, run->requested);
    }
    run->zs.next_out = run->output;
    run->zs.avail_out = BLOCK_SIZE;
    return true;
}

int StatusOfFailure(InflateRun* run, int result)
{
    if (result == Z_BUF_ERROR)
        return run->outcome->shortRead ? INFLATE_CUT_SHORT : INFLATE_UNFINISHED;
    run->outcome->zlibResult = result;
    run->outcome->message = run->zs.msg;
    return INFLATE_DAMAGED;
}

int RunInflate(InflateRun* run, int64_t inflatedCap)
{
    run->zs.next_out = run->output;
    run->zs.avail_out = BLOCK_SIZE;
    for (;;) {
        if (run->zs.avail_in == 0 && run->remaining > 0)
            ReadInput(run);
        int result = inflate(&run->zs, Z_NO_FLUSH);
        size_t pending = BLOCK_SIZE - run->zs.avail_out;
        // A stream that inflates past the cap stops at the first byte too many, so a tiny
        // package cannot fill a disk before the sizes are compared.
        if (inflatedCap >= 0 && run->outcome->inflated + (int64_t)pending > inflatedCap) {
            if (!HandOver(run, (size_t)(inflatedCap - run->outcome->inflated)))
                return INFLATE_REFUSED;
            return INFLATE_TOO_LONG;
        }
        if (result == Z_STREAM_END)
            return HandOver(run, pending) ? INFLATE_DONE : INFLATE_REFUSED;
        if (result != Z_OK)
            return StatusOfFailure(run, result);
        if (run->zs.avail_out == 0 && !HandOver(run, BLOCK_SIZE))
            return INFLATE_REFUSED;
    }
}

}  // namespace

int InflateEntryData(ByteStream* stream, uint32_t compressedSize, int64_t inflatedCap, unsigned char* input,
                     unsigned char* output, const InflateSink* sink, InflateOutcome* outcome)
{
    memset(outcome, 0, sizeof *outcome);
    InflateRun run;
    memset(&run, 0, sizeof run);
    run.stream = stream;
    run.sink = sink;
    run.input = input;
    run.output = output;
    run.remaining = compressedSize;
    run.outcome = outcome;
    if (inflateInit(&run.zs) != Z_OK)
        return outcome->status = INFLATE_NO_ZLIB;
    int status = RunInflate(&run, inflatedCap);
    outcome->consumed = (int64_t)run.zs.total_in;
    if (status == INFLATE_DONE) {
        outcome->unused = (int64_t)run.zs.avail_in + run.remaining;
        // The next entry begins after all compressedSize bytes, wherever the zlib stream ended.
        if (run.remaining > 0 && !SkipBytes(stream, run.remaining))
            status = INFLATE_CUT_SHORT;
    }
    if (inflateEnd(&run.zs) != Z_OK && status == INFLATE_DONE) {
        outcome->zlibResult = Z_STREAM_ERROR;
        status = INFLATE_DAMAGED;
    }
    return outcome->status = status;
}
