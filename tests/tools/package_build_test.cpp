// The builder holds a bounded amount of each compressed file in memory and keeps the rest in a
// temporary file; what it writes is the same bytes either way.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "build/package_build.h"
#include "package/package_writer.h"
#include "pseudo_random.h"
#include "tool_kit.h"

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

std::string Collect(ZlibStream& stream)
{
    std::string out;
    std::string error;
    EXPECT_TRUE(stream.CopyTo([&](const unsigned char* data, size_t size) { out.append((const char*)data, size); }, error))
        << error;
    return out;
}

TEST(ZlibStream, KeepsWhatPassesItsLimitInATemporaryFile)
{
    const std::string data = kit::RandomBytes(10000, 7);
    for (size_t limit : {size_t(0), size_t(1), size_t(4096), size_t(9999), size_t(10000), size_t(1) << 20}) {
        SCOPED_TRACE(limit);
        ZlibStream stream(limit);
        std::string error;
        // Pieces of uneven sizes, so the limit falls inside one of them.
        for (size_t at = 0; at < data.size(); at += 777)
            ASSERT_TRUE(stream.Append((const unsigned char*)data.data() + at, std::min<size_t>(777, data.size() - at), error))
                << error;
        EXPECT_EQ(stream.Size(), data.size());
        EXPECT_EQ(stream.Spilled(), limit < data.size());
        EXPECT_EQ(Collect(stream), data);
        // A moved stream still owns the file.
        ZlibStream moved = std::move(stream);
        EXPECT_EQ(Collect(moved), data);
    }
}

TEST(ZlibStream, ALargeFileIsTheSameStreamWhereverItWasKept)
{
    Scratch scratch;
    const std::string contents = kit::RandomBytes(600 * 1024, 3) + std::string(200 * 1024, 'a');
    Write(scratch.Path() / "big.dat", contents);
    std::vector<unsigned char> expected = DeflateZlib(contents, 9);
    for (size_t limit : {size_t(4096), ZlibStream::kDefaultMemoryLimit}) {
        ZlibStream stream(limit);
        uint64_t originalSize = 0;
        std::string error;
        ASSERT_TRUE(CompressFile(scratch.Path() / "big.dat", 9, stream, originalSize, error)) << error;
        EXPECT_EQ(originalSize, contents.size());
        EXPECT_EQ(stream.Spilled(), limit == 4096);
        EXPECT_EQ(Collect(stream), std::string(expected.begin(), expected.end()));
    }
}

TEST(WriteUpdate, SameBytesWhateverIsHeldInMemory)
{
    Scratch scratch;
    Write(scratch.Path() / "big.dat", kit::RandomBytes(300 * 1024, 5));
    Write(scratch.Path() / "small.dat", "small");
    std::vector<PlannedEntry> entries(4);
    entries[0].name = "data\\";
    entries[0].folder = true;
    entries[1].name = "data\\big.dat";
    entries[1].source = scratch.Path() / "big.dat";
    entries[1].size = 300 * 1024;
    entries[1].lastWriteTime = 1234;
    entries[2].name = "small.dat";
    entries[2].source = scratch.Path() / "small.dat";
    entries[2].size = 5;
    entries[3].name = "install.env";
    entries[3].generated = true;
    entries[3].contents = std::string(70 * 1024, 'x');
    entries[3].size = entries[3].contents.size();

    std::vector<std::string> outputs;
    for (size_t limit : {size_t(1024), ZlibStream::kDefaultMemoryLimit}) {
        for (int jobs : {1, 3}) {
            fs::path path = scratch.Path() / ("out" + std::to_string(outputs.size()) + ".exe");
            std::FILE* file = std::fopen(path.string().c_str(), "wb");
            ASSERT_NE(file, nullptr);
            BuildOptions options;
            options.jobs = jobs;
            options.memoryPerStream = limit;
            BuildResult result;
            std::string error;
            EXPECT_TRUE(WriteUpdate("MZ stub", entries, options, file, result, error)) << error;
            std::fclose(file);
            EXPECT_EQ(result.files, 3);
            outputs.push_back(Read(path));
        }
    }
    for (const std::string& output : outputs)
        EXPECT_EQ(output, outputs[0]);
    EXPECT_GT(outputs[0].size(), (size_t)300 * 1024);
}

}  // namespace
