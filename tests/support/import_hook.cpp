#include "import_hook.h"

#include <windows.h>

#include <cstring>

void* HookImport(const char* dll, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name != 0;
         ++import) {
        if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            void* original = reinterpret_cast<void*>(addresses->u1.Function);
            DWORD protection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            addresses->u1.Function = reinterpret_cast<decltype(addresses->u1.Function)>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(void*), protection, &protection);
            return original;
        }
    }
    return nullptr;
}
