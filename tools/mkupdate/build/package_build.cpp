// Compression on several threads in bounded memory, and the update written in a fixed order.
#include "build/package_build.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "build/delta_match.h"
#include "cli/command_line.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "package/package_writer.h"
#include "examine/update_file.h"

namespace {

constexpr size_t kReadPiece = 1 << 20;
constexpr uint64_t kFileLimit = 0x7FFFFFFFu;  // positions in the update are signed 32-bit

struct Compressed {
    bool done = false;
    bool ok = false;
    ZlibStream zlib;
    uint64_t originalSize = 0;
    std::string error;
    std::vector<DeltaMade> deltas;  // packed instead of zlib when not empty
    bool weighed = false;           // verdict holds what became of a delta candidate
    DeltaVerdict verdict;
};

// At most this many matchers at once, whatever --jobs says: each holds its index of the old
// file, and the 32-bit mkupdate.exe must stay within its address space.
constexpr int kMatchersAtOnce = 4;
std::mutex matcherMutex;
std::condition_variable matcherFree;
int matchersRunning = 0;

class MatcherSlot {
public:
    MatcherSlot()
    {
        std::unique_lock<std::mutex> lock(matcherMutex);
        matcherFree.wait(lock, [] { return matchersRunning < kMatchersAtOnce; });
        ++matchersRunning;
    }
    ~MatcherSlot()
    {
        {
            std::lock_guard<std::mutex> lock(matcherMutex);
            --matchersRunning;
        }
        matcherFree.notify_one();
    }
};

// Deltas count as clearly smaller when together they take at most 4/5 of the whole file's stream.
bool DeltasClearlySmaller(uint64_t deltas, uint64_t whole)
{
    return deltas * 5 <= whole * 4;
}

// A changed file with old versions: a delta from each, and the whole file compressed only until it
// is clear which is smaller. The whole file wins when any old version shares nothing with it.
bool WeighDeltas(const PlannedEntry& entry, const BuildOptions& options, Compressed& done)
{
    DeltaVerdict& verdict = done.verdict;
    done.weighed = true;
    verdict.name = entry.name;
    verdict.size = entry.size;
    uint64_t total = 0;
    {
        MatcherSlot slot;
        DeltaMatchOptions match;
        match.level = options.level;
        match.indexBudget = options.deltaIndexBudget;
        for (const std::filesystem::path& base : entry.deltaBases) {
            DeltaMade made;
            made.records = ZlibStream(options.memoryPerStream);
            if (!MakeDelta(base, entry.source, match, made, done.error))
                return false;
            if (made.nothingMatches) {
                verdict.nothingMatches = true;
                done.deltas.clear();
                verdict.deltaSizes.clear();
                break;
            }
            total += made.DataSize();
            verdict.deltaSizes.push_back(made.DataSize());
            done.deltas.push_back(std::move(made));
        }
    }
    bool capped = false;
    uint64_t cap = done.deltas.empty() ? UINT64_MAX : total + total / 4;
    if (!CompressFile(entry.source, options.level, done.zlib, done.originalSize, done.error, cap, &capped))
        return false;
    verdict.wholeSize = done.zlib.Size();
    verdict.wholeAtLeast = capped;
    if (!done.deltas.empty() && (capped || DeltasClearlySmaller(total, done.zlib.Size()))) {
        verdict.deltas = true;
        done.zlib = ZlibStream(options.memoryPerStream);
        done.originalSize = entry.size;
        return true;
    }
    done.deltas.clear();
    return !capped;
}

}  // namespace

ZlibStream::ZlibStream(ZlibStream&& other) noexcept
    : memoryLimit_(other.memoryLimit_), memory_(std::move(other.memory_)), spill_(other.spill_), size_(other.size_)
{
    other.spill_ = nullptr;
    other.size_ = 0;
}

