// The stub as shipped: what it imports at load time. The updater always runs elevated from a
// download folder, so every DLL it names in its import table must be one the system loads from
// its own folder whatever lies beside the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "package/byte_stream.h"
#include "scratch.h"

namespace {

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::toupper(c); });
    return text;
}

// DLL name -> imported function names, read from the file's import directory.
std::map<std::string, std::set<std::string>> ReadImports(const std::string& bytes)
{
    auto u8 = reinterpret_cast<const unsigned char*>(bytes.data());
    auto at = [&](size_t offset, size_t size) {
        if (offset + size > bytes.size())
            throw std::runtime_error("import table points outside the file");
        return u8 + offset;
    };
    uint32_t pe = GetUi32(at(0x3C, 4));
    uint16_t sections = GetUi16(at(pe + 6, 2));
    uint16_t optionalSize = GetUi16(at(pe + 20, 2));
    size_t optional = pe + 24;
    EXPECT_EQ(GetUi16(at(optional, 2)), 0x10B) << "a 32-bit image";
    uint32_t importRva = GetUi32(at(optional + 96 + 8, 4));
    uint32_t delayRva = GetUi32(at(optional + 96 + 13 * 8, 4));
    EXPECT_EQ(delayRva, 0u) << "no delay-loaded DLLs";
    size_t table = optional + optionalSize;
    auto toOffset = [&](uint32_t rva) -> size_t {
        for (uint16_t i = 0; i < sections; ++i) {
            const unsigned char* s = at(table + i * 40u, 40);
            uint32_t virtualAddress = GetUi32(s + 12), rawSize = GetUi32(s + 16), rawPointer = GetUi32(s + 20);
            uint32_t virtualSize = std::max(GetUi32(s + 8), rawSize);
            if (rva >= virtualAddress && rva < virtualAddress + virtualSize)
                return rva - virtualAddress + rawPointer;
        }
        throw std::runtime_error("RVA outside every section");
    };
    std::map<std::string, std::set<std::string>> imports;
    for (size_t descriptor = toOffset(importRva);; descriptor += 20) {
        const unsigned char* d = at(descriptor, 20);
        uint32_t names = GetUi32(d), name = GetUi32(d + 12), thunks = GetUi32(d + 16);
        if (name == 0)
            break;
        std::string dll = Upper(reinterpret_cast<const char*>(at(toOffset(name), 1)));
        for (size_t thunk = toOffset(names != 0 ? names : thunks);; thunk += 4) {
            uint32_t entry = GetUi32(at(thunk, 4));
            if (entry == 0)
                break;
            if (entry & 0x80000000u)
                imports[dll].insert("#" + std::to_string(entry & 0xFFFF));
            else
                imports[dll].insert(reinterpret_cast<const char*>(at(toOffset(entry) + 2, 1)));
        }
    }
    return imports;
}

TEST(Stub, ImportsOnlyKnownSystemDlls)
{
    // The system's known DLLs (always loaded from the system folder) that the stub may use.
    const std::set<std::string> known = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL",
                                         "SHELL32.DLL",  "OLE32.DLL",  "MSVCRT.DLL"};
    auto imports = ReadImports(ReadFileBytes(StubPath()));
    ASSERT_FALSE(imports.empty());
    for (const auto& [dll, functions] : imports)
        EXPECT_TRUE(known.count(dll)) << dll << " is not a known system DLL";
    EXPECT_TRUE(imports["KERNEL32.DLL"].count("SetDllDirectoryA"))
        << "the DLL search is narrowed before anything else loads";
}

}  // namespace
