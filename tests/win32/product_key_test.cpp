// The product key against Wine's real registry: every test owns its key and removes it.
#include "game/product_key.h"

#include <gtest/gtest.h>

#include <string>

#include "product_key_fixture.h"

namespace {

const char* kGlobal = "UpdaterTestProductKey";

std::string TestName()
{
    return testing::UnitTest::GetInstance()->current_test_info()->name();
}

struct TextCase {
    std::string stored;
    int expected;
};

TEST(ProductKey, IntegersAreReadAsLeadingDecimalText)
{
    const TextCase cases[] = {
        {"110 abc", 110}, {"110", 110}, {"  42", 42}, {"-5", -5}, {"+7x", 7},
        {"abc", 0},       {"", 0},      {"0", 0},     {"99999999999", 2147483647},
    };
    TestProductKey key(kGlobal, TestName());
    for (const TextCase& c : cases) {
        key.SetUserText("Version", c.stored);
        key.SetMachineText("IsInst", c.stored);
        EXPECT_EQ(ReadProductInt(kGlobal, key.Local().c_str(), "Version", 1234), c.expected) << '"' << c.stored << '"';
        EXPECT_EQ(ReadMachineInt(kGlobal, key.Local().c_str(), "IsInst", 1234), c.expected) << '"' << c.stored << '"';
    }
}

TEST(ProductKey, ValuesOfOtherTypesCountAsAbsent)
{
    TestProductKey key(kGlobal, TestName());
    const DWORD one = 1;
    key.SetMachineRaw("IsInst", REG_DWORD, std::string((const char*)&one, sizeof one));
    key.SetMachineRaw("InstTo", REG_EXPAND_SZ, std::string("C:\\Games\0", 9));
    key.SetUserRaw("Version", REG_BINARY, std::string("110\0", 4));

    EXPECT_EQ(ReadMachineInt(kGlobal, key.Local().c_str(), "IsInst", 0), 0);
    EXPECT_EQ(ReadMachineInt(kGlobal, key.Local().c_str(), "IsInst", 3), 3);
    EXPECT_EQ(ReadProductInt(kGlobal, key.Local().c_str(), "Version", 8), 8);
    char buffer[260];
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", "fallback", buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "fallback");
}

TEST(ProductKey, EachRootIsReadOnlyByItsOwnFunctions)
{
    TestProductKey key(kGlobal, TestName());
    key.SetUserText("OnlyUser", "5");
    key.SetMachineText("OnlyMachine", "6");
    EXPECT_EQ(ReadProductInt(kGlobal, key.Local().c_str(), "OnlyUser", -1), 5);
    EXPECT_EQ(ReadProductInt(kGlobal, key.Local().c_str(), "OnlyMachine", -1), -1);
    EXPECT_EQ(ReadMachineInt(kGlobal, key.Local().c_str(), "OnlyMachine", -1), 6);
    EXPECT_EQ(ReadMachineInt(kGlobal, key.Local().c_str(), "OnlyUser", -1), -1);
}

// The registry view differs between the two Windows runs. A 32-bit program on 64-bit Windows
// reads the 32-bit view (Software\WOW6432Node), where a 32-bit game's installer registers it;
// the win64 run's program is 64-bit and reads the 64-bit view; the win32 run's prefix is 32-bit
// Windows, with one view only. What holds in each: the updater asks for no other view than its
// own, so where there are two, a value that exists only in the other one is not seen.
TEST(ProductKey, MachineValuesAreReadInTheProgramsOwnRegistryView)
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const bool is64Bit = sizeof(void*) == 8;
    TestProductKey key(kGlobal, TestName());
    key.SetMachineText("InstTo", "D:\\OwnView");
    char buffer[260];
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", "", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "D:\\OwnView");
    if (!is64Bit && !wow64)
        return;  // 32-bit Windows: no other view exists

    const REGSAM otherView = is64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const std::string path = "Software\\" + std::string(kGlobal) + "\\" + key.Local() + "OtherView";
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | otherView, nullptr,
                              &other, nullptr),
              ERROR_SUCCESS);
    const char installed[] = "1";
    RegSetValueExA(other, "IsInst", 0, REG_SZ, (const BYTE*)installed, sizeof installed);
    RegCloseKey(other);
    const int seen = ReadMachineInt(kGlobal, (key.Local() + "OtherView").c_str(), "IsInst", -1);
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\" + std::string(kGlobal)).c_str(), 0, KEY_ALL_ACCESS | otherView,
                      &parent) == ERROR_SUCCESS) {
        RegDeleteKeyA(parent, (key.Local() + "OtherView").c_str());
        RegCloseKey(parent);
    }
    EXPECT_EQ(seen, -1) << "a value of the other registry view was read";
}

