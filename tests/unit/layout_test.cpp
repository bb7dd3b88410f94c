// The package layout: what the writer produces, the reader walks back, and every way the
// reader refuses bytes that no package can hold.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "package/byte_stream.h"
#include "package/package_format.h"
#include "package/package_writer.h"
#include "sample_text.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Walked {
    int result = PACKAGE_DAMAGED;  // how the walk ended: PACKAGE_END, or a cause of damage
    int32_t packageSize = 0;
    std::vector<PackageEntry> entries;
    std::vector<uint64_t> times;
    std::vector<Bytes> data;
};

// True when the data is exactly one complete zlib stream with a correct check, which is how
// the extraction tells damaged data apart.
bool InflatesWhole(const Bytes& data)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    Bytes out(65536);
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = (uInt)data.size();
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = (uInt)out.size();
        result = inflate(&stream, Z_NO_FLUSH);
    }
    bool whole = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole;
}

// Walks a whole executable file the way the extraction does.
Walked Walk(const Bytes& file)
{
    Walked walked;
    MemoryStream memory{file.data(), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    if (LocatePackage(&stream, &walked.packageSize) != PACKAGE_ENTRY)
        return walked;
    for (;;) {
        EntryHeader header;
        int result = ReadEntryHeader(&stream, &header);
        if (result != PACKAGE_ENTRY) {
            walked.result = result;
            return walked;
        }
        walked.entries.push_back(header.entry);
        if (IsFolderEntry(&header.entry))
            continue;
        Bytes data(header.entry.compressedSize);
        if (!ReadExactly(&stream, data.data(), data.size()) || !InflatesWhole(data)) {
            walked.result = PACKAGE_DAMAGED;
            return walked;
        }
        walked.times.push_back(header.lastWriteTime);
        walked.data.push_back(data);
    }
}

const Bytes kImage = {'M', 'Z', 0x90, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04};

TEST(PackageLayout, WriterAndReaderAgreeOnEveryField)
{
    std::vector<PackageFileEntry> entries = {
        {"install.env", "TITLEBAR\tDemo\n", 0x01D9A1B2C3D4E5F6ULL, false},
        {"movie\\", "", 0, true},
        {"movie\\op.dat", std::string(1000, 'x'), 132000000000000000ULL, false},
        {"movie\\sub\\", "", 0, true},
        {"empty.bin", "", 1, false},
        {kit::kOmote + "\\" + kit::kSo + ".txt", "soso", 2, false},
    };
    Bytes file = BuildPackageFile(kImage, entries);
    Walked walked = Walk(file);

    ASSERT_EQ(walked.result, PACKAGE_END);
    ASSERT_EQ(walked.entries.size(), entries.size());
    EXPECT_EQ(walked.packageSize, (int32_t)(file.size() - 4 - kImage.size()));
    size_t file_index = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry& got = walked.entries[i];
        EXPECT_EQ(std::string(got.name), entries[i].name);
        EXPECT_EQ(got.nameLength, (int)entries[i].name.size() + 1);
        EXPECT_EQ(IsFolderEntry(&got), entries[i].folder);
        if (entries[i].folder)
            continue;
        EXPECT_EQ(got.originalSize, (int32_t)entries[i].contents.size());
        EXPECT_EQ(walked.times[file_index], entries[i].lastWriteTime);
        const Bytes& data = walked.data[file_index];
        ASSERT_GE(data.size(), 2u);
        EXPECT_EQ(data[0], 0x78) << "every stream starts with a zlib header";
        ++file_index;
    }
}

TEST(PackageLayout, EndMarkerAloneIsAnEmptyPackage)
{
    Bytes file = BuildPackageFile(kImage, {});
    EXPECT_EQ(file.size(), kImage.size() + 8);
    Walked walked = Walk(file);
    EXPECT_EQ(walked.result, PACKAGE_END);
    EXPECT_TRUE(walked.entries.empty());
    EXPECT_EQ(walked.packageSize, 4);
}

TEST(PackageLayout, TrailerComesFromTheLastFourBytesWhateverPrecedesThem)
{
    // Image, one folder entry, end marker, then junk where the padding stands, then the trailer.
    Bytes file = kImage;
    PackageWriter writer([&file](const unsigned char* data, size_t size) { file.insert(file.end(), data, data + size); },
                         (uint32_t)kImage.size());
    writer.AddFolder("a\\");
    writer.Finish(13);
    // The padding region is never read: fill it with bytes that would look like an entry.
    size_t trailer = file.size() - 4;
    for (size_t i = trailer - 15; i < trailer; ++i)
        file[i] = 0x41;
    file[trailer - 17] = 0;  // keep the end marker
    file[trailer - 16] = 0;
    Walked walked = Walk(file);
    EXPECT_EQ(walked.result, PACKAGE_END);
    ASSERT_EQ(walked.entries.size(), 1u);
    EXPECT_STREQ(walked.entries[0].name, "a\\");
    EXPECT_EQ(walked.packageSize, (int32_t)(trailer - kImage.size()));
}

