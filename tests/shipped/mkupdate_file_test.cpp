// The Windows mkupdate.exe as shipped, read as a file: a 32-bit console program that may use the
// whole 4 GiB of address space that 64-bit Windows gives a large-address-aware program, so a large
// game file does not run it out of memory first.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "pe_image.h"

namespace {

TEST(ShippedMkupdate, IsA32BitLargeAddressAwareConsoleProgram)
{
    std::ifstream in(SHIPPED_MKUPDATE, std::ios::binary);
    ASSERT_TRUE(in) << SHIPPED_MKUPDATE << " is missing: build the win32 preset's mkupdate first";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    PeImage image = ReadPeImage(bytes.str());
    EXPECT_EQ(image.machine, 0x14C);
    EXPECT_FALSE(image.pe32Plus);
    EXPECT_EQ(image.subsystem, 3);
    EXPECT_NE(image.characteristics & 0x20, 0) << "not large-address-aware";
}

}  // namespace
