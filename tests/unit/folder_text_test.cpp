#include "text/folder_text.h"
#include "text/cp932_text.h"

#include <gtest/gtest.h>

#include <string>

#include "sample_text.h"

namespace {

using kit::kOmote;
// ＝ is 0x81 0x81: a lead byte followed by another byte in the lead range.
const std::string kEquals = "\x81\x81";

const FolderTextSettings kPlain = {nullptr, "VUVORI_DIV", 0};
const FolderTextSettings kMakerProduct = {"Maker", "Product", 0};
const FolderTextSettings kMakeMakerProduct = {"Maker", "Product", 1};
const FolderTextSettings kMakeProduct = {nullptr, "Product", 1};

struct ProposalCase {
    const char* name;
    std::string windowsFolder;
    FolderTextSettings settings;
    std::string expected;
};

TEST(FolderProposal, IsTheWindowsDriveRootProgramFilesAndTheProductFolder)
{
    const ProposalCase cases[] = {
        {"defaults", "C:\\WINDOWS", kPlain, "C:\\Program Files\\VUVORI_DIV"},
        {"maker and product", "C:\\WINDOWS", kMakerProduct, "C:\\Program Files\\Maker\\Product"},
        {"other drive", "E:\\Win\\System", kPlain, "E:\\Program Files\\VUVORI_DIV"},
        {"no backslash", "WINDOWS", kPlain, "Program Files\\VUVORI_DIV"},
        {"empty", "", kMakerProduct, "Program Files\\Maker\\Product"},
    };
    for (const ProposalCase& c : cases) {
        char proposal[PATH_BUFFER_SIZE];
        memset(proposal, '#', sizeof proposal);
        EXPECT_EQ(BuildFolderProposal(c.windowsFolder.c_str(), &c.settings, proposal), FOLDER_TEXT_OK) << c.name;
        EXPECT_EQ(std::string(proposal), c.expected) << c.name;
    }
}

TEST(FolderProposal, ThatWouldPass259BytesIsRefusedNotCut)
{
    // Written into an exact 260-byte buffer between guards, so a write past it shows.
    struct Guarded {
        char proposal[PATH_BUFFER_SIZE];
        char guard[16];
    } buffer;
    memset(&buffer, '#', sizeof buffer);

    // "C:\Program Files\" is 17 bytes, so a product folder of 242 bytes just fits.
    const std::string fits(242, 'p');
    FolderTextSettings settings = {nullptr, fits.c_str(), 0};
    EXPECT_EQ(BuildFolderProposal("C:\\WINDOWS", &settings, buffer.proposal), FOLDER_TEXT_OK);
    EXPECT_EQ(strlen(buffer.proposal), 259u);

    const std::string tooLong(243, 'p');
    settings.instTo = tooLong.c_str();
    EXPECT_EQ(BuildFolderProposal("C:\\WINDOWS", &settings, buffer.proposal), FOLDER_TEXT_TOO_LONG);
    EXPECT_STREQ(buffer.proposal, "");

    const std::string maker(127, 'm');
    const std::string product(127, 'q');
    settings = {maker.c_str(), product.c_str(), 0};
    EXPECT_EQ(BuildFolderProposal("C:\\WINDOWS", &settings, buffer.proposal), FOLDER_TEXT_TOO_LONG);
    EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(sizeof buffer.guard, '#'));
}

struct TypedCase {
    const char* name;
    std::string typed;
    FolderTextSettings settings;
    int result;
    std::string expected;  // the text afterwards (as typed when refused)
    bool root;             // EndsWithSeparator of the result
};

class TypedFolderText : public testing::TestWithParam<TypedCase> {};