TEST(ProductKey, UnsetComponentsNameAnAbsentKeyAndEveryReadGivesItsDefault)
{
    // REG_GLOBAL and REG_LOCAL left at "-" form Software\-\-, which no product registers.
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY probe = nullptr;
        if (RegOpenKeyExA(root, "Software\\-\\-", 0, KEY_READ, &probe) == ERROR_SUCCESS) {
            RegCloseKey(probe);
            GTEST_SKIP() << "this machine has a key Software\\-\\-";
        }
    }
    EXPECT_EQ(ReadMachineInt("-", "-", "IsInst", 0), 0);
    EXPECT_EQ(ReadMachineInt("-", "-", "IsInst", 17), 17);
    EXPECT_EQ(ReadProductInt("-", "-", "Version", -3), -3);
    char buffer[260];
    EXPECT_EQ(ReadMachineString("-", "-", "InstTo", "", buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "");
}

TEST(ProductKey, MachineStringIsCopiedAndCutToTheBuffer)
{
    TestProductKey key(kGlobal, TestName());
    key.SetMachineText("InstTo", "D:\\Games\\Product");

    char buffer[260];
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", "", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "D:\\Games\\Product");

    // A short buffer still reports success and holds size - 1 bytes; nothing past it is touched.
    char small[12];
    memset(small, '#', sizeof small);
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", "", small, 8), 0);
    EXPECT_STREQ(small, "D:\\Game");
    EXPECT_EQ(std::string(small + 8, 4), "####");

    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "Missing", "C:\\Default\\Folder", small, 8), -1);
    EXPECT_STREQ(small, "C:\\Defa");
}

TEST(ProductKey, MachineStringMayUseTheBufferAsItsOwnDefault)
{
    TestProductKey key(kGlobal, TestName());
    char buffer[260] = "C:\\Program Files\\VUVORI_DIV";
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", buffer, buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "C:\\Program Files\\VUVORI_DIV");
    key.SetMachineText("InstTo", "E:\\Product");
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", buffer, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "E:\\Product");
}

TEST(ProductKey, DataOfMoreThan512BytesCountsAsAbsent)
{
    TestProductKey key(kGlobal, TestName());
    const std::string fits(511, 'a');    // 512 bytes with the terminator
    const std::string tooLong(512, 'b'); // 513 bytes
    key.SetMachineText("Fits", fits);
    key.SetMachineText("TooLong", tooLong);
    key.SetUserText("LongNumber", "7" + std::string(600, ' '));

    char buffer[600];
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "Fits", "", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), fits);
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "TooLong", "none", buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "none");
    EXPECT_EQ(ReadProductInt(kGlobal, key.Local().c_str(), "LongNumber", 4), 4);
}

TEST(ProductKey, TextStoredWithoutTerminatorIsStillEnded)
{
    TestProductKey key(kGlobal, TestName());
    key.SetMachineRaw("InstTo", REG_SZ, "D:\\NoEnd");
    key.SetUserRaw("Version", REG_SZ, "12");
    char buffer[260];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(ReadMachineString(kGlobal, key.Local().c_str(), "InstTo", "", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "D:\\NoEnd");
    EXPECT_EQ(ReadProductInt(kGlobal, key.Local().c_str(), "Version", 0), 12);
}

TEST(ProductKey, WriteCreatesEveryMissingKeyAndStoresTheTerminator)
{
    TestProductKey key(kGlobal + std::string("Fresh"), TestName());
    ASSERT_FALSE(key.UserKeyExists());

    EXPECT_EQ(WriteProductString(key.Global().c_str(), key.Local().c_str(), "Version", "110"), 0);
    ASSERT_TRUE(key.UserKeyExists());
    RegistryValue written = key.UserValue("Version");
    ASSERT_TRUE(written.present);
    EXPECT_EQ(written.type, (DWORD)REG_SZ);
    EXPECT_EQ(written.data, std::string("110\0", 4));
    EXPECT_EQ(ReadProductInt(key.Global().c_str(), key.Local().c_str(), "Version", 0), 110);
    EXPECT_FALSE(key.MachineKeyExists());

    EXPECT_EQ(WriteProductString(key.Global().c_str(), key.Local().c_str(), "Empty", ""), 0);
    RegistryValue empty = key.UserValue("Empty");
    ASSERT_TRUE(empty.present);
    EXPECT_EQ(empty.type, (DWORD)REG_SZ);
    EXPECT_EQ(empty.data, std::string(1, '\0'));

    // A second write replaces the first.
    EXPECT_EQ(WriteProductString(key.Global().c_str(), key.Local().c_str(), "Version", "111 patched"), 0);
    EXPECT_EQ(key.UserValue("Version").data, std::string("111 patched\0", 12));
    EXPECT_EQ(ReadProductInt(key.Global().c_str(), key.Local().c_str(), "Version", 0), 111);
}

TEST(ProductKey, WriteToAKeyThatCannotBeCreatedFails)
{
    // A path component longer than the registry allows cannot be created.
    const std::string tooLong(300, 'k');
    EXPECT_EQ(WriteProductString(kGlobal, tooLong.c_str(), "Value", "1"), -1);
}

}  // namespace
