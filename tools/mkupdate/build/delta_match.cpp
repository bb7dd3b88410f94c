// The matcher of build --base (build/delta_match.h).
#include "build/delta_match.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <vector>

#include "host/host_files.h"
#include "package/delta_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kWindow = 32;            // bytes a hash covers
constexpr uint64_t kCopyRun = 4096;       // exact runs at least this long become copies
constexpr size_t kCacheBlock = 1u << 20;  // reads of either file, and the blocks kept
constexpr size_t kCacheBlocks = 8;
constexpr size_t kScanChunk = 1u << 16;   // the new file rolled through in pieces
constexpr uint64_t kLiteralFlush = 1u << 20;  // new bytes held before they go out as an addition
constexpr int64_t kSlack = 48;            // mismatches beyond matches that end an extension
constexpr size_t kDiffPiece = 1u << 20;   // the longest difference record
constexpr uint32_t kMultiplier = 0x01000193u;
constexpr uint64_t kProbeFileSize = 8u << 20;  // files at least this long are probed first
constexpr int kProbes = 32;

// A file read in blocks of kCacheBlock, the last few kept: the matcher reads both files mostly
// forward, with jumps where matches lead.
class BlockCache {
public:
    BlockCache(std::FILE* file, uint64_t size) : file_(file), size_(size) {}

    uint64_t Size() const { return size_; }
    bool Failed() const { return failed_; }

    // Bytes from `offset` up to the end of its block (at most `want`); nullptr past the end.
    const unsigned char* Span(uint64_t offset, size_t want, size_t& got)
    {
        got = 0;
        if (offset >= size_)
            return nullptr;
        uint64_t start = offset - offset % kCacheBlock;
        const std::vector<unsigned char>* block = Block(start);
        if (block == nullptr)
            return nullptr;
        size_t inside = (size_t)(offset - start);
        got = std::min(want, block->size() - inside);
        return block->data() + inside;
    }

    bool Read(uint64_t offset, unsigned char* out, size_t size)
    {
        while (size > 0) {
            size_t got;
            const unsigned char* span = Span(offset, size, got);
            if (span == nullptr || got == 0)
                return false;
            std::memcpy(out, span, got);
            out += got;
            offset += got;
            size -= got;
        }
        return true;
    }

private:
    struct Entry {
        uint64_t start;
        std::vector<unsigned char> bytes;
    };

    const std::vector<unsigned char>* Block(uint64_t start)
    {
        for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
            if (it->start == start) {
                blocks_.splice(blocks_.begin(), blocks_, it);
                return &blocks_.front().bytes;
            }
        }
        Entry entry;
        if (blocks_.size() >= kCacheBlocks) {
            entry = std::move(blocks_.back());
            blocks_.pop_back();
        }
        entry.start = start;
        entry.bytes.resize((size_t)std::min<uint64_t>(kCacheBlock, size_ - start));
        if (!SeekFile(file_, start) || std::fread(entry.bytes.data(), 1, entry.bytes.size(), file_) != entry.bytes.size()) {
            failed_ = true;
            return nullptr;
        }
        blocks_.push_front(std::move(entry));
        return &blocks_.front().bytes;
    }

    std::FILE* file_;
    uint64_t size_;
    std::list<Entry> blocks_;
    bool failed_ = false;
};

uint32_t WindowHash(const unsigned char* bytes)
{
    uint32_t hash = 0;
    for (size_t i = 0; i < kWindow; ++i)
        hash = hash * kMultiplier + bytes[i];
    return hash;
}

uint32_t PowerOut()
{
    uint32_t power = 1;
    for (size_t i = 0; i < kWindow; ++i)
        power *= kMultiplier;
    return power;
}

