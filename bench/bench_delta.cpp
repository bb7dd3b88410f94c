// Deltas of build --base on seeded cases of the kinds a game's update meets, against xdelta3 -9
// (Debian's package, installed by scripts/bench) and zlib -9 of the whole new file, all in one run:
// sizes, build times and their ratios. The cases, at full scale (--scale N divides the sizes):
//   archive, raw members   512 MiB, 3,000 members; 20 scripts edited with offsets shifting, 3 images
//                          replaced, the index rewritten
//   archive, zlib members  the same with every member deflated
//   executable-like        41 MiB of functions with calls between them; 60 functions edited, so
//                          every call across an edit changes its target
//   re-encrypted archive   the raw archive under another key: nothing matches; its build (probes,
//                          then the whole file) against a plain build of the file
// (UPDATER_BENCH_DELTA_SCALE=N as --scale N, for scripts/bench.)
#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "build/delta_match.h"
#include "build/package_build.h"
#include "package/delta_apply.h"
#include "package/entry_inflate.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Fill(std::mt19937_64& random, unsigned char* out, size_t size)
{
    for (size_t i = 0; i < size; i += 8) {
        uint64_t value = random();
        std::memcpy(out + i, &value, std::min<size_t>(8, size - i));
    }
}

// Text-like bytes (a script): words from a small vocabulary, so zlib packs them.
Bytes Script(std::mt19937_64& random, size_t size)
{
    static const char* words[] = {"say ", "wait 10\n", "show bg ", "hide ", "jump label_", "if flag ", "then ",
                                  "「こんにちは」\n", "music ", "sound ", "choice ", "end\n"};
    Bytes out;
    while (out.size() < size) {
        const char* word = words[random() % 12];
        out.insert(out.end(), word, word + std::strlen(word));
        if (random() % 5 == 0) {
            std::string number = std::to_string(random() % 1000);
            out.insert(out.end(), number.begin(), number.end());
        }
    }
    out.resize(size);
    return out;
}

struct Member {
    bool script;
    Bytes bytes;
};

// An archive: an index of (offset, size) pairs, then the members back to back.
Bytes Archive(const std::vector<Member>& members, bool deflated)
{
    std::vector<Bytes> stored;
    for (const Member& member : members) {
        if (!deflated) {
            stored.push_back(member.bytes);
            continue;
        }
        uLongf size = compressBound((uLong)member.bytes.size());
        Bytes out(size);
        compress2(out.data(), &size, member.bytes.data(), (uLong)member.bytes.size(), 6);
        out.resize(size);
        stored.push_back(std::move(out));
    }
    Bytes archive(16 * members.size());
    uint64_t offset = archive.size();
    for (size_t i = 0; i < stored.size(); ++i) {
        std::memcpy(&archive[16 * i], &offset, 8);
        uint64_t size = stored[i].size();
        std::memcpy(&archive[16 * i + 8], &size, 8);
        offset += size;
    }
    for (const Bytes& member : stored)
        archive.insert(archive.end(), member.begin(), member.end());
    return archive;
}

// Members of the old version and the new one: scripts edited (a few insertions and deletions, so
// everything after them shifts), images replaced by new ones of their size.
void ArchiveMembers(size_t total, int count, std::vector<Member>& before, std::vector<Member>& after)
{
    std::mt19937_64 random(29);
    size_t average = total / (size_t)count;
    for (int i = 0; i < count; ++i) {
        size_t size = average / 2 + random() % average;
        bool script = i % 10 == 0;
        Member member{script, script ? Script(random, size / 8) : Bytes(size)};
        if (!script)
            Fill(random, member.bytes.data(), size);
        before.push_back(member);
    }
    after = before;
    std::vector<int> scripts, images;
    for (int i = 0; i < count; ++i)
        (after[(size_t)i].script ? scripts : images).push_back(i);
    for (int e = 0; e < 20; ++e) {
        Bytes& text = after[(size_t)scripts[random() % scripts.size()]].bytes;
        for (int k = 0; k < 3; ++k) {
            size_t at = random() % text.size();
            Bytes added = Script(random, 40 + random() % 400);
            text.insert(text.begin() + (long)at, added.begin(), added.end());
            size_t cut = std::min<size_t>(text.size() - at, random() % 200);
            text.erase(text.begin() + (long)at, text.begin() + (long)(at + cut));
        }
    }
    for (int r = 0; r < 3; ++r) {
        Bytes& image = after[(size_t)images[random() % images.size()]].bytes;
        Fill(random, image.data(), image.size());
    }
}

