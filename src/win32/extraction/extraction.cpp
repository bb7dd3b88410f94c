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

// Writes one file entry's data, the stream at the data; 0 when the file was written whole, else 1.
static int InflateEntry(ByteStream* stream, const EntryHeader* header, const char* folder, const char* path,
                        HWND window, int consumed)
{
    unsigned char* input = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    unsigned char* output = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    int result = 1;
    HANDLE file = OpenExtractedFile(folder, header->entry.name);
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
}

static void FailExtraction(FILE* stream)
{
    UndoUnfinishedPass();
    if (stream != NULL)
        fclose(stream);
    CloseProgressWindow();
    ShowError(READ_FAILURE_TEXT);
    RemoveWorkFolder();
    exit(-1);
}

static void EndPass(FILE* stream)
{
    DiscardExtractedFile();
    ForgetDestinations();
    fclose(stream);
    CloseProgressWindow();
}

// What the pass keeps on disk until it commits: every new file beside the old one it replaces.
// Folders, the record and the file system's own overhead are covered by a margin.
#define FREE_SPACE_MARGIN (4 * 1024 * 1024)

// Whether an existing destination can be replaced: a plain file (not a folder, not a link), not
// read-only, that nobody holds open without letting it be renamed (a scanner may, for a moment).
static bool CanReplace(const char* path, DWORD attributes)
{
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0 || IsLinkItem(path, attributes))
        return false;
    for (int attempt = 0;; ++attempt) {
        HANDLE file = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (attempt >= HELD_FILE_RETRIES || GetLastError() != ERROR_SHARING_VIOLATION)
            return false;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// Every entry against what the pass will need, before the first write: a name that may be
// written and fits with the working folder beside it, a destination that can be replaced, room
// on the disk. 0 when the pass can go ahead.
static int CheckBeforeWriting(const char* destinationFolder)
{
    ByteStream bytes;
    int packageSize = 0;
    FILE* stream = OpenPackage(&bytes, &packageSize);
    if (stream == NULL)
        return 1;
    uint64_t needed = FREE_SPACE_MARGIN;
    int result = 1;
    ForgetDestinations();
    ForgetLeftoverFolders();
    SearchLeftoverFolders(true);
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
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (folder ? (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 : !CanReplace(path, attributes)))
            break;
        if (!folder)
            needed += entry->originalSize;
    }
    fclose(stream);
    ForgetDestinations();
    SearchLeftoverFolders(false);
    ULARGE_INTEGER available;
    if (result == 0 && GetDiskFreeSpaceExA(destinationFolder, &available, NULL, NULL) && available.QuadPart < needed)
        result = 1;
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

// A folder the pass makes goes on record first, so that the undoing removes it again.
static int CreateEntryFolder(const char* name, const char* path)
{
    if (IsJournalOpen()) {
        if (FindDestination(GetJournalFolder(), name) != INVALID_FILE_ATTRIBUTES)
            return 0;
        if (RecordStep(JOURNAL_FOLDER, name, NULL, NULL) != 0)
            return 1;
        NoteDestination(name, FILE_ATTRIBUTE_DIRECTORY);
    }
    CreateDirectoryA(path, NULL);
    return 0;
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
    // What an interrupted run left is finished first, silently; then nothing is written before
    // every entry has passed its checks.
    if (mode == EXTRACT_FULL_PASS && (RecoverInterruptedUpdate(destinationFolder) != 0 ||
                                      CheckBeforeWriting(destinationFolder) != 0 || BeginJournal(destinationFolder) != 0))
        FailExtraction(stream);
    int consumed = 0;
    for (;;) {
        // Every cause of damage the reader tells apart ends in the one read-failure notice.
        EntryHeader header;
        int read = ReadEntryHeader(&bytes, &header);
        if (read == PACKAGE_END) {
            if (mode == EXTRACT_FULL_PASS && CommitJournal() != 0)
                FailExtraction(stream);
            if (mode == EXTRACT_FULL_PASS)
                SweepLeftoverFolders(destinationFolder);
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
        if (InflateEntry(&bytes, &header, destinationFolder, path, window, consumed) != 0)
            FailExtraction(stream);
        consumed += (int)entry->compressedSize;
    }
}
