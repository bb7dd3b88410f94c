// The delta records' writer (package/delta_writer.h).
#include "package/delta_writer.h"

#include <algorithm>
#include <cstdlib>

namespace {
constexpr size_t kPending = 1 << 16;
}

void AppendDeltaNumber(std::vector<unsigned char>& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back((unsigned char)(value | 0x80));
        value >>= 7;
    }
    out.push_back((unsigned char)value);
}

void AppendDeltaSeek(std::vector<unsigned char>& out, int64_t seek)
{
    AppendDeltaNumber(out, seek < 0 ? ((uint64_t)(-(seek + 1)) << 1) + 1 : (uint64_t)seek << 1);
}

DeltaWriter::DeltaWriter(ByteSink sink, int level) : sink_(std::move(sink)), out_(1 << 16)
{
    if (deflateInit(&zs_, level) != Z_OK)
        std::abort();  // only out of memory can get here
    pending_.reserve(kPending + 32);
}

DeltaWriter::~DeltaWriter()
{
    deflateEnd(&zs_);
}

void DeltaWriter::Deflate(int flush)
{
    zs_.next_in = pending_.data();
    zs_.avail_in = (uInt)pending_.size();
    int result;
    do {
        zs_.next_out = out_.data();
        zs_.avail_out = (uInt)out_.size();
        result = deflate(&zs_, flush);
        size_t made = out_.size() - zs_.avail_out;
        if (made > 0)
            sink_(out_.data(), made);
        outputBytes_ += made;
    } while (zs_.avail_out == 0 || zs_.avail_in > 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    pending_.clear();
}

void DeltaWriter::Put(const unsigned char* data, size_t size)
{
    recordBytes_ += size;
    while (size > 0) {
        size_t take = std::min(size, kPending - std::min(kPending, pending_.size()));
        pending_.insert(pending_.end(), data, data + take);
        data += take;
        size -= take;
        if (pending_.size() >= kPending)
            Deflate(Z_NO_FLUSH);
    }
}

void DeltaWriter::Seek(uint64_t oldPosition, uint64_t length)
{
    std::vector<unsigned char> numbers;
    AppendDeltaNumber(numbers, length);
    AppendDeltaSeek(numbers, (int64_t)(oldPosition - cursor_));
    Put(numbers.data(), numbers.size());
    cursor_ = oldPosition + length;
}

void DeltaWriter::Copy(uint64_t oldPosition, uint64_t length)
{
    const unsigned char kind = DELTA_COPY;
    Put(&kind, 1);
    Seek(oldPosition, length);
}

void DeltaWriter::BeginAdd(uint64_t length)
{
    std::vector<unsigned char> numbers = {DELTA_ADD};
    AppendDeltaNumber(numbers, length);
    Put(numbers.data(), numbers.size());
}

void DeltaWriter::BeginDiff(uint64_t oldPosition, uint64_t length)
{
    const unsigned char kind = DELTA_DIFF;
    Put(&kind, 1);
    Seek(oldPosition, length);
}

void DeltaWriter::Payload(const unsigned char* data, size_t size)
{
    Put(data, size);
}

void DeltaWriter::Add(const unsigned char* data, size_t size)
{
    BeginAdd(size);
    Payload(data, size);
}

void DeltaWriter::Finish()
{
    const unsigned char kind = DELTA_END;
    Put(&kind, 1);
    Deflate(Z_FINISH);
}

void Sha256Of(const unsigned char* data, size_t size, unsigned char digest[SHA256_SIZE])
{
    Sha256Context context;
    Sha256Init(&context);
    Sha256Update(&context, data, size);
    Sha256Final(&context, digest);
}

std::vector<unsigned char> DeltaEntryData(const DeltaHeader& header, const std::vector<unsigned char>& records)
{
    std::vector<unsigned char> data(DELTA_HEADER_SIZE);
    EncodeDeltaHeader(&header, data.data());
    std::vector<unsigned char> zlib = DeflateZlib(records.data(), records.size());
    data.insert(data.end(), zlib.begin(), zlib.end());
    return data;
}

std::string DigestHex(const unsigned char digest[SHA256_SIZE])
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < SHA256_SIZE; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}
