// The two extraction passes over the package behind the executable image. The full pass is one
// transaction: every entry is checked before the first write, each step is on record
// (update_journal.h) before it is taken, and a pass that fails in any way, or is cut off, leaves
// the game folder exactly as it was: undone before the notice, or by the next run.
#include "extraction/extraction.h"

#include <stdlib.h>
#include <string.h>

#include "package/byte_stream.h"
#include "package/entry_inflate.h"
#include "package/entry_names.h"
#include "extraction/destination_index.h"
#include "extraction/extracted_file.h"
#include "extraction/update_journal.h"
#include "package/package_format.h"
#include "base/notices.h"
#include "base/reparse_points.h"
#include "text/path_text.h"
#include "base/work_folder.h"
#include "ui/progress_window.h"

#define READ_FAILURE_TEXT "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。"

static char packageFilePath[PATH_BUFFER_SIZE];

void SetPackageFilePath(const char* path)
{
    CopyText(packageFilePath, path != NULL ? path : "", PATH_BUFFER_SIZE);
}

FILE* OpenPackage(ByteStream* bytes, int* packageSize)
{
    char path[PATH_BUFFER_SIZE];
    if (packageFilePath[0] != '\0') {
        CopyText(path, packageFilePath, PATH_BUFFER_SIZE);
    } else {
        DWORD length = GetModuleFileNameA(NULL, path, PATH_BUFFER_SIZE);
        if (length == 0 || length >= PATH_BUFFER_SIZE)
            return NULL;
    }
    FILE* stream = fopen(path, "rb");
    if (stream == NULL)
        return NULL;
    *bytes = FileByteStream(stream);
    int32_t size = 0;
    if (LocatePackage(bytes, &size) != PACKAGE_ENTRY) {
        fclose(stream);
        return NULL;
    }
    *packageSize = size;
    return stream;
}

// A destination that is in use (the running game's exe or a DLL it loaded, a file a program
// holds open), a disk without room, another updater at work on the folder: the player can act on
// each, so each is told apart from damage.
#define IN_USE_TEXT                                                                                                   \
    "次のファイルが使用中のため、アップデートできません。\n%s\n\n"                                                   \
    "ゲームや、このファイルを開いているソフトを終了してから［再試行］を押してください。"
#define NO_ROOM_TEXT                                                                                                  \
    "ディスクの空き容量が足りません。\n%s\nのあるドライブに、あと %lu MB の空きが必要です。\n\n"                     \
    "空き容量を増やしてから［再試行］を押してください。"
#define BUSY_TEXT                                                                                                     \
    "このフォルダでは、別のアップデータが実行中です。\n%s\n\n"                                                       \
    "そのアップデータが終わってから、もう一度実行してください。"

// Where the inflated blocks of one file go, and the progress they make.
struct FileSink {
    HANDLE file;
    HWND window;
    int consumed;  // the pass's count up to this entry's data
};

static bool WriteBlock(void* context, const unsigned char* data, size_t size)
{
    DWORD written = 0;
    return WriteFile(((FileSink*)context)->file, data, (DWORD)size, &written, NULL) && written == size;
}

static void ReportBlock(void* context, int64_t inflated, int64_t requested)
{
    FileSink* sink = (FileSink*)context;
    ReportProgress(sink->window, (int)inflated, sink->consumed + (int)requested);
}

// What the checks found at each file entry's name, by its place among the file entries: the old
// file's identity, or nothing there.
struct FoundDestination {
    bool replacing;
    FileIdentity old;
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

static void KeepFound(bool replacing, const FileIdentity* old)
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
    if (old != NULL)
        found[foundCount].old = *old;
    ++foundCount;
}

// Writes one file entry's data, the stream at the data; 0 when the file was written whole, else 1.
static int InflateEntry(ByteStream* stream, const EntryHeader* header, const char* folder, const char* path,
                        HWND window, int consumed, const FoundDestination* destination)
{
    unsigned char* input = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    unsigned char* output = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    int result = 1;
    const FileIdentity* old = destination != NULL && destination->replacing ? &destination->old : NULL;
    HANDLE file = OpenExtractedFile(folder, header->entry.name, old);
    if (file != INVALID_HANDLE_VALUE) {
        if (window != NULL)
            BeginFileProgress(window, path, header->entry.originalSize);
        FileSink target = {file, window, consumed};
        InflateSink sink = {&target, WriteBlock, ReportBlock};
        InflateOutcome outcome;
        result = InflateEntryData(stream, header->entry.compressedSize, -1, input, output, &sink, &outcome) == INFLATE_DONE ? 0 : 1;
        if (window != NULL)
            EndFileProgress(window);
        result = FinishExtractedFile(folder, header->entry.name, result, header->lastWriteTime);
    }
    free(input);
    free(output);
    return result;
}

// A quit message met while draining the queue, or any other exit in the middle of the full pass,
// undoes it too.
static void UndoUnfinishedPass(void)
{
    DiscardExtractedFile();
    RollBackJournal();
    ForgetDestinations();
    ForgetFound();
}

