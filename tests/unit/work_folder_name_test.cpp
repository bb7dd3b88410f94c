#include "text/work_folder_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(WorkFolderName, TickCountAsASignedNumberInNinePlaces)
{
    const struct {
        uint32_t tick;
        const char* name;
    } cases[] = {
        {42, "VaruVIRazudarIdezor_000000042"},
        {0, "VaruVIRazudarIdezor_000000000"},
        {999999999, "VaruVIRazudarIdezor_999999999"},
        {1000000000, "VaruVIRazudarIdezor_1000000000"},  // wider than nine places: nothing cut
        {0x7FFFFFFFu, "VaruVIRazudarIdezor_2147483647"},
        // 2^31 and above print as negative numbers, the sign inside the nine places.
        {0x80000000u, "VaruVIRazudarIdezor_-2147483648"},
        {0xFFFFFFF6u, "VaruVIRazudarIdezor_-00000010"},
        {0xFFFFFFFFu, "VaruVIRazudarIdezor_-00000001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tick);
        char name[WORK_FOLDER_NAME_SIZE + 8];
        std::memset(name, '#', sizeof name);
        FormatWorkFolderName(c.tick, name);
        EXPECT_EQ(std::string(name), c.name);
        EXPECT_LT(std::strlen(name), (size_t)WORK_FOLDER_NAME_SIZE);
    }
}

}  // namespace
