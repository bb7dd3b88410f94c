// The product's registry key, read and written one value at a time.
#include "game/product_key.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "settings/settings.h"
#include "text/buffer_sizes.h"
#include "text/path_text.h"


static void FormProductKeyPath(char* path, const char* first, const char* second)
{
    snprintf(path, TEXT_BUFFER_SIZE, "Software\\%s\\%s", first, second);
}

// Queries one REG_SZ value into data (TEXT_BUFFER_SIZE + 1 bytes), always terminated. Any
// other type, or more than TEXT_BUFFER_SIZE bytes, counts as absent.
static bool QueryTextValue(HKEY key, const char* valueName, char* data)
{
    DWORD type = 0;
    DWORD size = TEXT_BUFFER_SIZE;
    memset(data, 0, TEXT_BUFFER_SIZE + 1);
    if (RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)data, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ)
        return false;
    data[size <= TEXT_BUFFER_SIZE ? size : TEXT_BUFFER_SIZE] = '\0';
    return true;
}

static int ReadIntUnder(HKEY root, REGSAM access, const char* first, const char* second, const char* valueName,
                        int defaultValue)
{
    char result[TEXT_BUFFER_SIZE];
    snprintf(result, sizeof result, "%d", defaultValue);

    char path[TEXT_BUFFER_SIZE];
    FormProductKeyPath(path, first, second);
    HKEY key = NULL;
    if (RegOpenKeyExA(root, path, 0, access, &key) == ERROR_SUCCESS) {
        char data[TEXT_BUFFER_SIZE + 1];
        if (QueryTextValue(key, valueName, data))
            CopyText(result, data, sizeof result);
        RegCloseKey(key);
    }
    return ParseDecimal(result);
}

int ReadProductInt(const char* first, const char* second, const char* valueName, int defaultValue)
{
    return ReadIntUnder(HKEY_CURRENT_USER, KEY_ALL_ACCESS, first, second, valueName, defaultValue);
}

int ReadMachineInt(const char* first, const char* second, const char* valueName, int defaultValue)
{
    return ReadIntUnder(HKEY_LOCAL_MACHINE, KEY_READ, first, second, valueName, defaultValue);
}

int ReadMachineString(const char* first, const char* second, const char* valueName, const char* defaultText,
                      char* buffer, int size)
{
    if (size <= 0)
        return -1;
    // The default may be the caller's own buffer (the proposal stands in it already).
    if (defaultText != buffer)
        CopyText(buffer, defaultText, size);
    buffer[size - 1] = '\0';
    int result = -1;

    char path[TEXT_BUFFER_SIZE];
    FormProductKeyPath(path, first, second);
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char data[TEXT_BUFFER_SIZE + 1];
        if (QueryTextValue(key, valueName, data)) {
            CopyText(buffer, data, size);
            result = 0;
        }
        RegCloseKey(key);
    }
    return result;
}

int WriteProductString(const char* first, const char* second, const char* valueName, const char* data)
{
    char path[TEXT_BUFFER_SIZE];
    FormProductKeyPath(path, first, second);
    HKEY key = NULL;
    char emptyClass[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return -1;
    // The stored data includes the terminator, so empty data is one byte.
    LONG written = RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE*)data, (DWORD)strlen(data) + 1);
    RegCloseKey(key);
    return written == ERROR_SUCCESS ? 0 : -1;
}
