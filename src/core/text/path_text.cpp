// The lead-byte test and the trailing-backslash rules of path text (text/path_text.h).
#include "text/path_text.h"

#include <stdio.h>
#include <string.h>

#include "text/buffer_sizes.h"

char* StripTrailingBackslash(char* path)
{
    if (EndsWithSeparator(path))
        path[strlen(path) - 1] = '\0';
    return path;
}

char* EnsureTrailingBackslash(char* path)
{
    size_t length = strlen(path);
    if (!EndsWithSeparator(path)) {
        path[length] = '\\';
        path[length + 1] = '\0';
    }
    return path;
}

void CopyText(char* destination, const char* source, int size)
{
    if (size <= 0)
        return;
    strncpy(destination, source, (size_t)size - 1);
    destination[size - 1] = '\0';
}

bool JoinPath(char* path, const char* folder, const char* relative)
{
    int length = snprintf(path, PATH_BUFFER_SIZE, "%s\\%s", folder, relative);
    return length > 0 && length < PATH_BUFFER_SIZE;
}

int FolderPartLength(const char* path)
{
    int end = 0;
    for (int i = 0; path[i] != '\0'; i = NextCharacter(path, i)) {
        unsigned char byte = (unsigned char)path[i];
        if (IsLeadByte(byte) && path[i + 1] != '\0')
            continue;
        if (byte == '\\' || byte == '/' || (byte == ':' && i == 1))
            end = i + 1;
    }
    return end;
}

void ComposeMatchPath(char* result, int size, const char* pattern, const char* name)
{
    int folder = FolderPartLength(pattern);
    if (folder > size - 1)
        folder = size - 1;
    memcpy(result, pattern, (size_t)folder);
    CopyText(result + folder, name, size - folder);
}

static bool IsClimbingComponent(const char* component, int length)
{
    int dots = 0;
    for (int i = 0; i < length; ++i) {
        if (component[i] == '.')
            ++dots;
        else if (component[i] != ' ')
            return false;
    }
    return dots >= 2;
}

bool IsConfinedRelativePath(const char* path)
{
    if (path[0] == '\\' || path[0] == '/')
        return false;
    int componentStart = 0;
    for (int i = 0;; i = NextCharacter(path, i)) {
        unsigned char byte = (unsigned char)path[i];
        if (byte != '\0' && IsLeadByte(byte) && path[i + 1] != '\0')
            continue;
        if (byte == ':')
            return false;
        if (byte == '\\' || byte == '/' || byte == '\0') {
            if (IsClimbingComponent(path + componentStart, i - componentStart))
                return false;
            if (byte == '\0')
                return true;
            componentStart = i + 1;
        }
    }
}

bool IsLinkReparseTag(uint32_t tag)
{
    const uint32_t nameSurrogate = 0x20000000u;  // the tag's bit for "names another file or folder"
    return tag == 0 || (tag & nameSurrogate) != 0;
}
