#include "package/package_walk.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "package/package_writer.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kImage(100, 0xEE);

// Removes `count` bytes in front of the trailer (the end marker and padding first).
Bytes DropBeforeTrailer(Bytes file, size_t count)
{
    Bytes trailer(file.end() - 4, file.end());
    file.resize(file.size() - 4 - count);
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

struct Walked {
    bool ok;
    PackageProblem problem;
    std::vector<std::string> names;
    std::vector<std::string> contents;
    std::vector<uint64_t> times;
};

Walked Walk(const Bytes& file, bool checkRules = true, std::function<int(const WalkedEntry&)> begin = nullptr)
{
    MemoryStream memory{file.data(), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    Walked result{};
    PackageWalk walk;
    walk.inflateAll = true;
    walk.checkRules = checkRules;
    walk.begin = [&](const WalkedEntry& e) {
        result.names.push_back(e.entry.name);
        result.contents.emplace_back();
        result.times.push_back(e.lastWriteTime);
        return begin ? begin(e) : WALK_TAKE;
    };
    walk.data = [&](const WalkedEntry&, const unsigned char* data, size_t size) {
        result.contents.back().append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    result.ok = WalkPackage(&stream, walk, nullptr, &result.problem);
    return result;
}

TEST(WalkPackage, ReadsEveryEntryOfASoundPackage)
{
    std::string big(BLOCK_SIZE * 5 / 2, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = (char)(i * 7 % 251);
    Bytes file = BuildPackageFile(kImage, {{"install.env", "TITLE=x\r\n", 111},
                                           {"empty.txt", "", 222},
                                           {"movie\\", "", 0, true},
                                           {"movie\\sub\\", "", 0, true},
                                           {"movie\\sub\\big.dat", big, 333}});
    Walked walked = Walk(file);
    ASSERT_TRUE(walked.ok) << walked.problem.text;
    EXPECT_EQ(walked.names, (std::vector<std::string>{"install.env", "empty.txt", "movie\\", "movie\\sub\\",
                                                       "movie\\sub\\big.dat"}));
    EXPECT_EQ(walked.contents[0], "TITLE=x\r\n");
    EXPECT_EQ(walked.contents[1], "");
    EXPECT_EQ(walked.contents[4], big);
    EXPECT_EQ(walked.times[4], 333u);
}

TEST(WalkPackage, EndMarkerAloneAndPaddingBeforeTrailer)
{
    std::vector<unsigned char> file(kImage);
    PackageWriter writer([&](const unsigned char* d, size_t n) { file.insert(file.end(), d, d + n); },
                         (uint32_t)kImage.size());
    writer.Finish(7);  // whatever lies between the end marker and the trailer is never read
    Walked walked = Walk(file);
    EXPECT_TRUE(walked.ok) << walked.problem.text;
    EXPECT_TRUE(walked.names.empty());
}

TEST(WalkPackage, StopEndsTheWalkBeforeLaterDamage)
{
    // The end marker and part of b.dat are gone.
    Bytes file = DropBeforeTrailer(BuildPackageFile(kImage, {{"a.txt", "a", 1}, {"b.dat", "b", 2}}), 8);
    Walked walked = Walk(file, true, [](const WalkedEntry& e) {
        return std::string(e.entry.name) == "b.dat" ? WALK_STOP : WALK_TAKE;
    });
    EXPECT_TRUE(walked.ok);
}

// One package per way the reader or the rules refuse input; each names the offset of the
// entry or byte where the updater would meet the problem.
struct DamageCase {
    const char* label;
    std::function<Bytes()> make;
    std::string textPart;
    int64_t offset;  // -1: not checked
    int64_t offsetMax = -1;  // when set: the offset lies anywhere from `offset` to here
};

// A package whose single file entry carries the given zlib bytes and sizes.
Bytes RawFile(const std::string& name, int32_t originalSize, const Bytes& zlib, uint32_t compressedSize)
{
    Bytes file(kImage);
    unsigned char field[8];
    SetUi16(field, (uint16_t)(name.size() + 1));
    file.insert(file.end(), field, field + 2);
    file.insert(file.end(), name.begin(), name.end());
    file.push_back(0);
    SetUi32(field, (uint32_t)originalSize);
    file.insert(file.end(), field, field + 4);
    SetUi32(field, compressedSize);
    file.insert(file.end(), field, field + 4);
    SetUi64(field, 0);
    file.insert(file.end(), field, field + 8);
    file.insert(file.end(), zlib.begin(), zlib.end());
    file.insert(file.end(), {0, 0, 0, 0});
    SetUi32(field, (uint32_t)kImage.size());
    file.insert(file.end(), field, field + 4);
    return file;
}

// A package of the given bytes where the entries belong, and the trailer: no end marker.
Bytes Headed(const Bytes& bytes)
{
    Bytes file(kImage);
    file.insert(file.end(), bytes.begin(), bytes.end());
    unsigned char field[4];
    SetUi32(field, (uint32_t)kImage.size());
    file.insert(file.end(), field, field + 4);
    return file;
}

const std::vector<DamageCase>& DamageCases()
{
    static const std::vector<DamageCase> cases = {
        {"truncated data",
         [] { return DropBeforeTrailer(BuildPackageFile(kImage, {{"a.dat", std::string(5000, 'x') + "tail", 0}}), 4 + 6); },
         "ends inside", -1},
        {"wrong Adler-32",
         [] {
             Bytes z = DeflateZlib("hello hello hello");
             z.back() ^= 1;
             return RawFile("a.dat", 17, z, (uint32_t)z.size());
         },
         "incorrect data check", 100 + 2 + 6 + 8 + 8, 100 + 2 + 6 + 8 + 8 + 64},
        {"compressedSize 0", [] { return RawFile("a.dat", 0, {}, 0); }, "compressedSize is 0", -1},
        {"compressedSize too large",
         [] {
             Bytes z = DeflateZlib("abc");
             z.push_back(0);
             return RawFile("a.dat", 3, z, (uint32_t)z.size());
         },
         "ends 1 bytes before", -1},
        {"stream cut within compressedSize",
         [] {
             Bytes z = DeflateZlib(std::string(3000, 'q'));
             z.resize(z.size() - 3);
             return RawFile("a.dat", 3000, z, (uint32_t)z.size());
         },
         "does not end within", -1},
        {"missing end marker",
         [] {
             Bytes f = BuildPackageFile(kImage, {{"a.dat", "x", 0}});
             f.erase(f.end() - 8, f.end() - 4);  // end marker and padding gone
             return f;
         },
         "end marker should begin", -1},
        {"nameLength above 260",
         [] { return RawFile(std::string(260, 'n'), 1, DeflateZlib("x"), (uint32_t)DeflateZlib("x").size()); },
         "above 260", 100},
        {"name without terminator",
         [] {
             Bytes f = RawFile("abc", 1, DeflateZlib("x"), (uint32_t)DeflateZlib("x").size());
             f[100 + 2 + 3] = 'd';
             return f;
         },
         "terminating zero", 100},
        {"file ends inside a name", [] { return Headed({10, 0, 'a', 'b'}); }, "ends inside this entry's name", 100},
        {"file ends inside the sizes", [] { return Headed({2, 0, 'a', 0, 1, 0, 0, 0, 1}); },
         "ends inside this entry's originalSize or compressedSize", 100},
        {"originalSize of 2 GiB",
         [] { return RawFile("a.dat", INT32_MIN, DeflateZlib("x"), (uint32_t)DeflateZlib("x").size()); },
         "originalSize is 2 GiB or more", 100},
        {"compressedSize of 2 GiB", [] { return RawFile("a.dat", 1, DeflateZlib("x"), 0x80000000u); },
         "compressedSize is 2 GiB or more", 100},
        {"file ends inside a time stamp", [] { return Headed({2, 0, 'a', 0, 1, 0, 0, 0, 9, 0, 0, 0, 1, 2, 3}); },
         "ends inside this entry's time stamp", 100},
        {"trailer outside the file", [] { return Bytes{1, 2, 3, 0xFF, 0xFF, 0, 0}; }, "trailer", 0},
        {"drive in a name", [] { return BuildPackageFile(kImage, {{"C:\\x.dll", "x", 0}}); }, "leaves the destination", 100},
        {"dot-dot in a name", [] { return BuildPackageFile(kImage, {{"..\\x.dll", "x", 0}}); }, "leaves the destination", 100},
        {"leading backslash",
         [] { return BuildPackageFile(kImage, {{"\\x.dll", "x", 0}}); }, "leaves the destination", 100},
        {"file before its folder",
         [] { return BuildPackageFile(kImage, {{"a\\", "", 0, true}, {"a\\b\\c.dat", "x", 0}, {"a\\b\\", "", 0, true}}); },
         "before the entry of its folder", 100 + 13},
        {"folder without backslash",
         [] { return BuildPackageFile(kImage, {{"movie", "", 0, true}}); }, "does not end with a backslash", 100},
        {"setup file inside a folder",
         [] { return BuildPackageFile(kImage, {{"doc\\", "", 0, true}, {"doc\\readme.txt", "x", 0}}); },
         "setup file inside a folder", 100 + 2 + 5 + 8},
        {"originalSize differs",
         [] { return RawFile("a.dat", 4, DeflateZlib("abc"), (uint32_t)DeflateZlib("abc").size()); },
         "differs from the inflated length 3", 100},
    };
    return cases;
}

TEST(WalkPackage, ReportsEveryKindOfDamageWithItsOffset)
{
    for (const DamageCase& c : DamageCases()) {
        Walked walked = Walk(c.make());
        EXPECT_FALSE(walked.ok) << c.label;
        EXPECT_NE(walked.problem.text.find(c.textPart), std::string::npos)
            << c.label << ": " << walked.problem.text;
        if (c.offsetMax >= 0) {
            EXPECT_GE(walked.problem.offset, c.offset) << c.label;
            EXPECT_LE(walked.problem.offset, c.offsetMax) << c.label;
        } else if (c.offset >= 0) {
            EXPECT_EQ(walked.problem.offset, c.offset) << c.label;
        }
    }
}

TEST(WalkPackage, RulesAreOnlyCheckedWhenAsked)
{
    // The updater extracts a setup file inside a folder in its full pass; only the rules object.
    Bytes file = BuildPackageFile(kImage, {{"doc\\", "", 0, true}, {"doc\\readme.txt", "x", 0}});
    EXPECT_TRUE(Walk(file, false).ok);
    EXPECT_FALSE(Walk(file, true).ok);
}

TEST(WalkPackage, SetupFileAfterTheFirstNestedFolderIsFine)
{
    Bytes file = BuildPackageFile(kImage, {{"doc\\", "", 0, true},
                                           {"doc\\sub\\", "", 0, true},
                                           {"doc\\readme.txt", "x", 0},
                                           {"DOC\\SUB\\notes.txt", "y", 0}});
    Walked walked = Walk(file);
    EXPECT_TRUE(walked.ok) << walked.problem.text;
}

}  // namespace
