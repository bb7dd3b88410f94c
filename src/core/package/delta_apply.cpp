// The delta applier: records inflated by the shared loop, the result checked as it grows
// (package/delta_apply.h).
#include "package/delta_apply.h"

#include <string.h>

namespace {

enum ParseState {
    PARSE_KIND,
    PARSE_LENGTH,
    PARSE_SEEK,
    PARSE_PAYLOAD,
    PARSE_ENDED,
};

struct DeltaRun {
    const DeltaSource* old;
    const InflateSink* sink;
    unsigned char* result;  // BLOCK_SIZE bytes gathering the next block of the result
    size_t filled;
    Sha256Context hash;
    int64_t requested;  // package bytes requested so far
    DeltaOutcome* outcome;
    int fault;
    // The record being read.
    int state;
    int kind;
    uint64_t number;
    int shift;
    uint64_t length;
    uint64_t cursor;  // old bytes: where the next seek starts
    uint64_t oldAt;   // old bytes of the current DIFF payload
    int64_t recordBytes;
};

bool Fail(DeltaRun* run, int status)
{
    if (run->fault == DELTA_DONE)
        run->fault = status;
    return false;
}

bool HandOverResult(DeltaRun* run)
{
    if (run->filled == 0)
        return true;
    Sha256Update(&run->hash, run->result, run->filled);
    if (!run->sink->block(run->sink->context, run->result, run->filled))
        return Fail(run, DELTA_REFUSED);
    run->outcome->written += (int64_t)run->filled;
    run->filled = 0;
    if (run->sink->progress != NULL)
        run->sink->progress(run->sink->context, run->outcome->written, run->requested);
    return true;
}

// Room for `size` more result bytes in the block (at most what is free), after the length check.
size_t ResultRoom(DeltaRun* run, uint64_t size)
{
    if (run->filled == BLOCK_SIZE && !HandOverResult(run))
        return 0;
    size_t room = BLOCK_SIZE - run->filled;
    return size < room ? (size_t)size : room;
}

bool ReadOld(DeltaRun* run, uint64_t offset, unsigned char* buffer, size_t size)
{
    if (run->old == NULL) {
        memset(buffer, 0, size);
        return true;
    }
    if (run->old->read(run->old->context, offset, buffer, size) != size)
        return Fail(run, DELTA_OLD_READ);
    return true;
}

// Takes length bytes of the result as they come: the records check the total against resultSize
// before anything goes out.
bool ReserveResult(DeltaRun* run, uint64_t length)
{
    uint64_t made = (uint64_t)run->outcome->written + run->filled;
    if (length > run->outcome->header.resultSize - made)
        return Fail(run, DELTA_TOO_LONG);
    return true;
}

bool CopyOld(DeltaRun* run)
{
    uint64_t left = run->length;
    while (left > 0) {
        size_t take = ResultRoom(run, left);
        if (take == 0 || !ReadOld(run, run->cursor, run->result + run->filled, take))
            return false;
        run->filled += take;
        run->cursor += take;
        left -= take;
    }
    return true;
}

bool PutPayload(DeltaRun* run, const unsigned char* data, size_t size)
{
    while (size > 0) {
        size_t take = ResultRoom(run, size < run->length ? size : run->length);
        if (take == 0)
            return false;
        unsigned char* out = run->result + run->filled;
        if (run->kind == DELTA_ADD) {
            memcpy(out, data, take);
        } else {
            if (!ReadOld(run, run->cursor, out, take))
                return false;
            for (size_t i = 0; i < take; ++i)
                out[i] = (unsigned char)(out[i] + data[i]);
            run->cursor += take;
        }
        run->filled += take;
        run->length -= take;
        data += take;
        size -= take;
    }
    if (run->length == 0)
        run->state = PARSE_KIND;
    return true;
}

// A record's numbers are read: check it and, for a COPY, carry it out.
bool BeginRecord(DeltaRun* run)
{
    if (run->kind != DELTA_ADD) {
        // The seek is zigzag-coded and relative to the cursor; the range must lie in the old file.
        uint64_t magnitude = (run->number >> 1) + (run->number & 1);
        uint64_t base = run->outcome->header.baseSize;
        uint64_t target;
        if (run->number & 1) {
            if (magnitude > run->cursor)
                return Fail(run, DELTA_OUT_OF_RANGE);
            target = run->cursor - magnitude;
        } else {
            if (magnitude > base - run->cursor)
                return Fail(run, DELTA_OUT_OF_RANGE);
            target = run->cursor + magnitude;
        }
        if (run->length > base - target)
            return Fail(run, DELTA_OUT_OF_RANGE);
        run->cursor = target;
    }
    if (!ReserveResult(run, run->length))
        return false;
    if (run->kind == DELTA_COPY) {
        run->state = PARSE_KIND;
        return CopyOld(run);
    }
    run->state = PARSE_PAYLOAD;
    return true;
}

// One more byte of an unsigned LEB128 number; true when the number is complete.
bool TakeNumberByte(DeltaRun* run, unsigned char byte, bool* complete)
{
    if (run->shift > 63 || (run->shift == 63 && (byte & 0x7F) > 1))
        return Fail(run, DELTA_BAD_RECORD);
    run->number |= (uint64_t)(byte & 0x7F) << run->shift;
    run->shift += 7;
    *complete = (byte & 0x80) == 0;
    return true;
}

bool ParseRecords(DeltaRun* run, const unsigned char* data, size_t size)
{
    size_t at = 0;
    while (at < size) {
        run->outcome->recordOffset = run->recordBytes + (int64_t)at;
        if (run->state == PARSE_PAYLOAD) {
            size_t take = size - at < run->length ? size - at : (size_t)run->length;
            if (!PutPayload(run, data + at, take))
                return false;
            at += take;
            continue;
        }
        unsigned char byte = data[at++];
        bool complete = false;
        switch (run->state) {
        case PARSE_KIND:
            if (byte > DELTA_DIFF)
                return Fail(run, DELTA_BAD_RECORD);
            run->kind = byte;
            run->state = byte == DELTA_END ? PARSE_ENDED : PARSE_LENGTH;
            run->number = 0;
            run->shift = 0;
            break;
        case PARSE_LENGTH:
            if (!TakeNumberByte(run, byte, &complete))
                return false;
            if (!complete)
                break;
            if (run->number == 0)
                return Fail(run, DELTA_BAD_RECORD);
            run->length = run->number;
            run->number = 0;
            run->shift = 0;
            if (run->kind == DELTA_ADD) {
                if (!BeginRecord(run))
                    return false;
            } else {
                run->state = PARSE_SEEK;
            }
            break;
        case PARSE_SEEK:
            if (!TakeNumberByte(run, byte, &complete))
                return false;
            if (complete && !BeginRecord(run))
                return false;
            break;
        default:
            return Fail(run, DELTA_AFTER_END);
        }
    }
    run->recordBytes += (int64_t)size;
    return true;
}

bool RecordsBlock(void* context, const unsigned char* data, size_t size)
{
    return ParseRecords((DeltaRun*)context, data, size);
}

void RecordsProgress(void* context, int64_t, int64_t requested)
{
    ((DeltaRun*)context)->requested = DELTA_HEADER_SIZE + requested;
}

int StatusOfInflate(const InflateOutcome* inflate)
{
    switch (inflate->status) {
    case INFLATE_NO_ZLIB: return DELTA_NO_ZLIB;
    case INFLATE_CUT_SHORT: return DELTA_CUT_SHORT;
    case INFLATE_UNFINISHED: return DELTA_UNFINISHED;
    default: return DELTA_DAMAGED;
    }
}

// After the records' stream ended: the checks only the whole result can answer.
int FinishResult(DeltaRun* run, uint32_t compressedSize)
{
    if (run->state != PARSE_ENDED)
        return DELTA_NO_END;
    if (run->outcome->inflate.unused > 0)
        return DELTA_STREAM_SHORT;
    run->requested = compressedSize;
    if (!HandOverResult(run))
        return run->fault;
    if ((uint64_t)run->outcome->written != run->outcome->header.resultSize)
        return DELTA_TOO_SHORT;
    unsigned char digest[SHA256_SIZE];
    Sha256Final(&run->hash, digest);
    if (run->old != NULL && memcmp(digest, run->outcome->header.resultHash, SHA256_SIZE) != 0)
        return DELTA_WRONG_HASH;
    return DELTA_DONE;
}

}  // namespace