// The sampled index of the old file: every step-th window's hash and its sample number.
class OldIndex {
public:
    bool Build(BlockCache& old, size_t budget)
    {
        uint64_t size = old.Size();
        uint64_t slots = 1;
        while (slots * 2 * sizeof(Slot) <= budget && slots < (1ull << 31))
            slots *= 2;
        // Half the slots filled at most, so probe chains stay short.
        uint64_t samplesWanted = size >= kWindow ? size - kWindow + 1 : 0;
        step_ = std::max<uint64_t>(1, (samplesWanted + slots / 2 - 1) / (slots / 2));
        uint64_t samples = samplesWanted == 0 ? 0 : (samplesWanted - 1) / step_ + 1;
        while (slots / 4 >= std::max<uint64_t>(samples, 64))
            slots /= 2;  // small files get small tables
        table_.assign((size_t)slots, Slot{0, kEmpty});
        mask_ = slots - 1;
        unsigned char window[kWindow];
        for (uint64_t k = 0; k < samples;) {
            // The samples whose windows lie inside one block come straight from it.
            uint64_t at = k * step_;
            size_t got;
            const unsigned char* span = old.Span(at, kCacheBlock, got);
            if (span == nullptr)
                return false;
            if (got >= kWindow) {
                for (; k < samples && k * step_ + kWindow <= at + got; ++k)
                    Insert(WindowHash(span + (k * step_ - at)), (uint32_t)k);
                continue;
            }
            if (!old.Read(at, window, kWindow))
                return false;
            Insert(WindowHash(window), (uint32_t)k++);
        }
        return true;
    }

    // Old offsets whose window hashes to `hash` (at most `room`).
    size_t Find(uint32_t hash, uint64_t* found, size_t room) const
    {
        size_t count = 0;
        for (uint64_t slot = Slot0(hash);; slot = (slot + 1) & mask_) {
            const Slot& s = table_[(size_t)slot];
            if (s.sample == kEmpty)
                return count;
            if (s.hash == hash && count < room)
                found[count++] = (uint64_t)s.sample * step_;
        }
    }

    bool Empty() const { return table_.empty() || step_ == 0; }

private:
    struct Slot {
        uint32_t hash;
        uint32_t sample;
    };
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    uint64_t Slot0(uint32_t hash) const { return ((uint64_t)(hash * 0x9E3779B1u) * 0x9E3779B97F4A7C15ull >> 20) & mask_; }

    void Insert(uint32_t hash, uint32_t sample)
    {
        uint64_t slot = Slot0(hash);
        int probes = 0;
        while (table_[(size_t)slot].sample != kEmpty) {
            // A window repeated many times (zeros, padding) keeps its first few places only.
            if (table_[(size_t)slot].hash == hash && ++probes > 8)
                return;
            slot = (slot + 1) & mask_;
        }
        table_[(size_t)slot] = Slot{hash, sample};
    }

    std::vector<Slot> table_;
    uint64_t mask_ = 0;
    uint64_t step_ = 0;
};

// Writes the records in file order, hashing the result as it goes out.
class RecordEmitter {
public:
    RecordEmitter(BlockCache& oldFile, BlockCache& newFile, DeltaWriter& writer, DeltaMade& made)
        : old_(oldFile), new_(newFile), writer_(writer), made_(made)
    {
        Sha256Init(&hash_);
        buffer_.resize(kDiffPiece);
    }

    bool Add(uint64_t from, uint64_t to)
    {
        while (from < to) {
            size_t take = (size_t)std::min<uint64_t>(to - from, kDiffPiece);
            if (!new_.Read(from, buffer_.data(), take))
                return false;
            writer_.Add(buffer_.data(), take);
            Sha256Update(&hash_, buffer_.data(), take);
            made_.added += take;
            from += take;
        }
        return true;
    }

    // new [from, to) against old from + shift: exact runs of kCopyRun or more as copies.
    bool Region(uint64_t from, uint64_t to, int64_t shift)
    {
        uint64_t diffStart = from;  // differences gathered in buffer_ from here
        uint64_t zeroRun = 0;       // equal bytes at the end of what is gathered
        unsigned char newPiece[4096], oldPiece[4096];
        for (uint64_t at = from; at < to;) {
            size_t take = (size_t)std::min<uint64_t>(to - at, sizeof newPiece);
            if (!new_.Read(at, newPiece, take) || !old_.Read(at + shift, oldPiece, take))
                return false;
            Sha256Update(&hash_, newPiece, take);
            for (size_t i = 0; i < take; ++i) {
                unsigned char difference = (unsigned char)(newPiece[i] - oldPiece[i]);
                if (difference == 0) {
                    ++zeroRun;
                } else {
                    if (zeroRun >= kCopyRun)
                        FlushWithCopy(diffStart, at + i, zeroRun, shift);
                    zeroRun = 0;
                }
                // A run long enough for a copy needs no bytes kept; anything else fills the
                // buffer, which goes out as one difference record when full.
                if (zeroRun >= kCopyRun)
                    continue;
                buffer_[(size_t)(at + i - diffStart)] = difference;
                if (at + i + 1 - diffStart == kDiffPiece) {
                    FlushDiff(diffStart, at + i + 1 - diffStart - zeroRun, shift);
                    diffStart = at + i + 1 - zeroRun;
                    std::memset(buffer_.data(), 0, (size_t)zeroRun);
                }
            }
            at += take;
        }
        if (zeroRun >= kCopyRun)
            FlushWithCopy(diffStart, to, zeroRun, shift);
        else
            FlushDiff(diffStart, to - diffStart, shift);
        return true;
    }

