// The rules for package entry names (package/entry_names.h).
#include "package/entry_names.h"

#include <string.h>

#include "text/path_text.h"

static const char* const kSetupMarkers[] = {"insttscr.rct", "install.env", ".txt"};

bool IsSetupFileName(const char* name)
{
    for (const char* marker : kSetupMarkers) {
        char lowerName[PATH_BUFFER_SIZE];
        char lowerMarker[PATH_BUFFER_SIZE];
        CopyText(lowerName, name, PATH_BUFFER_SIZE);
        CopyText(lowerMarker, marker, PATH_BUFFER_SIZE);
        LowerCp932(lowerName);
        LowerCp932(lowerMarker);
        if (FindCp932(lowerName, lowerMarker) >= 0)
            return true;
    }
    return false;
}

int SetupPassStep(const PackageEntry* entry)
{
    if (IsFolderEntry(entry)) {
        int separator = FirstSeparator(entry->name);
        if (separator >= 0 && entry->name[separator + 1] != '\0')
            return SETUP_END;
        return SETUP_SKIP;
    }
    // A delta is made from a file of the game's: there is none in the work folder.
    return IsSetupFileName(entry->name) && !IsDeltaEntry(entry) ? SETUP_EXTRACT : SETUP_SKIP;
}

bool IsSafeEntryName(const char* destinationFolder, const EntryHeader* header)
{
    if (header->nameFault != ENTRY_NAME_OK)
        return false;
    return LongestInstallFolder(header->entry.name, IsFolderEntry(&header->entry)) >= (int)strlen(destinationFolder);
}

void EntryNameKey(const char* name, bool folder, char* key, size_t keySize)
{
    if (keySize == 0)
        return;
    size_t length = strnlen(name, keySize - 1);
    memcpy(key, name, length);
    key[length] = '\0';
    if (folder && length > 0)
        key[length - 1] = '\0';
    FoldCp932Name(key);
}

int LongestInstallFolder(const char* name, bool folder)
{
    // Found character by character: a trail byte 0x5C is no separator, not even at the end.
    int length = (int)strlen(name);
    int lastSeparator = -1;
    for (int i = 0; i < length; i = NextCharacter(name, i))
        if (name[i] == '\\')
            lastSeparator = i;
    if (folder && lastSeparator >= 0 && lastSeparator == length - 1) {
        length--;
        lastSeparator = -1;
        for (int i = 0; i < length; i = NextCharacter(name, i))
            if (name[i] == '\\')
                lastSeparator = i;
    }
    // Bytes after the install folder: the receiving folder's part, then the room a file needs
    // while it waits for its place.
    int receiving = folder ? 1 + length : (lastSeparator >= 0 ? 1 + lastSeparator : 0);
    int needed = receiving + UPDATE_RECEIVING_ROOM;
    if (!folder && 1 + length > needed)
        needed = 1 + length;
    return (PATH_BUFFER_SIZE - 1) - needed;
}