ZlibStream& ZlibStream::operator=(ZlibStream&& other) noexcept
{
    if (this != &other) {
        if (spill_ != nullptr)
            std::fclose(spill_);
        memoryLimit_ = other.memoryLimit_;
        memory_ = std::move(other.memory_);
        spill_ = other.spill_;
        size_ = other.size_;
        other.spill_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

ZlibStream::~ZlibStream()
{
    if (spill_ != nullptr)
        std::fclose(spill_);
}

bool ZlibStream::Append(const unsigned char* data, size_t size, std::string& error)
{
    size_t inMemory = spill_ == nullptr ? std::min(size, memoryLimit_ - memory_.size()) : 0;
    memory_.insert(memory_.end(), data, data + inMemory);
    size_ += inMemory;
    if (inMemory == size)
        return true;
    if (spill_ == nullptr && (spill_ = CreateSpillFile()) == nullptr) {
        error = "cannot make a temporary file for a large compressed file";
        return false;
    }
    if (std::fwrite(data + inMemory, 1, size - inMemory, spill_) != size - inMemory) {
        error = "cannot write a temporary file for a large compressed file (disk full?)";
        return false;
    }
    size_ += size - inMemory;
    return true;
}

bool ZlibStream::CopyTo(const std::function<void(const unsigned char*, size_t)>& sink, std::string& error)
{
    sink(memory_.data(), memory_.size());
    if (spill_ == nullptr)
        return true;
    if (std::fflush(spill_) != 0 || std::fseek(spill_, 0, SEEK_SET) != 0) {
        error = "cannot read back a temporary file";
        return false;
    }
    std::vector<unsigned char> piece(kReadPiece);
    uint64_t left = size_ - memory_.size();
    while (left > 0) {
        size_t want = (size_t)std::min<uint64_t>(left, piece.size());
        if (std::fread(piece.data(), 1, want, spill_) != want) {
            error = "cannot read back a temporary file";
            return false;
        }
        sink(piece.data(), want);
        left -= want;
    }
    return true;
}

bool CompressFile(const std::filesystem::path& path, int level, ZlibStream& zlib, uint64_t& originalSize,
                  std::string& error, uint64_t cap, bool* capped)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = PathForDisplay(path) + ": cannot open the file";
        return false;
    }
    z_stream zs{};
    if (deflateInit(&zs, level) != Z_OK) {
        error = "zlib could not be initialised";
        return false;
    }
    // Buffers sized from the file: zero-filling 1 MiB twice for each small file of a large tree
    // cost more than compressing it.
    std::error_code sizeError;
    uint64_t expected = std::filesystem::file_size(path, sizeError);
    size_t piece = sizeError ? kReadPiece : (size_t)std::min<uint64_t>(kReadPiece, expected + 1);
    std::vector<unsigned char> input(piece);
    std::vector<unsigned char> output(std::min<size_t>(kReadPiece, deflateBound(&zs, (uLong)piece) + 64));
    originalSize = 0;
    int flush = Z_NO_FLUSH;
    bool ok = true;
    do {
        in.read(reinterpret_cast<char*>(input.data()), (std::streamsize)input.size());
        std::streamsize got = in.gcount();
        if (in.bad()) {
            error = PathForDisplay(path) + ": read error";
            ok = false;
            break;
        }
        originalSize += (uint64_t)got;
        if (originalSize > kFileLimit) {
            error = PathForDisplay(path) + ": 2 GiB or larger; a package file must stay below 2 GiB";
            ok = false;
            break;
        }
        flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = input.data();
        zs.avail_in = (uInt)got;
        do {
            zs.next_out = output.data();
            zs.avail_out = (uInt)output.size();
            deflate(&zs, flush);
            ok = zlib.Append(output.data(), output.size() - zs.avail_out, error);
        } while (ok && (zs.avail_out == 0 || zs.avail_in > 0));
        if (ok && capped != nullptr && zlib.Size() > cap) {
            *capped = true;
            break;
        }
    } while (ok && flush != Z_FINISH);
    deflateEnd(&zs);
    return ok;
}