    void Finish(unsigned char digest[SHA256_SIZE]) { Sha256Final(&hash_, digest); }

private:
    void FlushDiff(uint64_t start, uint64_t length, int64_t shift)
    {
        if (length == 0)
            return;
        writer_.BeginDiff(start + shift, length);
        writer_.Payload(buffer_.data(), (size_t)length);
        made_.differenced += length;
    }

    // The gathered bytes up to `end` close with an exact run of `run` bytes: differences, then a copy.
    void FlushWithCopy(uint64_t& start, uint64_t end, uint64_t run, int64_t shift)
    {
        uint64_t runStart = end - run;
        if (runStart > start)
            FlushDiff(start, runStart - start, shift);
        writer_.Copy(runStart + shift, run);
        made_.copied += run;
        start = end;
    }

    BlockCache& old_;
    BlockCache& new_;
    DeltaWriter& writer_;
    DeltaMade& made_;
    Sha256Context hash_;
    std::vector<unsigned char> buffer_;
};

class Matcher {
public:
    Matcher(BlockCache& oldFile, BlockCache& newFile, const OldIndex& index)
        : old_(oldFile), new_(newFile), index_(index), powerOut_(PowerOut())
    {
    }

    // The first match at or after `from` within [from, end): its new and old offsets.
    bool FindMatch(uint64_t from, uint64_t end, uint64_t& newAt, uint64_t& oldAt)
    {
        if (index_.Empty())
            return false;
        std::vector<unsigned char> chunk(kScanChunk + kWindow);
        while (from + kWindow <= end) {
            size_t length = (size_t)std::min<uint64_t>(end - from, kScanChunk + kWindow - 1);
            if (!new_.Read(from, chunk.data(), length))
                return false;
            uint32_t hash = WindowHash(chunk.data());
            for (size_t j = 0;; ++j) {
                if (Candidate(hash, chunk.data() + j, from + j, oldAt)) {
                    newAt = from + j;
                    return true;
                }
                if (j + kWindow >= length)
                    break;
                hash = hash * kMultiplier + chunk[j + kWindow] - chunk[j] * powerOut_;
            }
            from += length - kWindow + 1;
        }
        return false;
    }

    // Extends a match along its alignment: the furthest point forward (up to `end`) where the
    // bytes matched so far outweigh the mismatches, through near matches.
    uint64_t ExtendForward(uint64_t newAt, int64_t shift, uint64_t end)
    {
        uint64_t oldEnd = old_.Size();
        uint64_t limit = std::min<uint64_t>(end, (uint64_t)((int64_t)oldEnd - shift));
        int64_t score = 0, best = 0;
        uint64_t bestAt = newAt;
        unsigned char a[4096], b[4096];
        for (uint64_t at = newAt; at < limit;) {
            size_t take = (size_t)std::min<uint64_t>(limit - at, sizeof a);
            if (!new_.Read(at, a, take) || !old_.Read(at + shift, b, take))
                return bestAt;
            if (std::memcmp(a, b, take) == 0) {
                score += (int64_t)take;
                at += take;
                best = score;
                bestAt = at;
                continue;
            }
            for (size_t i = 0; i < take; ++i) {
                score += a[i] == b[i] ? 1 : -1;
                if (score > best) {
                    best = score;
                    bestAt = at + i + 1;
                } else if (score < best - kSlack) {
                    return bestAt;
                }
            }
            at += take;
        }
        return bestAt;
    }