TEST(PackageLayout, FolderEntriesIgnoreTheirCompressedSize)
{
    Bytes file = kImage;
    const unsigned char folder[] = {3, 0, 'd', '\\', 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xBE, 0xAD, 0xDE};
    file.insert(file.end(), folder, folder + sizeof folder);
    const unsigned char end[] = {0, 0, 0, 0, (unsigned char)kImage.size(), 0, 0, 0};
    file.insert(file.end(), end, end + sizeof end);
    Walked walked = Walk(file);
    EXPECT_EQ(walked.result, PACKAGE_END);
    ASSERT_EQ(walked.entries.size(), 1u);
    EXPECT_TRUE(IsFolderEntry(&walked.entries[0]));
}

TEST(PackageLayout, EveryTruncationIsDamage)
{
    Bytes file = BuildPackageFile(kImage, {{"a.txt", "hello", 7, false}, {"d\\", "", 0, true}});
    Bytes package(file.begin() + (long)kImage.size(), file.end() - 4);
    // Cut the package anywhere before its end marker is complete and put a valid trailer back.
    for (size_t keep = 0; keep + 2 <= package.size() - 2; ++keep) {
        Bytes cut = kImage;
        cut.insert(cut.end(), package.begin(), package.begin() + (long)keep);
        const unsigned char trailer[] = {(unsigned char)kImage.size(), 0, 0, 0};
        cut.insert(cut.end(), trailer, trailer + 4);
        EXPECT_LT(Walk(cut).result, 0) << "package cut to " << keep << " bytes";
    }
}

TEST(PackageLayout, MissingEndMarkerIsDamage)
{
    Bytes file = BuildPackageFile(kImage, {{"a.txt", "hello", 7, false}});
    // Drop the end marker and padding, keep the trailer.
    file.erase(file.end() - 8, file.end() - 4);
    EXPECT_EQ(Walk(file).result, PACKAGE_NO_HEADER);
}

TEST(PackageLayout, RefusesFieldsNoPackageCanHold)
{
    struct Case {
        const char* what;
        Bytes entry;
        int cause;
    };
    std::string longName(260, 'n');  // 261 bytes with its terminator
    Bytes tooLong = {5, 1};          // nameLength 261
    tooLong.insert(tooLong.end(), longName.begin(), longName.end());
    tooLong.push_back(0);
    const Case cases[] = {
        {"nameLength above 260", tooLong, PACKAGE_NAME_TOO_LONG},
        {"name without its terminator", {3, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0}, PACKAGE_NAME_UNTERMINATED},
        {"originalSize of 2^31 or more", {2, 0, 'a', 0, 0, 0, 0, 0x80, 1, 0, 0, 0}, PACKAGE_SIZE_TOO_LARGE},
        {"compressedSize of 2^31 or more", {2, 0, 'a', 0, 1, 0, 0, 0, 0, 0, 0, 0x80}, PACKAGE_SIZE_TOO_LARGE},
        {"the file ends inside the name", {9, 0, 'a', 'b'}, PACKAGE_NAME_CUT_SHORT},
        {"the file ends inside the sizes", {2, 0, 'a', 0, 1, 0}, PACKAGE_SIZES_CUT_SHORT},
        {"the file ends inside the time stamp", {2, 0, 'a', 0, 1, 0, 0, 0, 1, 0, 0, 0}, PACKAGE_TIME_CUT_SHORT},
    };
    // Each entry is followed by the four bytes of an end marker and padding, then the trailer.
    for (const Case& c : cases) {
        Bytes file = kImage;
        file.insert(file.end(), c.entry.begin(), c.entry.end());
        const unsigned char end[] = {0, 0, 0, 0, (unsigned char)kImage.size(), 0, 0, 0};
        file.insert(file.end(), end, end + sizeof end);
        Walked walked = Walk(file);
        EXPECT_EQ(walked.result, c.cause) << c.what;
        EXPECT_TRUE(walked.entries.empty()) << c.what;
    }
}

TEST(PackageLayout, NameOfExactly260BytesIsAccepted)
{
    std::string name(259, 'n');
    Bytes file = BuildPackageFile(kImage, {{name, "", 0, false}});
    Walked walked = Walk(file);
    EXPECT_EQ(walked.result, PACKAGE_END);
    ASSERT_EQ(walked.entries.size(), 1u);
    EXPECT_EQ(walked.entries[0].nameLength, 260);
}

