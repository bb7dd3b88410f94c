// The checks before the first write of a full pass (transaction/update_checks.h).
#include "transaction/update_checks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/notices.h"
#include "base/reparse_points.h"
#include "text/buffer_sizes.h"
#include "text/path_text.h"
#include "package/delta_apply.h"
#include "transaction/destination_index.h"
#include "transaction/update_journal.h"

// Thousands of destinations are opened before the first write: the windows answer meanwhile (a
// quit simply ends the run, nothing being written yet).
static DWORD lastDrain;

static void KeepWindowsAnswering(void)
{
    if (GetTickCount() - lastDrain >= 50) {
        PumpMessages();
        lastDrain = GetTickCount();
    }
}

static char checkFolder[PATH_BUFFER_SIZE];
static char lastFolder[PATH_BUFFER_SIZE];
static int lastRoom = -1;

// What the checks found at each file entry's name, by its place among the file entries: the old
// file's identity, or nothing there.
struct FoundDestination {
    bool replacing;
    FileIdentity old;
    char delta;  // FOUND_* for a delta entry, 0 for a file entry
};
static FoundDestination* found;
static int foundCount;
static int foundRoom;

static void ForgetFound(void)
{
    free(found);
    found = NULL;
    foundCount = 0;
    foundRoom = 0;
}

static void KeepFound(bool replacing, const FileIdentity* old, char delta = 0)
{
    if (foundCount == foundRoom) {
        int room = foundRoom == 0 ? 64 : foundRoom * 2;
        FoundDestination* grown = (FoundDestination*)CheckedAlloc((size_t)room * sizeof(FoundDestination));
        if (foundCount > 0)
            memcpy(grown, found, (size_t)foundCount * sizeof(FoundDestination));
        free(found);
        found = grown;
        foundRoom = room;
    }
    found[foundCount].replacing = replacing;
    found[foundCount].delta = delta;
    if (old != NULL)
        found[foundCount].old = *old;
    ++foundCount;
}

// What the pass keeps on each volume until it commits: every new file beside the old one it
// replaces. Folders, the record and the file system's own overhead are covered by a margin.
#define FREE_SPACE_MARGIN (4 * 1024 * 1024)

static char checkedName[PATH_BUFFER_SIZE];
static uint64_t shortfall;