    // The same backward from newAt, never before `floor`.
    uint64_t ExtendBackward(uint64_t newAt, int64_t shift, uint64_t floor)
    {
        uint64_t limit = std::max<int64_t>((int64_t)floor, -shift);
        int64_t score = 0, best = 0;
        uint64_t bestAt = newAt;
        unsigned char a[4096], b[4096];
        for (uint64_t at = newAt; at > limit;) {
            size_t take = (size_t)std::min<uint64_t>(at - limit, sizeof a);
            if (!new_.Read(at - take, a, take) || !old_.Read(at - take + shift, b, take))
                return bestAt;
            for (size_t i = take; i-- > 0;) {
                score += a[i] == b[i] ? 1 : -1;
                if (score > best) {
                    best = score;
                    bestAt = at - take + i;
                } else if (score < best - kSlack) {
                    return bestAt;
                }
            }
            at -= take;
        }
        return bestAt;
    }

private:
    // Among the old windows with this hash, the one whose bytes match and whose match runs
    // furthest (the lowest offset on a tie).
    bool Candidate(uint32_t hash, const unsigned char* window, uint64_t newAt, uint64_t& oldAt)
    {
        uint64_t found[8];
        size_t count = index_.Find(hash, found, 8);
        size_t bestLength = 0;
        for (size_t c = 0; c < count; ++c) {
            unsigned char oldWindow[kWindow];
            if (!old_.Read(found[c], oldWindow, kWindow) || std::memcmp(oldWindow, window, kWindow) != 0)
                continue;
            size_t length = ExactLength(newAt + kWindow, found[c] + kWindow, 1024) + kWindow;
            if (length > bestLength) {
                bestLength = length;
                oldAt = found[c];
            }
        }
        return bestLength > 0;
    }

    size_t ExactLength(uint64_t newAt, uint64_t oldAt, size_t most)
    {
        unsigned char a[1024], b[1024];
        size_t take = (size_t)std::min<uint64_t>({most, sizeof a, new_.Size() > newAt ? new_.Size() - newAt : 0,
                                                  old_.Size() > oldAt ? old_.Size() - oldAt : 0});
        if (take == 0 || !new_.Read(newAt, a, take) || !old_.Read(oldAt, b, take))
            return 0;
        size_t i = 0;
        while (i < take && a[i] == b[i])
            ++i;
        return i;
    }

    BlockCache& old_;
    BlockCache& new_;
    const OldIndex& index_;
    uint32_t powerOut_;
};

// Probes spread over the new file: true when none of them finds anything of the old file.
bool NothingMatches(Matcher& matcher, uint64_t newSize)
{
    if (newSize < kProbeFileSize)
        return false;
    for (int p = 0; p < kProbes; ++p) {
        uint64_t from = newSize / kProbes * (uint64_t)p;
        uint64_t newAt, oldAt;
        if (matcher.FindMatch(from, std::min(newSize, from + kScanChunk), newAt, oldAt))
            return false;
    }
    return true;
}

class FileCloser {
public:
    explicit FileCloser(std::FILE* file) : file_(file) {}
    ~FileCloser()
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }

private:
    std::FILE* file_;
};

bool FileSize(std::FILE* file, uint64_t& size)
{
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return false;
    long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    long long end = (long long)ftello(file);
#endif
    if (end < 0)
        return false;
    size = (uint64_t)end;
    return true;
}

size_t ReadFileAt(void* context, uint64_t offset, void* buffer, size_t size)
{
    std::FILE* file = static_cast<std::FILE*>(context);
    if (!SeekFile(file, offset))
        return 0;
    return std::fread(buffer, 1, size, file);
}

}  // namespace

std::FILE* OpenBinaryFile(const fs::path& path)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

bool SeekFile(std::FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, (long long)offset, SEEK_SET) == 0;
#else
    return fseeko(file, (off_t)offset, SEEK_SET) == 0;
#endif
}