TEST(PackageLayout, TrailerPointingOutsideTheFileIsDamage)
{
    for (uint32_t offset : {20u, 0xFFFFFFFFu, 0x80000000u}) {
        Bytes file = {1, 2, 3, 4, 5, 6, 7, 8};
        SetUi32(&file[4], offset);
        MemoryStream memory{file.data(), file.size(), 0};
        ByteStream stream = MemoryByteStream(&memory);
        int32_t size = 0;
        EXPECT_EQ(LocatePackage(&stream, &size), PACKAGE_DAMAGED) << offset;
    }
    Bytes tiny = {1, 2, 3};
    MemoryStream memory{tiny.data(), tiny.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t size = 0;
    EXPECT_EQ(LocatePackage(&stream, &size), PACKAGE_DAMAGED) << "a file shorter than a trailer";
}

TEST(PackageLayout, SkippingPassesOverTimeAndData)
{
    Bytes file = BuildPackageFile(kImage, {{"big.bin", std::string(5000, 'q'), 9, false}, {"next.txt", "n", 1, false}});
    MemoryStream memory{file.data(), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t size = 0;
    ASSERT_EQ(LocatePackage(&stream, &size), PACKAGE_ENTRY);
    EntryHeader header;
    ASSERT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_ENTRY);
    EXPECT_EQ(EntryHeaderSize(&header.entry), 8 + 10);
    EXPECT_EQ(header.lastWriteTime, 9u);
    ASSERT_EQ(SkipPackageData(&stream, &header.entry), PACKAGE_ENTRY);
    ASSERT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_ENTRY);
    EXPECT_STREQ(header.entry.name, "next.txt");
}

TEST(PackageLayout, SkippingPastTheTrailerIsDamage)
{
    Bytes file = BuildPackageFile(kImage, {{"big.bin", std::string(5000, 'q'), 9, false}});
    // Claim more data than the package holds.
    SetUi32(&file[kImage.size() + 2 + 8 + 4], 100000);
    MemoryStream memory{file.data(), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t size = 0;
    ASSERT_EQ(LocatePackage(&stream, &size), PACKAGE_ENTRY);
    EntryHeader header;
    ASSERT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_ENTRY);
    EXPECT_EQ(SkipPackageData(&stream, &header.entry), PACKAGE_DAMAGED);
}

}  // namespace

namespace {

// A minimal PE32 image whose security directory can be set; nothing else of it is read.
Bytes PeImage()
{
    Bytes image(0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    SetUi32(&image[0x3C], 0x40);
    image[0x40] = 'P';
    image[0x41] = 'E';
    SetUi16(&image[0x40 + 20], 224);     // SizeOfOptionalHeader
    SetUi16(&image[0x40 + 24], 0x10B);   // PE32
    SetUi32(&image[0x40 + 24 + 92], 16); // NumberOfRvaAndSizes
    return image;
}

void SetSecurityDirectory(Bytes& file, uint32_t offset, uint32_t size)
{
    SetUi32(&file[0x40 + 24 + 96 + 4 * 8], offset);
    SetUi32(&file[0x40 + 24 + 96 + 4 * 8 + 4], size);
}

TEST(SignedPackage, TrailerStandsBeforeACertificateTableThatEndsTheFile)
{
    Bytes file = BuildPackageFile(PeImage(), {{"install.env", "TITLEBAR\tx\n", 5, false}});
    uint32_t table = (uint32_t)file.size();
    Bytes certificate(24, 0xC5);
    file.insert(file.end(), certificate.begin(), certificate.end());
    SetSecurityDirectory(file, table, (uint32_t)certificate.size());

    Walked walked = Walk(file);
    EXPECT_EQ(walked.result, PACKAGE_END);
    ASSERT_EQ(walked.entries.size(), 1u);
    EXPECT_STREQ(walked.entries[0].name, "install.env");
    EXPECT_EQ(walked.packageSize, (int32_t)(table - 4 - PeImage().size()));
}

TEST(SignedPackage, OtherwiseTheLastFourBytesAreTheTrailer)
{
    Bytes unsigned_file = BuildPackageFile(PeImage(), {{"a.txt", "a", 1, false}});
    EXPECT_EQ(Walk(unsigned_file).result, PACKAGE_END) << "no security directory";

    Bytes not_at_end = unsigned_file;
    SetSecurityDirectory(not_at_end, 0x100, 0x20);  // a table that does not end the file
    EXPECT_EQ(Walk(not_at_end).result, PACKAGE_END);

    Bytes past_end = unsigned_file;
    SetSecurityDirectory(past_end, (uint32_t)past_end.size() - 8, 0x7FFFFFFF);
    EXPECT_EQ(Walk(past_end).result, PACKAGE_END);

    Bytes no_image = BuildPackageFile({'x', 'y'}, {{"a.txt", "a", 1, false}});
    EXPECT_EQ(Walk(no_image).result, PACKAGE_END) << "not an executable at all";
}

}  // namespace