bool WriteUpdate(const std::string& stub, const std::vector<PlannedEntry>& entries, const BuildOptions& options,
                 std::FILE* output, BuildResult& result, std::string& error)
{
    if (stub.size() >= kFileLimit) {
        error = "the stub is 2 GiB or larger";
        return false;
    }
    bool writeFailed = false;
    auto sink = [&](const unsigned char* data, size_t size) {
        if (!writeFailed && std::fwrite(data, 1, size, output) != size)
            writeFailed = true;
    };
    sink(reinterpret_cast<const unsigned char*>(stub.data()), stub.size());
    PackageWriter writer(sink, (uint32_t)stub.size());

    uint64_t totalInput = 0;
    for (const PlannedEntry& entry : entries)
        totalInput += entry.folder ? 0 : entry.size;

    // Workers compress ahead of the writer by at most a window of entries, so memory stays
    // bounded by a few compressed files while the output order stays fixed.
    const size_t count = entries.size();
    const size_t window = (size_t)std::max(1, options.jobs) * 2;
    std::vector<Compressed> results(count);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0;
    size_t writing = 0;
    bool stop = false;
    auto work = [&] {
        for (;;) {
            size_t index;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= count || next < writing + window; });
                if (stop || next >= count)
                    return;
                index = next++;
            }
            const PlannedEntry& entry = entries[index];
            Compressed done;
            done.zlib = ZlibStream(options.memoryPerStream);
            try {
                if (entry.folder) {
                    done.ok = true;
                } else if (entry.generated) {
                    std::vector<unsigned char> zlib = DeflateZlib(
                        reinterpret_cast<const unsigned char*>(entry.contents.data()), entry.contents.size(), options.level);
                    done.ok = done.zlib.Append(zlib.data(), zlib.size(), done.error);
                    done.originalSize = entry.contents.size();
                } else if (!entry.deltaBases.empty()) {
                    done.ok = WeighDeltas(entry, options, done);
                } else {
                    done.ok = CompressFile(entry.source, options.level, done.zlib, done.originalSize, done.error);
                }
            } catch (const std::bad_alloc&) {
                // A thread that throws would end the process with the .part file left behind.
                done.ok = false;
                done.error = "out of memory while compressing " + PathForDisplay(entry.source);
            }
            done.done = true;
            {
                std::lock_guard<std::mutex> lock(mutex);
                results[index] = std::move(done);
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < std::max(1, options.jobs); ++i)
        workers.emplace_back(work);

    bool ok = true;
    uint64_t doneInput = 0;
    ProgressLine progress("build", options.progress ? totalInput : 0);
    for (size_t index = 0; index < count && ok; ++index) {
        Compressed item;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return results[index].done; });
            item = std::move(results[index]);
        }
        const PlannedEntry& entry = entries[index];
        if (item.ok && item.weighed)
            result.deltaVerdicts.push_back(item.verdict);
        if (!item.ok) {
            error = item.error;
            ok = false;
        } else if (entry.folder) {
            writer.AddFolder(entry.name);
            ++result.folders;
        } else if (!item.deltas.empty()) {
            for (DeltaMade& delta : item.deltas) {
                writer.BeginDelta(entry.name, entry.lastWriteTime, (size_t)delta.DataSize());
                unsigned char header[DELTA_HEADER_SIZE];
                EncodeDeltaHeader(&delta.header, header);
                writer.PutData(header, sizeof header);
                ok = ok && delta.records.CopyTo([&](const unsigned char* data, size_t size) { writer.PutData(data, size); },
                                                error);
                ++result.deltas;
            }
            ++result.files;
            result.inputBytes += item.originalSize;
            doneInput += entry.size;
        } else {
            writer.BeginFile(entry.name, (int32_t)item.originalSize, entry.lastWriteTime, (size_t)item.zlib.Size());
            ok = item.zlib.CopyTo([&](const unsigned char* data, size_t size) { writer.PutData(data, size); }, error);
            ++result.files;
            result.inputBytes += item.originalSize;
            doneInput += entry.size;
        }
        if (ok && stub.size() + writer.BytesWritten() + 8 > kFileLimit) {
            error = "the update would reach 2 GiB; the updater reads positions as signed 32-bit numbers";
            ok = false;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            writing = index + 1;
            if (!ok)
                stop = true;
        }
        changed.notify_all();
        progress.Reached(doneInput);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& worker : workers)
        worker.join();
    progress.Done();
    if (!ok)
        return false;
    // A length that is a multiple of 8 lets a signing tool append its certificate table without
    // padding of its own; the extra zero bytes stand where readers never look.
    uint64_t length = stub.size() + writer.BytesWritten() + 8;
    writer.Finish((uint32_t)((8 - length % 8) % 8));
    result.packageBytes = writer.BytesWritten() - 4;
    if (writeFailed || std::fflush(output) != 0) {
        error = "cannot write the output file (disk full?)";
        return false;
    }
    return true;
}
