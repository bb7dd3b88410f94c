#include "package/entry_names.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "package/package_writer.h"
#include "sample_text.h"

namespace {

using kit::kFullWidthT;
using kit::kFullWidthTLower;
using kit::kOmote;
using kit::kSo;

PackageEntry Entry(const std::string& name, bool folder)
{
    PackageEntry entry{};
    snprintf(entry.name, sizeof entry.name, "%s", name.c_str());
    entry.nameLength = (int)name.size() + 1;
    entry.originalSize = folder ? PACKAGE_FOLDER_SIZE : 10;
    return entry;
}

// The entry as the updater's passes meet it: written into a package and read back with
// ReadEntryHeader, which judges the name.
EntryHeader Header(const std::string& name, bool folder)
{
    const std::vector<unsigned char> image(100, 0xEE);
    std::vector<unsigned char> file = BuildPackageFile(image, {{name, "0123456789", 0, folder}});
    MemoryStream memory{file.data(), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    int32_t size = 0;
    EntryHeader header{};
    EXPECT_EQ(LocatePackage(&stream, &size), PACKAGE_ENTRY);
    EXPECT_EQ(ReadEntryHeader(&stream, &header), PACKAGE_ENTRY) << name;
    return header;
}

TEST(IsSetupFileName, MarkerAnywhereCaseIgnored)
{
    struct Case {
        std::string name;
        bool setup;
    } cases[] = {
        {"install.env", true},      {"INSTALL.ENV", true},      {"install.env.old", true},
        {"insttscr.rct", true},     {"InstTscr.RCT", true},     {"README.TXT", true},
        {"notes.txt.bak", true},    {"data\\readme.txt", true}, {"payload.dat", false},
        {"install.en", false},      {"txt", false},             {"insttscr.png", false},
        // ソtxt: the bytes 0x5C 't' 'x' 't' are there, but no '.' at all.
        {kSo + "txt", false},
        // 0x83 0x69 is one katakana, so "install.env" does not begin on a boundary.
        {"\x83" "install.env", false},
        {"\x83" "Xinstall.env", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSetupFileName(c.name.c_str()), c.setup) << c.name;
}

TEST(SetupPassStep, FoldersAndFiles)
{
    struct Case {
        std::string name;
        bool folder;
        int step;
    } cases[] = {
        {"movie\\", true, SETUP_SKIP},
        {kOmote + "\\", true, SETUP_SKIP},          // top level: the 0x5C inside 表 is no separator
        {"movie\\sub\\", true, SETUP_END},
        {kOmote + "\\" + kSo + "\\", true, SETUP_END},
        {"oddfolder", true, SETUP_SKIP},            // no separator at all: nothing to create
        {"install.env", false, SETUP_EXTRACT},
        {"movie\\op.dat", false, SETUP_SKIP},
        {"movie\\readme.txt", false, SETUP_EXTRACT},  // the pass then fails to create it
    };
    for (const Case& c : cases) {
        PackageEntry entry = Entry(c.name, c.folder);
        EXPECT_EQ(SetupPassStep(&entry), c.step) << c.name;
    }
}

TEST(IsSafeEntryName, RefusesNamesThatLeaveTheFolder)
{
    struct Case {
        std::string name;
        bool safe;
    } cases[] = {
        {"a.dat", true},
        {"movie\\op.dat", true},
        {"movie\\", true},
        {kOmote + "\\" + kSo + ".txt", true},
        {"..a\\b..c\\.c", true},     // dots inside a name are fine
        {"C:\\Windows\\x.dll", false},
        {"C:x.dll", false},
        {"a.dat:stream", false},
        {"\\Windows\\x.dll", false},
        {"/etc/x", false},
        {"..\\x.dll", false},
        {"movie\\..\\..\\x.dll", false},
        {"movie\\..", false},
        {"movie/../x.dll", false},
        {"... \\x.dll", false},       // Windows trims the dots and spaces into ".."
        {kOmote + "\\..\\x", false},  // the 0x5C inside 表 does not hide the separator after it
    };
    for (const Case& c : cases) {
        bool folder = !c.name.empty() && c.name.back() == '\\';
        EntryHeader header = Header(c.name, folder);
        EXPECT_EQ(IsSafeEntryName("C:\\Game", &header), c.safe) << c.name;
    }
}

// The updater writes what Windows would write under another name, or not at all, as damage.
TEST(IsSafeEntryName, RefusesNamesWindowsWouldChange)
{
    const char* const refused[] = {"game.dat.", "game.dat ", "evil\x81", "CON", "aux.dat", "a*b.dat",
                                   "movie\\nul.txt\\", "a\x1b[31m.dat", "sub\\\\x.dat"};
    for (const char* name : refused) {
        bool folder = name[strlen(name) - 1] == '\\';
        EntryHeader header = Header(name, folder);
        EXPECT_FALSE(IsSafeEntryName("C:\\Game", &header)) << name;
    }
    EntryHeader fileWithSeparator = Header("movie\\", false), folderWithout = Header("movie", true);
    EXPECT_FALSE(IsSafeEntryName("C:\\Game", &fileWithSeparator));
    EXPECT_FALSE(IsSafeEntryName("C:\\Game", &folderWithout));
}

TEST(IsSafeEntryName, DestinationPathLimit)
{
    // folder + backslash + name: 259 bytes fit, 260 do not.
    std::string folder = "C:\\" + std::string(206, 'f');  // 209 bytes
    EntryHeader fits = Header(std::string(49, 'n'), false), tooLong = Header(std::string(50, 'n'), false);
    EXPECT_TRUE(IsSafeEntryName(folder.c_str(), &fits));
    EXPECT_FALSE(IsSafeEntryName(folder.c_str(), &tooLong));
    // A short name still needs room for the working folder it waits in: 237 + 22 = 259.
    EntryHeader shortName = Header("n", false);
    EXPECT_TRUE(IsSafeEntryName(("C:\\" + std::string(234, 'f')).c_str(), &shortName));
    EXPECT_FALSE(IsSafeEntryName(("C:\\" + std::string(235, 'f')).c_str(), &shortName));
}

// Names Windows takes for one get one key: case ignored, a folder's trailing backslash left out,
// a double-byte character lower-cased whole and never split.
TEST(EntryNameKey, OneKeyForWhatWindowsTakesAsOneName)
{
    const struct {
        const char* name;
        bool folder;
        const char* key;
    } cases[] = {
        {"Data\\", true, "data"},
        {"data", false, "data"},
        {"Movie\\OP.DAT", false, "movie\\op.dat"},
        {"\x82\x60.dat", false, "\x82\x81.dat"},    // full-width A
        {"\x95\x5C\\", true, "\x95\x5C"},         // a folder whose name ends in a 0x5C trail byte
        {"\x84\x5C\\", true, "\x84\x8D"},         // a Cyrillic capital with a 0x5C trail byte
        {"\x93\xFA\\", true, "\x93\xFA"},         // 日: its trail byte could be a lead byte
    };
    for (const auto& c : cases) {
        char key[PATH_BUFFER_SIZE];
        EntryNameKey(c.name, c.folder, key, sizeof key);
        EXPECT_STREQ(key, c.key) << c.name;
    }
}

// The updater writes an entry when its path keeps to 259 bytes and its folder leaves room for a
// file waiting in a working folder there ("\\~updXXXX.tmp\\" and up to eight hexadecimal digits):
// the folder's length + 22 <= 259.
TEST(PackageEntryNames, LongestInstallFolderCountsThePathAndTheTemporaryName)
{
    const std::string a100(100, 'a');
    const int room = 1 + 12 + 1 + 8;
    struct {
        const char* label;
        std::string name;
        bool folder;
        int longest;
    } cases[] = {
        {"a short top-level file: the temporary name decides", "x.dat", false, 259 - room},
        {"a long top-level file: its own length decides", a100, false, 259 - 101},
        {"a file in a folder, temporary name", "d\\x", false, 259 - (2 + room)},
        {"a long file in a folder", "d\\" + a100, false, 259 - 103},
        {"a folder receives files: its own length and the temporary name", "d\\e\\", true, 259 - (4 + room)},
        {"a name of 254 bytes fits a one-byte folder", std::string(254, 'n'), false, 4},
        {"a name of 255 bytes leaves no room for a drive", std::string(255, 'n'), false, 3},
        // ソ ends in 0x5C, which is no separator: the file lies at the top level.
        {"a trail byte 0x5C is no separator", kSo + std::string(200, 'n'), false, 259 - 203},
        {"a folder named without its backslash, ending in a trail byte 0x5C", kSo + "\\" + kSo, true, 259 - (6 + room)},
        {"a folder's own backslash is left out", kSo + "\\" + kSo + "\\", true, 259 - (6 + room)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LongestInstallFolder(c.name.c_str(), c.folder), c.longest) << c.label;
}

}  // namespace
