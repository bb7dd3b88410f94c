// Links on the way to a file (base/reparse_points.h).
#include "base/reparse_points.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "text/buffer_sizes.h"
#include "text/cp932_text.h"
#include "text/path_text.h"

bool IsLinkItem(const char* path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return true;
    // The listing of one name tells its reparse tag.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ? false : IsLinkReparseTag(found.dwReserved0);
}

bool PassesThroughLink(const char* folder, const char* relative, bool includeLast)
{
    char path[PATH_BUFFER_SIZE];
    int folderLength = snprintf(path, sizeof path, "%s\\", folder);
    if (folderLength < 0 || folderLength >= PATH_BUFFER_SIZE)
        return true;
    int length = (int)strlen(relative);
    if (folderLength + length >= PATH_BUFFER_SIZE)
        return true;
    memcpy(path + folderLength, relative, (size_t)length + 1);
    // Each component is looked at where it ends: at its separator, or at the end of the path.
    for (int i = 0;;) {
        bool end = i >= length;
        bool checked = end ? includeLast && length > 0 && relative[length - 1] != '\\' : relative[i] == '\\' && i > 0;
        if (checked) {
            char saved = path[folderLength + i];
            path[folderLength + i] = '\0';
            DWORD attributes = GetFileAttributesA(path);
            path[folderLength + i] = saved;
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                // Nothing there: nothing beyond it can be reached either.
                DWORD error = GetLastError();
                return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
            }
            if (end ? IsLinkItem(path, attributes) : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                return true;
        }
        if (end)
            break;
        i = NextCharacter(relative, i);
    }
    return false;
}
