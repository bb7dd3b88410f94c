// Loading the updater's DLLs from the system folder only (base/dll_search.h).
#include "base/dll_search.h"
#include "text/buffer_sizes.h"

#include <stdio.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// DLLs loaded by name after start-up by the updater itself, the version 6 common controls, the
// dialog manager and the shell dialogs the updater opens, that are no known DLL on some Windows
// without SetDefaultDllDirectories, so a copy beside the program would be found first:
static const char* const kLateSystemLibraries[] = {
    "winmm.dll",    // the tick count that names the work folder
    "uxtheme.dll",  // themes of the version 6 controls and dialogs, with the first window
    "dwmapi.dll",   // desktop composition, asked for by uxtheme and the dialog manager (Vista, 7)
    "msvfw32.dll",  // Video for Windows: the animation control's decoder for the copy clip
    "msacm32.dll",  // loaded along with msvfw32
    "version.dll",  // version checks of the common controls and the shell (no known DLL on 7)
    "propsys.dll",  // property system of the folder browser (Vista, 7)
    "apphelp.dll",  // compatibility checks when the shell opens the readme
    "userenv.dll",  // profile folders, resolved by the folder browser
    "profapi.dll",  // loaded along with userenv (7)
    "setupapi.dll", // drive icons in the folder browser (no known DLL on XP)
    "clbcatq.dll",  // COM's class catalogue, on the folder browser's first object (XP)
    // comctl32.dll is not among them: version 6 is the side-by-side assembly that the manifest
    // names, looked up before any folder is searched.
};

HMODULE LoadSystemLibrary(const char* name)
{
    char path[PATH_BUFFER_SIZE];
    UINT length = GetSystemDirectoryA(path, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        return NULL;
    if (snprintf(path + length, PATH_BUFFER_SIZE - length, "\\%s", name) >= (int)(PATH_BUFFER_SIZE - length))
        return NULL;
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearchByPreloading(void)
{
    SetDllDirectoryA("");
    for (size_t i = 0; i < sizeof kLateSystemLibraries / sizeof kLateSystemLibraries[0]; ++i)
        LoadSystemLibrary(kLateSystemLibraries[i]);
}

void RestrictDllSearch(void)
{
    SetDefaultDllDirectoriesFunction setDefault = (SetDefaultDllDirectoriesFunction)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault == NULL || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        RestrictDllSearchByPreloading();
        return;
    }
    SetDllDirectoryA("");
}