bool ReadDeltaHeader(ByteStream* stream, uint32_t compressedSize, DeltaHeader* header)
{
    unsigned char bytes[DELTA_HEADER_SIZE];
    if (compressedSize < DELTA_HEADER_SIZE || !ReadExactly(stream, bytes, sizeof bytes))
        return false;
    header->baseSize = GetUi64(bytes);
    memcpy(header->baseHash, bytes + 8, SHA256_SIZE);
    header->resultSize = GetUi64(bytes + 8 + SHA256_SIZE);
    memcpy(header->resultHash, bytes + 16 + SHA256_SIZE, SHA256_SIZE);
    return true;
}

void EncodeDeltaHeader(const DeltaHeader* header, unsigned char bytes[DELTA_HEADER_SIZE])
{
    SetUi64(bytes, header->baseSize);
    memcpy(bytes + 8, header->baseHash, SHA256_SIZE);
    SetUi64(bytes + 8 + SHA256_SIZE, header->resultSize);
    memcpy(bytes + 16 + SHA256_SIZE, header->resultHash, SHA256_SIZE);
}

int ApplyDeltaRecords(ByteStream* stream, const DeltaHeader* header, uint32_t compressedSize, const DeltaSource* old,
                      unsigned char* work, const InflateSink* sink, DeltaOutcome* outcome)
{
    memset(outcome, 0, sizeof *outcome);
    outcome->header = *header;
    if (compressedSize < DELTA_HEADER_SIZE)
        return outcome->status = DELTA_HEADER_CUT_SHORT;
    DeltaRun run;
    memset(&run, 0, sizeof run);
    run.old = old;
    run.sink = sink;
    run.result = work + 2 * BLOCK_SIZE;
    run.requested = DELTA_HEADER_SIZE;
    run.outcome = outcome;
    run.state = PARSE_KIND;
    Sha256Init(&run.hash);
    InflateSink records = {&run, RecordsBlock, RecordsProgress};
    int inflated = InflateEntryData(stream, compressedSize - DELTA_HEADER_SIZE, -1, work, work + BLOCK_SIZE, &records,
                                    &outcome->inflate);
    if (inflated == INFLATE_REFUSED)
        return outcome->status = run.fault;
    if (inflated != INFLATE_DONE)
        return outcome->status = StatusOfInflate(&outcome->inflate);
    return outcome->status = FinishResult(&run, compressedSize);
}

