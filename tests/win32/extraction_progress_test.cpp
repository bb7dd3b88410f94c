// The progress arithmetic of a real full pass, recorded call by call: this program brings its
// own progress window functions, so the linker takes them instead of the real window's and
// every call the pass makes is written down with its arguments.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "extraction/extraction.h"
#include "package/package_writer.h"
#include "scratch.h"
#include "ui/progress_window.h"
#include "text/buffer_sizes.h"

namespace {

const int kUnit = BLOCK_SIZE;  // the extraction's block: the unit of both progress bars
const uint64_t kTime = 0x01D8A1B2C3D4E5F0ull;
HWND const kWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));

struct Call {
    std::string what;  // open, begin, report, end, close
    std::string path;
    int first = 0;   // open: package size; begin: originalSize; report: bytes written
    int second = 0;  // report: consumed count
    bool operator==(const Call& other) const
    {
        return what == other.what && path == other.path && first == other.first && second == other.second;
    }
};

std::ostream& operator<<(std::ostream& out, const Call& call)
{
    return out << call.what << "(" << call.path << ", " << call.first << ", " << call.second << ")";
}

std::vector<Call> calls;
bool foreignWindow;

}  // namespace

HWND OpenProgressWindow(int packageSize)
{
    calls.push_back({"open", "", packageSize, 0});
    return kWindow;
}

void CloseProgressWindow(void)
{
    calls.push_back({"close", "", 0, 0});
}

void BeginFileProgress(HWND window, const char* destinationPath, int originalSize)
{
    foreignWindow |= window != kWindow;
    calls.push_back({"begin", destinationPath, originalSize, 0});
}

void ReportProgress(HWND window, int bytesWritten, int consumedCount)
{
    foreignWindow |= window != kWindow;
    calls.push_back({"report", "", bytesWritten, consumedCount});
}

void EndFileProgress(HWND window)
{
    foreignWindow |= window != kWindow;
    calls.push_back({"end", "", 0, 0});
}

namespace {

struct FileCase {
    const char* label;
    std::string name;
    int originalSize;  // as the entry states it
    int streamSize;    // what its zlib stream inflates to
    std::vector<int> reports;  // bytes written at each report, in order
};

TEST(FullPassProgress, EveryCallOfAPassWithItsArithmetic)
{
    const FileCase files[] = {
        {"exactly two units: no tail report", "two.dat", 2 * kUnit, 2 * kUnit, {kUnit, 2 * kUnit}},
        {"empty: no report at all", "empty.dat", 0, 0, {}},
        {"two and a half units", "sub\\half.dat", 5 * kUnit / 2, 5 * kUnit / 2, {kUnit, 2 * kUnit, 5 * kUnit / 2}},
        {"originalSize smaller than the stream", "short.dat", 7, kUnit + 5, {kUnit, kUnit + 5}},
    };
    ScratchFolder scratch;
    const std::string target = scratch / "game";
    CreateDirectoryA(target.c_str(), nullptr);

    // The package, and what each file's calls must be. Every stream fits one input block, so
    // the whole of it is consumed at its first read: each report of a file carries the count
    // up to the end of that file's data.
    const std::string image(100, 'M');
    std::vector<unsigned char> bytes(image.begin(), image.end());
    PackageWriter writer([&](const unsigned char* d, size_t n) { bytes.insert(bytes.end(), d, d + n); },
                         (uint32_t)image.size());
    std::vector<Call> expected;
    int consumed = 0;
    for (const FileCase& file : files) {
        if (file.name.find('\\') != std::string::npos) {
            writer.AddFolder("sub\\");
            consumed += (int)std::string("sub\\").size() + 1 + 10;
        }
        std::vector<unsigned char> stream = DeflateZlib(std::string((size_t)file.streamSize, file.label[0]));
        ASSERT_LT(stream.size(), (size_t)kUnit) << file.label;
        writer.AddFile(file.name, file.originalSize, kTime, stream);
        consumed += (int)file.name.size() + 1 + 10 + 8 + (int)stream.size();
        expected.push_back({"begin", target + "\\" + file.name, file.originalSize, 0});
        for (int written : file.reports)
            expected.push_back({"report", "", written, consumed});
        expected.push_back({"end", "", 0, 0});
    }
    writer.Finish();
    WriteFileBytes(scratch / "update.exe", std::string(bytes.begin(), bytes.end()));
    const int packageSize = (int)(bytes.size() - 4 - image.size());
    expected.insert(expected.begin(), {"open", "", packageSize, 0});
    expected.push_back({"close", "", 0, 0});

    calls.clear();
    foreignWindow = false;
    SetPackageFilePath((scratch / "update.exe").c_str());
    ExtractPackage(target.c_str(), EXTRACT_FULL_PASS);
    SetPackageFilePath(nullptr);

    EXPECT_EQ(calls, expected);
    EXPECT_FALSE(foreignWindow) << "every call gets the window the pass opened";
    // The last file ends with a tail report: by then the whole package but the end marker and
    // its padding has been consumed.
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 3].what, "report");
    EXPECT_EQ(calls[calls.size() - 3].second, packageSize - 4);
    EXPECT_EQ(ReadFileBytes(target + "\\short.dat"), std::string(kUnit + 5, 'o'));
}

}  // namespace