bool HashFile(const fs::path& path, uint64_t& size, unsigned char hash[SHA256_SIZE], std::string& error)
{
    std::FILE* file = OpenBinaryFile(path);
    if (file == nullptr) {
        error = PathForDisplay(path) + ": cannot open the file";
        return false;
    }
    FileCloser closer(file);
    Sha256Context context;
    Sha256Init(&context);
    std::vector<unsigned char> piece(kCacheBlock);
    size = 0;
    for (;;) {
        size_t got = std::fread(piece.data(), 1, piece.size(), file);
        Sha256Update(&context, piece.data(), got);
        size += got;
        if (got < piece.size())
            break;
    }
    if (std::ferror(file)) {
        error = PathForDisplay(path) + ": read error";
        return false;
    }
    Sha256Final(&context, hash);
    return true;
}

DeltaFileSource::DeltaFileSource(const fs::path& path) : file_(OpenBinaryFile(path)), source_{file_, ReadFileAt} {}

DeltaFileSource::~DeltaFileSource()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool MakeDelta(const fs::path& oldPath, const fs::path& newPath, const DeltaMatchOptions& options, DeltaMade& made,
               std::string& error)
{
    std::FILE* oldFile = OpenBinaryFile(oldPath);
    FileCloser oldCloser(oldFile);
    std::FILE* newFile = OpenBinaryFile(newPath);
    FileCloser newCloser(newFile);
    uint64_t oldSize = 0, newSize = 0;
    if (oldFile == nullptr || !FileSize(oldFile, oldSize)) {
        error = PathForDisplay(oldPath) + ": cannot read the file";
        return false;
    }
    if (newFile == nullptr || !FileSize(newFile, newSize)) {
        error = PathForDisplay(newPath) + ": cannot read the file";
        return false;
    }
    BlockCache oldCache(oldFile, oldSize), newCache(newFile, newSize);
    auto readError = [&]() {
        error = PathForDisplay(oldCache.Failed() ? oldPath : newPath) + ": read error";
        return false;
    };
    OldIndex index;
    if (!index.Build(oldCache, options.indexBudget))
        return readError();
    Matcher matcher(oldCache, newCache, index);
    made.nothingMatches = NothingMatches(matcher, newSize);
    if (made.nothingMatches)
        return !newCache.Failed() || readError();
    // The old file's hash only once a delta is worth making.
    Sha256Context oldHash;
    Sha256Init(&oldHash);
    for (uint64_t start = 0; start < oldSize; start += kCacheBlock) {
        size_t got;
        const unsigned char* span = oldCache.Span(start, kCacheBlock, got);
        if (span == nullptr)
            return readError();
        Sha256Update(&oldHash, span, got);
    }
    made.header.baseSize = oldSize;
    Sha256Final(&oldHash, made.header.baseHash);
    made.header.resultSize = newSize;

    bool writeOk = true;
    DeltaWriter writer(
        [&](const unsigned char* data, size_t size) {
            if (writeOk)
                writeOk = made.records.Append(data, size, error);
        },
        options.level);
    RecordEmitter emit(oldCache, newCache, writer, made);
    uint64_t literal = 0;  // new bytes from here on are not written yet
    uint64_t at = 0;
    while (at < newSize && writeOk) {
        uint64_t scanEnd = std::min(newSize, std::max(at, literal + kLiteralFlush) + kScanChunk);
        uint64_t newAt, oldAt;
        if (!matcher.FindMatch(at, scanEnd, newAt, oldAt)) {
            if (oldCache.Failed() || newCache.Failed())
                return readError();
            // Nothing here: what is scanned goes out as new bytes (keeping the last window's
            // worth, which the next scan starts from).
            uint64_t next = scanEnd >= newSize ? newSize : scanEnd - kWindow + 1;
            if (next - literal >= kLiteralFlush || next == newSize) {
                if (!emit.Add(literal, next))
                    return readError();
                literal = next;
            }
            at = next;
            continue;
        }
        int64_t shift = (int64_t)oldAt - (int64_t)newAt;
        uint64_t start = matcher.ExtendBackward(newAt, shift, literal);
        uint64_t end = matcher.ExtendForward(newAt, shift, newSize);
        if (end <= newAt)
            end = newAt + kWindow;  // the verified window at least
        if (!emit.Add(literal, start) || !emit.Region(start, end, shift))
            return readError();
        literal = at = end;
    }
    if (!writeOk)
        return false;
    if (literal < newSize && !emit.Add(literal, newSize))
        return readError();
    writer.Finish();
    emit.Finish(made.header.resultHash);
    return writeOk;
}