static void EndWithNotice(FILE* stream, const char* format, const char* argument)
{
    UndoUnfinishedPass();
    if (stream != NULL)
        fclose(stream);
    CloseProgressWindow();
    ShowError(format, argument);
    RemoveWorkFolder();
    exit(-1);
}

static void FailExtraction(FILE* stream)
{
    EndWithNotice(stream, READ_FAILURE_TEXT, NULL);
}

// The player answers Cancel: the pass ends as a failed one, without another notice.
static void EndCancelled(FILE* stream)
{
    UndoUnfinishedPass();
    if (stream != NULL)
        fclose(stream);
    CloseProgressWindow();
    RemoveWorkFolder();
    exit(-1);
}

static void EndPass(FILE* stream)
{
    DiscardExtractedFile();
    ForgetDestinations();
    ForgetFound();
    fclose(stream);
    CloseProgressWindow();
}

// What the pass keeps on each volume until it commits: every new file beside the old one it
// replaces. Folders, the record and the file system's own overhead are covered by a margin.
#define FREE_SPACE_MARGIN (4 * 1024 * 1024)

// Outcomes of the checks before the first write, beyond 0.
#define CHECK_REFUSED 1  // damage, or a destination that can never be replaced
#define CHECK_IN_USE 2   // checkedName is in use
#define CHECK_NO_ROOM 3  // checkedName's drive lacks shortfall bytes

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

// Every entry against what the pass will need, before the first write: a name that may be
// written and fits with the working folder beside it, a destination that can be replaced and is
// not in use, room on every volume written to. 0 when the pass can go ahead.
static int CheckBeforeWriting(const char* destinationFolder)
{
    ByteStream bytes;
    int packageSize = 0;
    FILE* stream = OpenPackage(&bytes, &packageSize);
    if (stream == NULL)
        return CHECK_REFUSED;
    int result = CHECK_REFUSED;
    ForgetDestinations();
    ForgetLeftoverFolders();
    ForgetFound();
    ForgetRooms();
    SearchLeftoverFolders(true);
    char lastFolder[PATH_BUFFER_SIZE] = "";
    int room = -1;
    for (;;) {
        EntryHeader header;
        int read = ReadEntryHeader(&bytes, &header);
        if (read == PACKAGE_END) {
            result = 0;
            break;
        }
        if (read != PACKAGE_ENTRY || !IsSafeEntryName(destinationFolder, &header))
            break;
        const PackageEntry* entry = &header.entry;
        bool folder = IsFolderEntry(entry);
        if (!folder && SkipPackageData(&bytes, entry) != PACKAGE_ENTRY)
            break;
        char path[PATH_BUFFER_SIZE];
        snprintf(path, sizeof path, "%s\\%s", destinationFolder, entry->name);
        DWORD attributes = FindDestination(destinationFolder, entry->name);
        if (folder) {
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                break;
            continue;
        }
        FileIdentity old;
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            int replaceable = CheckReplaceable(path, attributes, &old);
            if (replaceable != 0) {
                CopyText(checkedName, path, PATH_BUFFER_SIZE);
                result = replaceable;
                break;
            }
        }
        KeepFound(attributes != INVALID_FILE_ATTRIBUTES, &old);
        int folderPart = FolderPartLength(entry->name);
        if (room < 0 || strncmp(lastFolder, entry->name, (size_t)folderPart) != 0 || lastFolder[folderPart] != '\0') {
            snprintf(lastFolder, sizeof lastFolder, "%.*s", folderPart, entry->name);
            room = NoteRoomNeed(destinationFolder, lastFolder);
        }
        if (room >= 0)
            AddRoomNeed(room, entry->originalSize);
    }
    fclose(stream);
    ForgetDestinations();
    SearchLeftoverFolders(false);
    if (result == 0)
        result = CheckRoom();
    ForgetRooms();
    return result;
}

// Working folders that earlier runs left beside the destinations go once the update is in place:
// a failed pass leaves the folder as it found it, leftovers included.
static void SweepLeftoverFolders(const char* destinationFolder)
{
    for (int i = 0; i < CountLeftoverFolders(); ++i)
        SweepLeftoverFolder(destinationFolder, GetLeftoverFolder(i));
    ForgetLeftoverFolders();
}

// A folder the pass makes goes on record first, and with its identity once made, so that the
// undoing removes it again (and nothing else at its name).
static int CreateEntryFolder(const char* name, const char* path)
{
    if (IsJournalOpen()) {
        if (FindDestination(GetJournalFolder(), name) != INVALID_FILE_ATTRIBUTES)
            return 0;
        if (RecordStep(JOURNAL_FOLDER, name, NULL, NULL) != 0)
            return 1;
        NoteDestination(name, FILE_ATTRIBUTE_DIRECTORY);
        CreateDirectoryA(path, NULL);
        FileIdentity made;
        char folder[PATH_BUFFER_SIZE];
        CopyText(folder, path, PATH_BUFFER_SIZE);
        StripTrailingBackslash(folder);
        if (ReadIdentity(folder, &made) && RecordIdentity(JOURNAL_FOLDER_MADE, NULL, NULL, NULL, &made, 0) != 0)
            return 1;
        return 0;
    }
    CreateDirectoryA(path, NULL);
    return 0;
}

