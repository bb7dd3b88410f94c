// The two extraction passes over the package behind the executable image. The full pass is one
// transaction, whose life the transaction room owns (checks, waiting files, commit, undoing,
// recovery, the record): every entry is checked before the first write, and a pass that fails in
// any way, or is cut off, leaves the game folder exactly as it was, undone before the notice or
// by the next run. Here the package is walked, inflated, and the player told.
#include "extraction/extraction.h"

#include <stdlib.h>
#include <string.h>

#include "package/byte_stream.h"
#include "package/entry_inflate.h"
#include "package/entry_names.h"
#include "package/delta_apply.h"
#include "package/package_format.h"
#include "base/notices.h"
#include "text/path_text.h"
#include "base/work_folder.h"
#include "transaction/update_checks.h"
#include "transaction/update_journal.h"
#include "transaction/waiting_file.h"
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
// A delta entry is made from the old versions the update accepts: a player's file that is none
// of them (changed by the player, a mod, a damaged install) cannot be updated from.
#define NO_BASE_TEXT                                                                                                  \
    "次のファイルが、このアップデートの対象のバージョンと一致しません。\n%s\n\n"                                 \
    "ゲームをインストールし直してから、もう一度アップデートしてください。"
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

// Writes one file entry's data, the stream at the data; 0 when the file was written whole, else 1.
static int InflateEntry(ByteStream* stream, const EntryHeader* header, const char* folder, const char* path,
                        HWND window, int consumed, const FileIdentity* old)
{
    unsigned char* input = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    unsigned char* output = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    int result = 1;
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

// Makes one delta entry's new file from the installed one (old, as the checks found it), the
// stream at the entry's data; 0 when the result was written whole and checked, else 1.
static int ApplyEntry(ByteStream* stream, const EntryHeader* header, const char* folder, const char* path, HWND window,
                      int consumed, const FileIdentity* old)
{
    // The old file is read through its own handle while the new one is written beside it; it must
    // still be the file the checks hashed.
    HANDLE oldFile = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    FileIdentity opened;
    if (oldFile == INVALID_HANDLE_VALUE)
        return 1;
    if (!ReadHandleIdentity(oldFile, &opened) || !SameItem(&opened, old)) {
        CloseHandle(oldFile);
        return 1;
    }
    unsigned char* work = (unsigned char*)CheckedAlloc(DELTA_WORK_SIZE);
    int result = 1;
    HANDLE file = OpenExtractedFile(folder, header->entry.name, old);
    if (file != INVALID_HANDLE_VALUE) {
        DeltaHeader delta;
        bool known = ReadDeltaHeader(stream, header->entry.compressedSize, &delta);
        if (window != NULL)
            BeginFileProgress(window, path, known && delta.resultSize < 0x7FFFFFFF ? (int)delta.resultSize : 0);
        HandleSource context;
        DeltaSource source;
        OpenOldFileSource(&context, oldFile, &source);
        FileSink target = {file, window, consumed};
        InflateSink sink = {&target, WriteBlock, ReportBlock};
        DeltaOutcome outcome;
        result = known && ApplyDeltaRecords(stream, &delta, header->entry.compressedSize, &source, work, &sink, &outcome) ==
                              DELTA_DONE
                     ? 0
                     : 1;
        if (window != NULL)
            EndFileProgress(window);
        result = FinishExtractedFile(folder, header->entry.name, result, header->lastWriteTime);
    }
    CloseHandle(oldFile);
    free(work);
    return result;
}

// A quit message met while draining the queue, or any other exit in the middle of the full pass,
// undoes it too.
static void UndoUnfinishedPass(void)
{
    DiscardExtractedFile();
    RollBackJournal();
    ForgetChecks();
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
    ForgetChecks();
    fclose(stream);
    CloseProgressWindow();
}

// Every entry against what the pass will need, before the first write (transaction/update_checks.h).
static int CheckBeforeWriting(const char* destinationFolder)
{
    ByteStream bytes;
    int packageSize = 0;
    FILE* stream = OpenPackage(&bytes, &packageSize);
    if (stream == NULL)
        return CHECK_REFUSED;
    BeginChecks(destinationFolder);
    int result = CHECK_REFUSED;
    for (;;) {
        EntryHeader header;
        int read = ReadEntryHeader(&bytes, &header);
        if (read == PACKAGE_END) {
            result = 0;
            break;
        }
        if (read != PACKAGE_ENTRY || !IsSafeEntryName(destinationFolder, &header))
            break;
        if (IsDeltaEntry(&header.entry)) {
            // Only its header is looked at here: which old version it was made from.
            DeltaHeader delta;
            if (!ReadDeltaHeader(&bytes, header.entry.compressedSize, &delta) ||
                !SkipBytes(&bytes, header.entry.compressedSize - DELTA_HEADER_SIZE))
                break;
            result = CheckDeltaEntry(&header.entry, &delta);
            if (result != 0)
                break;
            continue;
        }
        if (!IsFolderEntry(&header.entry) && SkipPackageData(&bytes, &header.entry) != PACKAGE_ENTRY)
            break;
        result = CheckEntry(&header.entry);
        if (result != 0)
            break;
    }
    fclose(stream);
    return EndChecks(result);
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
            if (!JoinPath(path, destinationFolder, GetBusyName()))
                CopyText(path, GetBusyName(), PATH_BUFFER_SIZE);
            if (!AskRetry(IN_USE_TEXT, path))
                EndCancelled(stream);
            continue;
        }
        if (recovered != 0)
            FailExtraction(stream);
        int checked = CheckBeforeWriting(destinationFolder);
        if (checked == CHECK_IN_USE) {
            if (!AskRetry(IN_USE_TEXT, GetCheckedName()))
                EndCancelled(stream);
            continue;
        }
        if (checked == CHECK_NO_ROOM) {
            unsigned long megabytes = (unsigned long)((GetShortfall() + 1024 * 1024 - 1) / (1024 * 1024));
            if (!AskRetry(NO_ROOM_TEXT, GetCheckedName(), megabytes))
                EndCancelled(stream);
            continue;
        }
        if (checked == CHECK_NO_BASE)
            EndWithNotice(stream, NO_BASE_TEXT, GetCheckedName());
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
                    if (!JoinPath(path, destinationFolder, GetBusyName()))
                        CopyText(path, GetBusyName(), PATH_BUFFER_SIZE);
                    if (!AskRetry(IN_USE_TEXT, path))
                        EndCancelled(stream);
                    EndPass(stream);
                    ExtractPackage(destinationFolder, mode);
                    return;
                }
                if (committed != 0)
                    FailExtraction(stream);
                SweepLeftoverFolders();
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
        if (!JoinPath(path, destinationFolder, entry->name))
            FailExtraction(stream);
        if (IsFolderEntry(entry)) {
            if (MakePackageFolder(destinationFolder, entry->name) != 0)
                FailExtraction(stream);
            continue;
        }
        consumed += PACKAGE_TIME_SIZE;
        bool replacing = false;
        const FileIdentity* old = NULL;
        char delta = 0;
        if (mode == EXTRACT_FULL_PASS && !GetFoundDestination(fileOrdinal, &replacing, &old, &delta))
            FailExtraction(stream);
        ++fileOrdinal;
        if (IsDeltaEntry(entry) && delta != FOUND_DELTA_APPLY) {
            // Made from another old version, or the file is new already.
            if (mode != EXTRACT_FULL_PASS || SkipPackageData(&bytes, entry) != PACKAGE_ENTRY)
                FailExtraction(stream);
        } else if (IsDeltaEntry(entry)) {
            if (ApplyEntry(&bytes, &header, destinationFolder, path, window, consumed, old) != 0)
                FailExtraction(stream);
        } else if (InflateEntry(&bytes, &header, destinationFolder, path, window, consumed, replacing ? old : NULL) != 0) {
            FailExtraction(stream);
        }
        consumed += (int)entry->compressedSize;
    }
}