// Functions of code-like bytes calling each other (E8 and a 32-bit offset to the callee): an edit
// that changes a function's length moves every function after it, and every call that crosses it.
Bytes Executable(std::vector<Bytes> bodies, const std::vector<std::vector<std::pair<size_t, size_t>>>& calls)
{
    std::vector<size_t> starts;
    size_t at = 0;
    for (const Bytes& body : bodies) {
        starts.push_back(at);
        at += body.size();
    }
    Bytes out;
    for (size_t f = 0; f < bodies.size(); ++f) {
        for (const auto& [place, callee] : calls[f]) {
            if (place + 5 > bodies[f].size())
                continue;
            int32_t relative = (int32_t)((int64_t)starts[callee] - (int64_t)(starts[f] + place + 5));
            bodies[f][place] = 0xE8;
            std::memcpy(&bodies[f][place + 1], &relative, 4);
        }
        out.insert(out.end(), bodies[f].begin(), bodies[f].end());
    }
    return out;
}

void ExecutableVersions(size_t total, Bytes& before, Bytes& after)
{
    std::mt19937_64 random(41);
    std::vector<Bytes> bodies;
    std::vector<std::vector<std::pair<size_t, size_t>>> calls;
    static const unsigned char opcodes[] = {0x8B, 0x89, 0x55, 0x5D, 0xC3, 0x83, 0x48, 0x0F, 0x85, 0x74, 0x90, 0x31};
    size_t made = 0;
    while (made < total) {
        size_t size = 200 + random() % 3000;
        Bytes body(size);
        for (unsigned char& byte : body)
            byte = random() % 3 == 0 ? (unsigned char)random() : opcodes[random() % sizeof opcodes];
        bodies.push_back(std::move(body));
        calls.emplace_back();
        made += size;
    }
    for (size_t f = 0; f < bodies.size(); ++f)
        for (size_t place = 16; place + 5 < bodies[f].size(); place += 40 + random() % 80)
            calls[f].push_back({place, (size_t)(random() % bodies.size())});
    before = Executable(bodies, calls);
    for (int e = 0; e < 60; ++e) {
        size_t f = random() % bodies.size();
        Bytes& body = bodies[f];
        size_t at = random() % body.size();
        Bytes added(20 + random() % 200);
        for (unsigned char& byte : added)
            byte = opcodes[random() % sizeof opcodes];
        body.insert(body.begin() + (long)at, added.begin(), added.end());
        for (auto& call : calls[f])
            if (call.first >= at)
                call.first += added.size();
    }
    after = Executable(bodies, calls);
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

Bytes Encrypted(Bytes bytes, uint64_t key)
{
    std::mt19937_64 random(key);
    for (size_t i = 0; i < bytes.size(); i += 8) {
        uint64_t stream = random();
        for (size_t k = 0; k < 8 && i + k < bytes.size(); ++k)
            bytes[i + k] ^= (unsigned char)(stream >> (8 * k));
    }
    return bytes;
}

void SaveStream(ZlibStream& stream, const fs::path& path, const unsigned char* header = nullptr, size_t headerSize = 0);

struct Measured {
    uint64_t size = 0;
    double seconds = 0;
    bool ran = false;
};

Measured Whole(const fs::path& path, const fs::path& save = {})
{
    Measured m;
    ZlibStream zlib;
    uint64_t original;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    m.ran = CompressFile(path, 9, zlib, original, error);
    m.seconds = Seconds(start);
    m.size = zlib.Size();
    if (!save.empty())
        SaveStream(zlib, save);
    return m;
}

// Writes a stream's bytes to a file.
void SaveStream(ZlibStream& stream, const fs::path& path, const unsigned char* header, size_t headerSize)
{
    std::FILE* out = std::fopen(path.string().c_str(), "wb");
    if (header != nullptr)
        std::fwrite(header, 1, headerSize, out);
    std::string error;
    stream.CopyTo([&](const unsigned char* data, size_t size) { std::fwrite(data, 1, size, out); }, error);
    std::fclose(out);
}

bool WriteBlock(void* context, const unsigned char* data, size_t size)
{
    return std::fwrite(data, 1, size, static_cast<std::FILE*>(context)) == size;
}

// The updater's two ways to make the new file, each from its packed data to a file on disk: the
// delta applied to the old file, and the whole file inflated. Seconds of each.
void TimeApplying(const fs::path& oldPath, const fs::path& deltaPath, const fs::path& wholePath, const fs::path& out,
                  double& applySeconds, double& inflateSeconds)
{
    std::vector<unsigned char> work(DELTA_WORK_SIZE);
    for (int pass = 0; pass < 2; ++pass) {
        const fs::path& packed = pass == 0 ? deltaPath : wholePath;
        std::FILE* in = std::fopen(packed.string().c_str(), "rb");
        std::FILE* result = std::fopen(out.string().c_str(), "wb");
        ByteStream stream = FileByteStream(in);
        InflateSink sink = {result, WriteBlock, nullptr};
        uint32_t size = (uint32_t)fs::file_size(packed);
        auto start = std::chrono::steady_clock::now();
        int status;
        if (pass == 0) {
            DeltaFileSource old(oldPath);
            DeltaOutcome outcome;
            status = ApplyDeltaEntry(&stream, size, old.Source(), work.data(), &sink, &outcome);
        } else {
            InflateOutcome outcome;
            status = InflateEntryData(&stream, size, -1, work.data(), work.data() + BLOCK_SIZE, &sink, &outcome);
        }
        std::fflush(result);
        (pass == 0 ? applySeconds : inflateSeconds) = Seconds(start);
        std::fclose(result);
        std::fclose(in);
        if (status != 0)
            std::printf("bench_delta: %s failed with status %d\n", pass == 0 ? "applying" : "inflating", status);
    }
}

Measured Ours(const fs::path& oldPath, const fs::path& newPath, bool& nothing, const fs::path& save = {})
{
    Measured m;
    DeltaMade made;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    m.ran = MakeDelta(oldPath, newPath, DeltaMatchOptions{}, made, error);
    m.seconds = Seconds(start);
    m.size = made.DataSize();
    nothing = made.nothingMatches;
    if (m.ran && !save.empty()) {
        unsigned char header[DELTA_HEADER_SIZE];
        EncodeDeltaHeader(&made.header, header);
        SaveStream(made.records, save, header, sizeof header);
    }
    if (!m.ran)
        std::fprintf(stderr, "bench_delta: %s\n", error.c_str());
    return m;
}

Measured Xdelta(const fs::path& oldPath, const fs::path& newPath, const fs::path& out)
{
    Measured m;
    uint64_t window = 1;
    while (window < fs::file_size(oldPath) && window < (1u << 30))
        window *= 2;
    // The source window holds the whole old file, so xdelta3 may match anywhere in it.
    std::string command = "xdelta3 -9 -f -e -B " + std::to_string(std::max<uint64_t>(window, 1 << 24)) + " -s '" +
                          oldPath.string() + "' '" + newPath.string() + "' '" + out.string() + "' 2>/dev/null";
    auto start = std::chrono::steady_clock::now();
    m.ran = std::system(command.c_str()) == 0;
    m.seconds = Seconds(start);
    std::error_code code;
    m.size = m.ran ? fs::file_size(out, code) : 0;
    return m;
}

void Report(const char* label, const Measured& ours, const Measured& xdelta, const Measured& whole)
{
    std::printf("%-24s delta %12llu B %7.2f s | xdelta3 -9 ", label, (unsigned long long)ours.size, ours.seconds);
    if (xdelta.ran)
        std::printf("%12llu B %7.2f s", (unsigned long long)xdelta.size, xdelta.seconds);
    else
        std::printf("%17s", "(not installed)");
    std::printf(" | zlib -9 %12llu B %7.2f s\n", (unsigned long long)whole.size, whole.seconds);
    std::printf("%-24s size vs xdelta3 %.3f, vs zlib -9 %.4f; build time vs xdelta3 %.2f\n", "",
                xdelta.ran ? (double)ours.size / (double)xdelta.size : 0.0, (double)ours.size / (double)whole.size,
                xdelta.ran ? ours.seconds / xdelta.seconds : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    size_t scale = 1;
    if (const char* text = std::getenv("UPDATER_BENCH_DELTA_SCALE"))
        scale = (size_t)std::max(1, std::atoi(text));
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--scale") == 0)
            scale = (size_t)std::max(1, std::atoi(argv[i + 1]));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each case as it is measured
    fs::path root = fs::temp_directory_path() / "bench_delta";
    fs::remove_all(root);
    fs::create_directories(root);
    std::printf("scale 1/%zu; %s\n", scale,
                std::system("command -v xdelta3 >/dev/null") == 0 ? "xdelta3 found" : "xdelta3 missing");

    std::vector<Member> before, after;
    ArchiveMembers((512u << 20) / scale, (int)std::max<size_t>(30, 3000 / scale), before, after);
    for (bool deflated : {false, true}) {
        WriteFile(root / "old.arc", Archive(before, deflated));
        WriteFile(root / "new.arc", Archive(after, deflated));
        bool nothing = false;
        Measured ours = Ours(root / "old.arc", root / "new.arc", nothing, root / "delta.bin");
        Measured xdelta = Xdelta(root / "old.arc", root / "new.arc", root / "x.vcdiff");
        Report(deflated ? "archive, zlib members" : "archive, raw members", ours, xdelta,
               Whole(root / "new.arc", root / "whole.bin"));
        double apply = 0, inflate = 0;
        TimeApplying(root / "old.arc", root / "delta.bin", root / "whole.bin", root / "made.arc", apply, inflate);
        std::printf("%-24s making the file: delta applied %.2f s, whole inflated %.2f s: speed %.2f of inflating\n",
                    "", apply, inflate, inflate / apply);
    }
    {
        Bytes oldExe, newExe;
        ExecutableVersions((41u << 20) / scale, oldExe, newExe);
        WriteFile(root / "old.exe", oldExe);
        WriteFile(root / "new.exe", newExe);
        bool nothing = false;
        Measured ours = Ours(root / "old.exe", root / "new.exe", nothing);
        Measured xdelta = Xdelta(root / "old.exe", root / "new.exe", root / "x.vcdiff");
        Report("executable-like", ours, xdelta, Whole(root / "new.exe"));
    }
    {
        Bytes raw = Archive(before, false);
        WriteFile(root / "old.enc", Encrypted(raw, 1));
        WriteFile(root / "new.enc", Encrypted(Archive(after, false), 2));
        raw.clear();
        bool nothing = false;
        Measured ours = Ours(root / "old.enc", root / "new.enc", nothing);
        Measured whole = Whole(root / "new.enc");
        Measured xdelta = Xdelta(root / "old.enc", root / "new.enc", root / "x.vcdiff");
        std::printf("%-24s nothing matches: %s, found in %.2f s; build (probes + whole) %.2f s vs plain build %.2f s: "
                    "%.2f; xdelta3 -9 %llu B in %.2f s, zlib -9 %llu B\n",
                    "re-encrypted archive", nothing ? "yes" : "NO", ours.seconds, ours.seconds + whole.seconds,
                    whole.seconds, (ours.seconds + whole.seconds) / whole.seconds, (unsigned long long)xdelta.size,
                    xdelta.seconds, (unsigned long long)whole.size);
    }
    fs::remove_all(root);
    return 0;
}