// Whether an existing destination can be replaced, and what it is: a plain file (not a folder,
// not a link), not read-only, that nobody holds open without letting it be renamed, and that no
// process runs or has loaded (a mapped file cannot be opened for writing). A scanner may hold
// one for a moment: that is waited for.
static int CheckReplaceable(const char* path, DWORD attributes, FileIdentity* identity)
{
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0 || IsLinkItem(path, attributes))
        return CHECK_REFUSED;
    for (int attempt = 0;; ++attempt) {
        HANDLE file = CreateFileA(path, FILE_WRITE_DATA | DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            bool known = ReadHandleIdentity(file, identity);
            CloseHandle(file);
            return known ? 0 : CHECK_REFUSED;
        }
        DWORD error = GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (attempt >= HELD_FILE_RETRIES || !held)
            return held ? CHECK_IN_USE : CHECK_REFUSED;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// The room each volume must have: a folder link may lead a destination folder onto another
// drive, so every destination folder is asked for its own volume's room.
struct RoomNeed {
    char path[PATH_BUFFER_SIZE];  // an existing folder of the destination's (itself, or above)
    DWORD volume;
};
static RoomNeed* rooms;
static int roomCount;
static int roomSpace;

struct VolumeNeed {
    DWORD volume;
    uint64_t needed;
};
static VolumeNeed* volumes;
static int volumeCount;

static void ForgetRooms(void)
{
    free(rooms);
    rooms = NULL;
    roomCount = 0;
    roomSpace = 0;
    free(volumes);
    volumes = NULL;
    volumeCount = 0;
}

// The volume of the nearest existing folder of folder\relativeFolder, followed through links; the
// folder is kept for asking its room later. -1 when none can be told.
static int NoteRoomNeed(const char* folder, const char* relativeFolder)
{
    char path[PATH_BUFFER_SIZE];
    int length = snprintf(path, sizeof path, "%s\\%s", folder, relativeFolder);
    if (length <= 0 || length >= PATH_BUFFER_SIZE)
        return -1;
    for (;;) {
        StripTrailingBackslash(path);
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            break;
        int parent = FolderPartLength(path);
        if (parent <= 0 || (size_t)parent <= strlen(folder))
            return -1;
        path[parent] = '\0';
    }
    for (int i = 0; i < roomCount; ++i) {
        if (strcmp(rooms[i].path, path) == 0)
            return i;
    }
    HANDLE item = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (item == INVALID_HANDLE_VALUE)
        return -1;
    FileIdentity identity;
    bool known = ReadHandleIdentity(item, &identity);
    CloseHandle(item);
    if (!known)
        return -1;
    if (roomCount == roomSpace) {
        int space = roomSpace == 0 ? 8 : roomSpace * 2;
        RoomNeed* grown = (RoomNeed*)CheckedAlloc((size_t)space * sizeof(RoomNeed));
        VolumeNeed* grownVolumes = (VolumeNeed*)CheckedAlloc((size_t)space * sizeof(VolumeNeed));
        if (roomCount > 0) {
            memcpy(grown, rooms, (size_t)roomCount * sizeof(RoomNeed));
            memcpy(grownVolumes, volumes, (size_t)volumeCount * sizeof(VolumeNeed));
        }
        free(rooms);
        free(volumes);
        rooms = grown;
        volumes = grownVolumes;
        roomSpace = space;
    }
    CopyText(rooms[roomCount].path, path, PATH_BUFFER_SIZE);
    rooms[roomCount].volume = identity.volume;
    int volume = 0;
    while (volume < volumeCount && volumes[volume].volume != identity.volume)
        ++volume;
    if (volume == volumeCount) {
        volumes[volumeCount].volume = identity.volume;
        volumes[volumeCount++].needed = FREE_SPACE_MARGIN;
    }
    return roomCount++;
}

static void AddRoomNeed(int room, uint64_t bytes)
{
    for (int i = 0; i < volumeCount; ++i) {
        if (volumes[i].volume == rooms[room].volume)
            volumes[i].needed += bytes;
    }
}

// Every destination folder's volume against what the pass puts there.
static int CheckRoom(void)
{
    for (int i = 0; i < roomCount; ++i) {
        uint64_t needed = 0;
        for (int v = 0; v < volumeCount; ++v) {
            if (volumes[v].volume == rooms[i].volume)
                needed = volumes[v].needed;
        }
        ULARGE_INTEGER available;
        if (GetDiskFreeSpaceExA(rooms[i].path, &available, NULL, NULL) && available.QuadPart < needed) {
            CopyText(checkedName, rooms[i].path, PATH_BUFFER_SIZE);
            shortfall = needed - available.QuadPart;
            return CHECK_NO_ROOM;
        }
    }
    return 0;
}

static void NoteNeed(const char* name, uint64_t size);

// The delta entries of one name, one for each old version the update accepts: the installed file
// is hashed once, and the first entry made from it applies; an installed file that already is
// the new version needs none. A file that matches no old version stops the pass before anything
// is written.
static char deltaName[PATH_BUFFER_SIZE];
static bool deltaOpen;     // a name's entries are being checked
static bool deltaDecided;  // one of them applies, or the file is new already
static bool deltaHashed;   // the installed file was there and could be read
static uint64_t deltaSize;
static unsigned char deltaHash[SHA256_SIZE];
static FileIdentity deltaOld;

static size_t ReadAt(void* context, uint64_t offset, void* buffer, size_t size)
{
    HANDLE file = ((HandleSource*)context)->file;
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    DWORD read = 0;
    if (!SetFilePointerEx(file, position, NULL, FILE_BEGIN) || !ReadFile(file, buffer, (DWORD)size, &read, NULL))
        return 0;
    return read;
}

static void KeepWindowsAliveWhileHashing(void* context, uint64_t hashed)
{
    (void)context;
    (void)hashed;
    // Nothing is written yet: a quit now simply ends the run.
    PumpMessages();
}

void OpenOldFileSource(HandleSource* context, HANDLE file, DeltaSource* source)
{
    context->file = file;
    source->context = context;
    source->read = ReadAt;
}

// The group of delta entries that ended: 0, or CHECK_NO_BASE when none fits the installed file.
static int CloseDeltaGroup(void)
{
    if (!deltaOpen)
        return 0;
    deltaOpen = false;
    if (deltaDecided)
        return 0;
    JoinPath(checkedName, checkFolder, deltaName);
    return CHECK_NO_BASE;
}

// Hashes the installed file at path once for the group.
static int HashInstalledFile(const char* path, DWORD attributes)
{
    deltaHashed = false;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;  // nothing installed: no old version fits
    int replaceable = CheckReplaceable(path, attributes, &deltaOld);
    if (replaceable != 0) {
        CopyText(checkedName, path, PATH_BUFFER_SIZE);
        return replaceable;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    HandleSource context;
    DeltaSource source;
    OpenOldFileSource(&context, file, &source);
    unsigned char* buffer = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    deltaSize = deltaOld.size;
    deltaHashed = HashDeltaSource(&source, deltaSize, buffer, KeepWindowsAliveWhileHashing, NULL, deltaHash);
    free(buffer);
    CloseHandle(file);
    return 0;
}

int CheckDeltaEntry(const PackageEntry* entry, const DeltaHeader* header)
{
    if (deltaOpen && strcmp(deltaName, entry->name) != 0) {
        int closed = CloseDeltaGroup();
        if (closed != 0)
            return closed;
    }
    if (!deltaOpen) {
        char path[PATH_BUFFER_SIZE];
        if (!JoinPath(path, checkFolder, entry->name))
            return CHECK_REFUSED;
        CopyText(deltaName, entry->name, PATH_BUFFER_SIZE);
        deltaOpen = true;
        deltaDecided = false;
        int hashed = HashInstalledFile(path, FindDestination(checkFolder, entry->name));
        if (hashed != 0)
            return hashed;
    }
    char verdict = FOUND_DELTA_SKIP;
    if (!deltaDecided && deltaHashed) {
        int match = CompareDeltaBase(header, deltaSize, deltaHash);
        if (match == DELTA_BASE_MATCHES)
            verdict = FOUND_DELTA_APPLY;
        deltaDecided = match != DELTA_BASE_DIFFERS;
    }
    KeepFound(true, &deltaOld, verdict);
    if (verdict == FOUND_DELTA_APPLY)
        NoteNeed(entry->name, header->resultSize);
    return 0;
}

void BeginChecks(const char* folder)
{
    lastDrain = GetTickCount();
    deltaOpen = false;
    CopyText(checkFolder, folder, PATH_BUFFER_SIZE);
    ForgetDestinations();
    ForgetLeftoverFolders();
    ForgetFound();
    ForgetRooms();
    SearchLeftoverFolders(true);
    lastFolder[0] = '\0';
    lastRoom = -1;
}

// The room a file of size bytes needs on its destination folder's volume.
static void NoteNeed(const char* name, uint64_t size)
{
    int folderPart = FolderPartLength(name);
    if (lastRoom < 0 || strncmp(lastFolder, name, (size_t)folderPart) != 0 || lastFolder[folderPart] != '\0') {
        snprintf(lastFolder, sizeof lastFolder, "%.*s", folderPart, name);
        lastRoom = NoteRoomNeed(checkFolder, lastFolder);
    }
    if (lastRoom >= 0)
        AddRoomNeed(lastRoom, size);
}

int CheckEntry(const PackageEntry* entry)
{
    KeepWindowsAnswering();
    int closed = CloseDeltaGroup();
    if (closed != 0)
        return closed;
    char path[PATH_BUFFER_SIZE];
    if (!JoinPath(path, checkFolder, entry->name))
        return CHECK_REFUSED;
    DWORD attributes = FindDestination(checkFolder, entry->name);
    if (IsFolderEntry(entry))
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? CHECK_REFUSED : 0;
    FileIdentity old;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        int replaceable = CheckReplaceable(path, attributes, &old);
        if (replaceable != 0) {
            CopyText(checkedName, path, PATH_BUFFER_SIZE);
            return replaceable;
        }
    }
    KeepFound(attributes != INVALID_FILE_ATTRIBUTES, &old);
    NoteNeed(entry->name, (uint64_t)(uint32_t)entry->originalSize);
    return 0;
}

int EndChecks(int result)
{
    if (result == 0)
        result = CloseDeltaGroup();
    deltaOpen = false;
    ForgetDestinations();
    SearchLeftoverFolders(false);
    if (result == 0)
        result = CheckRoom();
    ForgetRooms();
    return result;
}

const char* GetCheckedName(void)
{
    return checkedName;
}

uint64_t GetShortfall(void)
{
    return shortfall;
}

bool GetFoundDestination(int ordinal, bool* replacing, const FileIdentity** old, char* delta)
{
    if (ordinal < 0 || ordinal >= foundCount)
        return false;
    *replacing = found[ordinal].replacing;
    *delta = found[ordinal].delta;
    *old = &found[ordinal].old;
    return true;
}

void ForgetChecks(void)
{
    ForgetDestinations();
    ForgetFound();
}

// Working folders that earlier runs left beside the destinations go once the update is in place:
// a failed pass leaves the folder as it found it, leftovers included.
void SweepLeftoverFolders(void)
{
    for (int i = 0; i < CountLeftoverFolders(); ++i)
        SweepLeftoverFolder(checkFolder, GetLeftoverFolder(i));
    ForgetLeftoverFolders();
}

