// The stub as shipped: the 32-bit updater.exe, read as a file. These checks need no Windows, so
// they run natively in every run, also on machines that cannot start a 32-bit program. The
// updater always runs elevated from a download folder, so every DLL it names in its import table
// must be one the system loads from its own folder whatever lies beside the program.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "pe_image.h"
#include "ui/resource_ids.h"

namespace {

const char* const kStub = SHIPPED_STUB;

std::string ReadStub()
{
    std::ifstream in(kStub, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string(kStub) + " is missing: build the win32 preset's updater first");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class ShippedStub : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        bytes_ = new std::string(ReadStub());
        image_ = new PeImage(ReadPeImage(*bytes_));
    }
    static void TearDownTestSuite()
    {
        delete image_;
        delete bytes_;
    }
    static std::string* bytes_;
    static PeImage* image_;
};
std::string* ShippedStub::bytes_;
PeImage* ShippedStub::image_;

TEST_F(ShippedStub, IsA32BitWindowsGuiProgram)
{
    EXPECT_EQ(image_->machine, 0x14C) << "i386";
    EXPECT_FALSE(image_->pe32Plus) << "a PE32 image, not PE32+";
    EXPECT_EQ(image_->subsystem, 2) << "the Windows GUI subsystem";
}

TEST_F(ShippedStub, ImportsOnlyKnownSystemDlls)
{
    // The system's known DLLs (always loaded from the system folder) that the stub may use.
    const std::set<std::string> known = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL",
                                         "SHELL32.DLL",  "OLE32.DLL",  "MSVCRT.DLL"};
    ASSERT_FALSE(image_->imports.empty());
    for (const auto& [dll, functions] : image_->imports)
        EXPECT_TRUE(known.count(dll)) << dll << " is not a known system DLL";
    EXPECT_EQ(image_->delayImportSize, 0u) << "no delay-loaded DLLs";
    EXPECT_TRUE(image_->imports["KERNEL32.DLL"].count("SetDllDirectoryA"))
        << "the DLL search is narrowed before anything else loads";
}

TEST_F(ShippedStub, StaysSmall)
{
    // 130 KiB today, and the tracked goal is below 200 KiB: a jump past it means something heavy
    // got linked in (iostreams, a second run-time), and every player downloads the stub.
    EXPECT_LT(bytes_->size(), 200u * 1024) << "stub size " << bytes_->size() << " bytes";
}

TEST_F(ShippedStub, CarriesItsDialogsClipIconAndManifest)
{
    const uint16_t japanese = 0x411, english = 0x409;
    const std::string icon = "#" + std::to_string(ICON_APPLICATION);
    struct Expected {
        std::string type;
        std::string name;
        uint16_t language;
    };
    const Expected expected[] = {
        {"#5", "MAINDIALOG", japanese},   {"#5", "SETUP", japanese},          {"#5", "COPYINGDELUX", japanese},
        {"#5", "ENDINSTALL", japanese},   {"#5", "ENDINSTALL_SHORT", japanese}, {"AVI", "AVI_FILECOPY", japanese},
        {"#14", icon, japanese}, {"#24", "#1", english},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.type + "/" + e.name);
        auto type = image_->resources.find(e.type);
        ASSERT_NE(type, image_->resources.end());
        auto name = type->second.find(e.name);
        std::string present;
        for (const auto& each : type->second)
            present += " " + each.first;
        ASSERT_NE(name, type->second.end()) << "this type holds:" << present;
        auto language = name->second.find(e.language);
        ASSERT_NE(language, name->second.end());
        EXPECT_FALSE(language->second.empty());
    }
    // The clip is a RIFF AVI; the manifest asks for elevation and the version 6 common controls.
    EXPECT_EQ(image_->resources["AVI"]["AVI_FILECOPY"][japanese].substr(0, 4), "RIFF");
    const std::string& manifest = image_->resources["#24"]["#1"][english];
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    // An i386 program: both the program's own identity and the controls it asks for are x86 ones
    // (Windows refuses a manifest of another architecture).
    size_t x86 = 0, names = 0;
    for (size_t at = manifest.find("processorArchitecture="); at != std::string::npos;
         at = manifest.find("processorArchitecture=", at + 1)) {
        ++names;
        x86 += manifest.compare(at, 27, "processorArchitecture=\"X86\"") == 0;
    }
    EXPECT_EQ(names, 2u);
    EXPECT_EQ(x86, names);
}

// The reader must refuse rather than misread: a cut or altered stub is not a PE file.
TEST_F(ShippedStub, ReaderRefusesDamagedCopies)
{
    const uint32_t pe = (uint8_t)(*bytes_)[0x3C] | (uint8_t)(*bytes_)[0x3D] << 8;
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string noMz = *bytes_, noSignature = *bytes_, badMagic = *bytes_;
    noMz[0] = 'X';
    noSignature[pe] = 'X';
    badMagic[pe + 24] = 0x0C;
    const Case cases[] = {
        {"empty", ""},
        {"headers only", bytes_->substr(0, pe + 24)},
        {"cut inside the sections", bytes_->substr(0, 2048)},
        {"no MZ", noMz},
        {"no PE signature", noSignature},
        {"unknown optional header", badMagic},
    };
    for (const Case& c : cases)
        EXPECT_THROW(ReadPeImage(c.bytes), std::runtime_error) << c.what;
}

}  // namespace