int ApplyDeltaEntry(ByteStream* stream, uint32_t compressedSize, const DeltaSource* old, unsigned char* work,
                    const InflateSink* sink, DeltaOutcome* outcome)
{
    DeltaHeader header;
    if (!ReadDeltaHeader(stream, compressedSize, &header)) {
        memset(outcome, 0, sizeof *outcome);
        return outcome->status = DELTA_HEADER_CUT_SHORT;
    }
    return ApplyDeltaRecords(stream, &header, compressedSize, old, work, sink, outcome);
}

int CompareDeltaBase(const DeltaHeader* header, uint64_t size, const unsigned char hash[SHA256_SIZE])
{
    if (size == header->baseSize && memcmp(hash, header->baseHash, SHA256_SIZE) == 0)
        return DELTA_BASE_MATCHES;
    if (size == header->resultSize && memcmp(hash, header->resultHash, SHA256_SIZE) == 0)
        return DELTA_BASE_IS_RESULT;
    return DELTA_BASE_DIFFERS;
}

bool HashDeltaSource(const DeltaSource* source, uint64_t size, unsigned char* buffer,
                     void (*progress)(void* context, uint64_t hashed), void* progressContext,
                     unsigned char hash[SHA256_SIZE])
{
    Sha256Context context;
    Sha256Init(&context);
    uint64_t done = 0;
    while (done < size) {
        size_t take = size - done < BLOCK_SIZE ? (size_t)(size - done) : BLOCK_SIZE;
        if (source->read(source->context, done, buffer, take) != take)
            return false;
        Sha256Update(&context, buffer, take);
        done += take;
        if (progress != NULL)
            progress(progressContext, done);
    }
    Sha256Final(&context, hash);
    return true;
}
