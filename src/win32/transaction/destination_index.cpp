// One listing of the destination folder (extraction/destination_index.h).
#include "transaction/destination_index.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/notices.h"
#include "package/entry_names.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

// Open addressing over the folded names of the held folder.
struct Slot {
    char* key;  // NULL: empty
    DWORD attributes;
};

static Slot* slots;
static size_t slotCount;  // a power of two
static size_t usedCount;
static char heldFolder[PATH_BUFFER_SIZE];  // the relative folder part held ("" the top), or
static bool holding;                        // nothing at all

static bool searching;
static char** leftovers;
static int leftoverCount;
static int leftoverRoom;

void SearchLeftoverFolders(bool on)
{
    searching = on;
}

void ForgetLeftoverFolders(void)
{
    for (int i = 0; i < leftoverCount; ++i)
        free(leftovers[i]);
    free(leftovers);
    leftovers = NULL;
    leftoverCount = 0;
    leftoverRoom = 0;
}

int CountLeftoverFolders(void)
{
    return leftoverCount;
}

const char* GetLeftoverFolder(int index)
{
    return index >= 0 && index < leftoverCount ? leftovers[index] : NULL;
}

// A folder listed twice (its entries do not all come together) is kept once.
static void KeepLeftover(const char* relativeFolder, const char* leaf)
{
    char path[PATH_BUFFER_SIZE];
    int length = snprintf(path, sizeof path, "%s%s", relativeFolder, leaf);
    if (length <= 0 || length >= PATH_BUFFER_SIZE)
        return;
    for (int i = 0; i < leftoverCount; ++i) {
        if (strcmp(leftovers[i], path) == 0)
            return;
    }
    if (leftoverCount == leftoverRoom) {
        int room = leftoverRoom == 0 ? 8 : leftoverRoom * 2;
        char** grown = (char**)CheckedAlloc((size_t)room * sizeof(char*));
        if (leftoverCount > 0)
            memcpy(grown, leftovers, (size_t)leftoverCount * sizeof(char*));
        free(leftovers);
        leftovers = grown;
        leftoverRoom = room;
    }
    leftovers[leftoverCount] = (char*)CheckedAlloc((size_t)length + 1);
    memcpy(leftovers[leftoverCount++], path, (size_t)length + 1);
}

static size_t HashKey(const char* key)
{
    size_t hash = 2166136261u;
    for (const unsigned char* c = (const unsigned char*)key; *c != '\0'; ++c)
        hash = (hash ^ *c) * 16777619u;
    return hash;
}

static Slot* SlotFor(const char* key)
{
    size_t mask = slotCount - 1;
    for (size_t i = HashKey(key) & mask;; i = (i + 1) & mask) {
        if (slots[i].key == NULL || strcmp(slots[i].key, key) == 0)
            return &slots[i];
    }
}

void ForgetDestinations(void)
{
    for (size_t i = 0; i < slotCount; ++i)
        free(slots[i].key);
    free(slots);
    slots = NULL;
    slotCount = 0;
    usedCount = 0;
    holding = false;
}

static void Grow(void)
{
    Slot* old = slots;
    size_t oldCount = slotCount;
    slotCount = oldCount == 0 ? 64 : oldCount * 2;
    slots = (Slot*)CheckedAlloc(slotCount * sizeof(Slot));
    memset(slots, 0, slotCount * sizeof(Slot));
    for (size_t i = 0; i < oldCount; ++i) {
        if (old[i].key != NULL)
            *SlotFor(old[i].key) = old[i];
    }
    free(old);
}

static void Insert(const char* leaf, DWORD attributes)
{
    if ((usedCount + 1) * 2 > slotCount)
        Grow();
    char key[PATH_BUFFER_SIZE];
    EntryNameKey(leaf, false, key, sizeof key);
    Slot* slot = SlotFor(key);
    if (slot->key == NULL) {
        size_t length = strlen(key) + 1;
        slot->key = (char*)CheckedAlloc(length);
        memcpy(slot->key, key, length);
        ++usedCount;
    }
    slot->attributes = attributes;
}

// The listing of folder\relativeFolder (relativeFolder "" or ending in a backslash).
static void Hold(const char* folder, const char* relativeFolder)
{
    ForgetDestinations();
    Grow();
    CopyText(heldFolder, relativeFolder, PATH_BUFFER_SIZE);
    holding = true;
    char pattern[PATH_BUFFER_SIZE];
    int length = snprintf(pattern, sizeof pattern, "%s\\%s*", folder, relativeFolder);
    if (length <= 0 || length >= PATH_BUFFER_SIZE)
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        Insert(found.cFileName, found.dwFileAttributes);
        if (searching && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            IsUpdateTemporaryName(found.cFileName, strlen(found.cFileName)))
            KeepLeftover(relativeFolder, found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The entry name without a folder's trailing backslash: its folder part and its last component.
static void SplitName(const char* name, char* relativeFolder, char* leaf)
{
    char whole[PATH_BUFFER_SIZE];
    CopyText(whole, name, PATH_BUFFER_SIZE);
    StripTrailingBackslash(whole);
    int folderLength = FolderPartLength(whole);
    memcpy(relativeFolder, whole, (size_t)folderLength);
    relativeFolder[folderLength] = '\0';
    CopyText(leaf, whole + folderLength, PATH_BUFFER_SIZE);
}

DWORD FindDestination(const char* folder, const char* name)
{
    char relativeFolder[PATH_BUFFER_SIZE];
    char leaf[PATH_BUFFER_SIZE];
    SplitName(name, relativeFolder, leaf);
    if (!holding || strcmp(relativeFolder, heldFolder) != 0)
        Hold(folder, relativeFolder);
    char key[PATH_BUFFER_SIZE];
    EntryNameKey(leaf, false, key, sizeof key);
    Slot* slot = SlotFor(key);
    return slot->key != NULL ? slot->attributes : INVALID_FILE_ATTRIBUTES;
}

void NoteDestination(const char* name, DWORD attributes)
{
    char relativeFolder[PATH_BUFFER_SIZE];
    char leaf[PATH_BUFFER_SIZE];
    SplitName(name, relativeFolder, leaf);
    if (holding && strcmp(relativeFolder, heldFolder) == 0)
        Insert(leaf, attributes);
}