TEST_P(TypedFolderText, Normalises)
{
    const TypedCase& c = GetParam();
    struct Guarded {
        char text[PATH_BUFFER_SIZE];
        char guard[16];
    } buffer;
    memset(&buffer, '#', sizeof buffer);
    ASSERT_LT(c.typed.size(), sizeof buffer.text);
    memcpy(buffer.text, c.typed.c_str(), c.typed.size() + 1);

    EXPECT_EQ(NormaliseFolderText(buffer.text, "C:\\WINDOWS", &c.settings), c.result);
    EXPECT_EQ(std::string(buffer.text), c.expected);
    EXPECT_EQ(EndsWithSeparator(buffer.text), c.root);
    EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(sizeof buffer.guard, '#'));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TypedFolderText,
    testing::Values(
        TypedCase{"ForwardSlashes", "D:/Games/Product/", kPlain, FOLDER_TEXT_OK, "D:\\Games\\Product", false},
        TypedCase{"Unchanged", "D:\\Games\\Product", kPlain, FOLDER_TEXT_OK, "D:\\Games\\Product", false},
        TypedCase{"OneTrailingBackslashGoes", "D:\\Games\\", kPlain, FOLDER_TEXT_OK, "D:\\Games", false},
        TypedCase{"DriveRelative", "Games\\Product", kPlain, FOLDER_TEXT_OK, "C:\\Games\\Product", false},
        TypedCase{"LeadingBackslash", "\\Games\\Product", kPlain, FOLDER_TEXT_OK, "C:\\Games\\Product", false},
        TypedCase{"DriveWithoutSeparator", "D:Games", kPlain, FOLDER_TEXT_OK, "D:\\Games", false},
        TypedCase{"DriveRoot", "D:\\", kPlain, FOLDER_TEXT_OK, "D:\\", true},
        TypedCase{"DriveLetterOnly", "D:", kPlain, FOLDER_TEXT_OK, "D:\\", true},
        TypedCase{"Empty", "", kPlain, FOLDER_TEXT_OK, "C:\\", true},
        TypedCase{"SingleBackslash", "\\", kPlain, FOLDER_TEXT_OK, "C:\\", true},
        TypedCase{"MakeFolderAppendsMakerAndProduct", "D:\\Games", kMakeMakerProduct, FOLDER_TEXT_OK,
                  "D:\\Games\\Maker\\Product", false},
        TypedCase{"MakeFolderKeepsTextWithProduct", "D:\\Games\\Product", kMakeMakerProduct, FOLDER_TEXT_OK,
                  "D:\\Games\\Product", false},
        TypedCase{"MakeFolderOnRoot", "D:\\", kMakeMakerProduct, FOLDER_TEXT_OK, "D:\\Maker\\Product", false},
        TypedCase{"MakeFolderWithoutMaker", "D:\\Games", kMakeProduct, FOLDER_TEXT_OK, "D:\\Games\\Product", false},
        TypedCase{"MakeFolderIsCaseSensitive", "D:\\product", kMakeProduct, FOLDER_TEXT_OK, "D:\\product\\Product",
                  false},
        TypedCase{"MakeFolderOffKeepsText", "D:\\Games", kMakerProduct, FOLDER_TEXT_OK, "D:\\Games", false},
        TypedCase{"MakeFolderThenDrive", "Games", kMakeProduct, FOLDER_TEXT_OK, "C:\\Games\\Product", false},
        TypedCase{"EmptyWithMakeFolder", "", kMakeMakerProduct, FOLDER_TEXT_OK, "C:\\Maker\\Product", false},
        TypedCase{"OmoteKeepsItsTrailByte", "D:\\" + kOmote + "\\", kPlain, FOLDER_TEXT_OK, "D:\\" + kOmote, false},
        TypedCase{"OmoteAlone", "D:\\" + kOmote, kPlain, FOLDER_TEXT_OK, "D:\\" + kOmote, false},
        TypedCase{"NetworkPath", "\\\\server\\share", kPlain, FOLDER_TEXT_NETWORK, "\\\\server\\share", false},
        TypedCase{"NetworkPathWithSlashes", "//server/share", kPlain, FOLDER_TEXT_NETWORK, "//server/share", false},
        TypedCase{"DoubleBackslashInside", "D:\\Games\\\\Product", kPlain, FOLDER_TEXT_NETWORK, "D:\\Games\\\\Product",
                  false},
        TypedCase{"DoubleBackslashAtTheEnd", "D:\\Games\\\\", kPlain, FOLDER_TEXT_NETWORK, "D:\\Games\\\\", true},
        TypedCase{"OnlyTheFirstPairIsExamined", "D:\\" + kOmote + "\\x\\\\y", kPlain, FOLDER_TEXT_OK,
                  "D:\\" + kOmote + "\\x\\\\y", false},
        TypedCase{"PairAfterADoubleByteLeadRun", "D:\\" + kEquals + "\\\\x", kPlain, FOLDER_TEXT_OK,
                  "D:\\" + kEquals + "\\\\x", false}),
    [](const testing::TestParamInfo<TypedCase>& info) { return std::string(info.param.name); });