// Before the first write: what an interrupted run left is finished, then every entry is checked.
// What the player can mend (a file in use, a full disk) is told, and Retry looks again.
static void PrepareFullPass(const char* destinationFolder, FILE* stream)
{
    for (;;) {
        int recovered = RecoverInterruptedUpdate(destinationFolder);
        if (recovered == TRANSACTION_BUSY)
            EndWithNotice(stream, BUSY_TEXT, destinationFolder);
        if (recovered == TRANSACTION_IN_USE) {
            char path[PATH_BUFFER_SIZE];
            if (!PathBelow(destinationFolder, GetBusyName(), path))
                CopyText(path, GetBusyName(), PATH_BUFFER_SIZE);
            if (!AskRetry(IN_USE_TEXT, path))
                EndCancelled(stream);
            continue;
        }
        if (recovered != 0)
            FailExtraction(stream);
        int checked = CheckBeforeWriting(destinationFolder);
        if (checked == CHECK_IN_USE) {
            if (!AskRetry(IN_USE_TEXT, checkedName))
                EndCancelled(stream);
            continue;
        }
        if (checked == CHECK_NO_ROOM) {
            unsigned long megabytes = (unsigned long)((shortfall + 1024 * 1024 - 1) / (1024 * 1024));
            if (!AskRetry(NO_ROOM_TEXT, checkedName, megabytes))
                EndCancelled(stream);
            continue;
        }
        if (checked != 0)
            FailExtraction(stream);
        int begun = BeginJournal(destinationFolder);
        if (begun == TRANSACTION_BUSY)
            EndWithNotice(stream, BUSY_TEXT, destinationFolder);
        if (begun != 0)
            FailExtraction(stream);
        return;
    }
}

void ExtractPackage(const char* destinationFolder, int mode)
{
    static bool undoRegistered;
    if (!undoRegistered) {
        atexit(UndoUnfinishedPass);
        undoRegistered = true;
    }
    ByteStream bytes;
    int packageSize = 0;
    FILE* stream = OpenPackage(&bytes, &packageSize);
    if (stream == NULL)
        FailExtraction(NULL);
    HWND window = mode == EXTRACT_FULL_PASS ? OpenProgressWindow(packageSize) : NULL;
    if (mode == EXTRACT_FULL_PASS)
        PrepareFullPass(destinationFolder, stream);
    int consumed = 0;
    int fileOrdinal = 0;
    for (;;) {
        // Every cause of damage the reader tells apart ends in the one read-failure notice.
        EntryHeader header;
        int read = ReadEntryHeader(&bytes, &header);
        if (read == PACKAGE_END) {
            if (mode == EXTRACT_FULL_PASS) {
                int committed = CommitJournal();
                if (committed == TRANSACTION_IN_USE) {
                    // Undone already: the player may close the game and have the whole pass again.
                    char path[PATH_BUFFER_SIZE];
                    if (!PathBelow(destinationFolder, GetBusyName(), path))
                        CopyText(path, GetBusyName(), PATH_BUFFER_SIZE);
                    if (!AskRetry(IN_USE_TEXT, path))
                        EndCancelled(stream);
                    EndPass(stream);
                    ExtractPackage(destinationFolder, mode);
                    return;
                }
                if (committed != 0)
                    FailExtraction(stream);
                SweepLeftoverFolders(destinationFolder);
            }
            EndPass(stream);
            return;
        }
        if (read != PACKAGE_ENTRY)
            FailExtraction(stream);
        const PackageEntry* entry = &header.entry;
        consumed += EntryHeaderSize(entry);

        if (mode == EXTRACT_SETUP_PASS) {
            int step = SetupPassStep(entry);
            if (step == SETUP_END) {
                EndPass(stream);
                return;
            }
            if (step == SETUP_SKIP) {
                if (!IsFolderEntry(entry) && SkipPackageData(&bytes, entry) != PACKAGE_ENTRY)
                    FailExtraction(stream);
                continue;
            }
        }

        // A name that would write outside the destination folder, or that Windows would write
        // under another name ("game.dat." as game.dat), counts as damage: no package a maker's
        // tool produced carries one.
        if (!IsSafeEntryName(destinationFolder, &header))
            FailExtraction(stream);
        char path[PATH_BUFFER_SIZE];
        snprintf(path, sizeof path, "%s\\%s", destinationFolder, entry->name);
        if (IsFolderEntry(entry)) {
            if (CreateEntryFolder(entry->name, path) != 0)
                FailExtraction(stream);
            continue;
        }
        consumed += PACKAGE_TIME_SIZE;
        const FoundDestination* destination =
            mode == EXTRACT_FULL_PASS ? (fileOrdinal < foundCount ? &found[fileOrdinal] : NULL) : NULL;
        ++fileOrdinal;
        if (mode == EXTRACT_FULL_PASS && destination == NULL)
            FailExtraction(stream);
        if (InflateEntry(&bytes, &header, destinationFolder, path, window, consumed, destination) != 0)
            FailExtraction(stream);
        consumed += (int)entry->compressedSize;
    }
}