TEST(TypedFolderTextLength, AdditionsPast259BytesAreRefusedAndTheTextKept)
{
    struct LengthCase {
        const char* name;
        std::string typed;
        FolderTextSettings settings;
        int result;
        size_t length;  // of the result when accepted
    };
    const std::string relative256(256, 'r');
    const LengthCase cases[] = {
        // Product folder: "\Maker\Product" is 14 bytes.
        {"make folder fits", "D:\\" + std::string(242, 'g'), kMakeMakerProduct, FOLDER_TEXT_OK, 259},
        {"make folder too long", "D:\\" + std::string(243, 'g'), kMakeMakerProduct, FOLDER_TEXT_TOO_LONG, 0},
        // Drive and separator: "C:" and "\" in front of a relative text.
        {"drive prefix fits", relative256, kPlain, FOLDER_TEXT_OK, 259},
        {"drive prefix too long", relative256 + "r", kPlain, FOLDER_TEXT_TOO_LONG, 0},
        {"typed text of 259 bytes", "D:\\" + std::string(256, 'g'), kPlain, FOLDER_TEXT_OK, 259},
        // All three: 242 bytes, "\Maker\Product", then "C:" and "\" in front.
        {"all additions fit", std::string(242, 'g'), kMakeMakerProduct, FOLDER_TEXT_OK, 259},
        {"all additions too long", std::string(243, 'g'), kMakeMakerProduct, FOLDER_TEXT_TOO_LONG, 0},
    };
    for (const LengthCase& c : cases) {
        struct Guarded {
            char text[PATH_BUFFER_SIZE];
            char guard[16];
        } buffer;
        memset(&buffer, '#', sizeof buffer);
        ASSERT_LT(c.typed.size(), sizeof buffer.text) << c.name;
        memcpy(buffer.text, c.typed.c_str(), c.typed.size() + 1);
        EXPECT_EQ(NormaliseFolderText(buffer.text, "C:\\WINDOWS", &c.settings), c.result) << c.name;
        if (c.result == FOLDER_TEXT_OK)
            EXPECT_EQ(strlen(buffer.text), c.length) << c.name;
        else
            EXPECT_EQ(std::string(buffer.text), c.typed) << c.name;
        EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(sizeof buffer.guard, '#')) << c.name;
    }
}

TEST(TypedFolderTextDrive, ComesFromTheWindowsFolder)
{
    char text[PATH_BUFFER_SIZE] = "Games";
    EXPECT_EQ(NormaliseFolderText(text, "E:\\WINNT", &kPlain), FOLDER_TEXT_OK);
    EXPECT_STREQ(text, "E:\\Games");

    // Without a colon in the Windows folder there is no drive to put in front.
    strcpy(text, "Games");
    EXPECT_EQ(NormaliseFolderText(text, "\\WINDOWS", &kPlain), FOLDER_TEXT_OK);
    EXPECT_STREQ(text, "Games");
}

TEST(RootFolderText, EndsInASeparatingBackslash)
{
    EXPECT_TRUE(EndsWithSeparator("C:\\"));
    EXPECT_TRUE(EndsWithSeparator("\\"));
    EXPECT_FALSE(EndsWithSeparator("C:"));
    EXPECT_FALSE(EndsWithSeparator(""));
    EXPECT_FALSE(EndsWithSeparator("C:\\Games"));
    EXPECT_FALSE(EndsWithSeparator(("C:\\" + kOmote).c_str()));
}

}  // namespace
