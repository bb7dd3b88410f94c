// The two extraction passes over the package behind the executable image. Each file is
// inflated into a temporary file beside its destination and put in place only after its
// stream ended with a correct check, so a damaged package never leaves a file cut short.
#include "package/extraction.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "package/byte_stream.h"
#include "package/entry_names.h"
#include "package/package_format.h"
#include "startup/notices.h"
#include "startup/path_text.h"
#include "startup/work_folder.h"
#include "ui/progress_window.h"

#define READ_FAILURE_TEXT "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。"

static int packageSize;
// Where the trailer stands: entry headers are never read into it.
static int64_t packageLimit = -1;
static char packageFilePath[ENTRY_PATH_SIZE];

// The temporary file being written, so that an exit in the middle of a file (a quit message
// met while draining the queue) does not leave it behind in the target folder.
static HANDLE pendingHandle = INVALID_HANDLE_VALUE;
static char pendingPath[ENTRY_PATH_SIZE];
static bool pendingCleanupRegistered;

void SetPackageFilePath(const char* path)
{
    CopyText(packageFilePath, path != NULL ? path : "", ENTRY_PATH_SIZE);
}

FILE* OpenPackage(void)
{
    char path[ENTRY_PATH_SIZE];
    if (packageFilePath[0] != '\0') {
        CopyText(path, packageFilePath, ENTRY_PATH_SIZE);
    } else {
        DWORD length = GetModuleFileNameA(NULL, path, ENTRY_PATH_SIZE);
        if (length == 0 || length >= ENTRY_PATH_SIZE)
            return NULL;
    }
    FILE* stream = fopen(path, "rb");
    if (stream == NULL)
        return NULL;
    ByteStream bytes = FileByteStream(stream);
    int32_t size = 0;
    if (LocatePackage(&bytes, &size) != PACKAGE_ENTRY) {
        fclose(stream);
        return NULL;
    }
    packageSize = size;
    packageLimit = bytes.limit;
    return stream;
}

int GetPackageSize(void)
{
    return packageSize;
}

bool IsSetupFile(const char* name)
{
    return IsSetupFileName(name);
}

static void DiscardPendingFile(void)
{
    if (pendingHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(pendingHandle);
        pendingHandle = INVALID_HANDLE_VALUE;
    }
    if (pendingPath[0] != '\0') {
        DeleteFileA(pendingPath);
        pendingPath[0] = '\0';
    }
}

// Creates a new empty file in the destination's folder under a name no other file has. The
// name is never longer than the room the destination path leaves, so every destination that
// fits 259 bytes gets one.
static HANDLE CreateTemporaryBeside(const char* destinationPath, char* temporaryPath)
{
    int folderLength = FolderPartLength(destinationPath);
    int room = ENTRY_PATH_SIZE - 1 - folderLength;
    if (room < 1)
        return INVALID_HANDLE_VALUE;
    unsigned seed = (unsigned)GetTickCount() ^ ((unsigned)GetCurrentProcessId() << 16);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        unsigned number = seed + attempt * 0x9E3779B9u;
        char name[ENTRY_PATH_SIZE];
        if (room >= 12) {
            snprintf(name, sizeof name, "~upd%04X.tmp", number & 0xFFFF);
        } else {
            int digits = room - 1 < 8 ? room - 1 : 8;
            snprintf(name, sizeof name, "~%0*X", digits, digits == 0 ? 0 : number & (0xFFFFFFFFu >> (32 - 4 * digits)));
            name[room] = '\0';
        }
        memcpy(temporaryPath, destinationPath, (size_t)folderLength);
        CopyText(temporaryPath + folderLength, name, ENTRY_PATH_SIZE - folderLength);
        HANDLE file = CreateFileA(temporaryPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

static bool WriteBlock(HANDLE file, const unsigned char* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, NULL) && written == size;
}

// Set on the temporary file's own handle after its last write: the rename keeps the time, and
// the file is not opened a second time. A failure here is ignored.
static void SetLastWriteTime(HANDLE file, uint64_t lastWriteTime)
{
    FILETIME time;
    time.dwLowDateTime = (DWORD)lastWriteTime;
    time.dwHighDateTime = (DWORD)(lastWriteTime >> 32);
    SetFileTime(file, NULL, NULL, &time);
}

// Inflates the stream into the open temporary file in whole blocks; 0 when it ended with a
// correct check.
static int InflateBlocks(FILE* stream, unsigned compressedSize, HANDLE file, unsigned char* input,
                         unsigned char* output, HWND window, int consumed)
{
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    if (inflateInit_(&zs, "1.2.3", (int)sizeof(z_stream)) != Z_OK)
        return 1;
    int written = 0;
    unsigned remaining = compressedSize;
    zs.next_out = output;
    zs.avail_out = PACKAGE_UNIT;
    for (;;) {
        if (zs.avail_in == 0 && remaining > 0) {
            unsigned chunk = remaining < PACKAGE_UNIT ? remaining : PACKAGE_UNIT;
            zs.next_in = input;
            zs.avail_in = (uInt)fread(input, 1, chunk, stream);
            remaining -= chunk;
            consumed += (int)chunk;
        }
        int result = inflate(&zs, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            break;
        if (result != Z_OK) {
            inflateEnd(&zs);
            return 1;
        }
        if (zs.avail_out == 0) {
            if (!WriteBlock(file, output, PACKAGE_UNIT)) {
                inflateEnd(&zs);
                return 1;
            }
            written += PACKAGE_UNIT;
            zs.next_out = output;
            zs.avail_out = PACKAGE_UNIT;
            ReportProgress(window, written, consumed);
        }
    }
    int tail = PACKAGE_UNIT - (int)zs.avail_out;
    if (tail > 0) {
        if (!WriteBlock(file, output, (DWORD)tail)) {
            inflateEnd(&zs);
            return 1;
        }
        ReportProgress(window, written + tail, consumed);
    }
    return inflateEnd(&zs) == Z_OK ? 0 : 1;
}

int InflateEntry(FILE* stream, int originalSize, unsigned compressedSize, const char* path, HWND window, int consumed)
{
    unsigned char* input = (unsigned char*)CheckedAlloc(PACKAGE_UNIT);
    unsigned char* output = (unsigned char*)CheckedAlloc(PACKAGE_UNIT);
    unsigned char time[8];
    bool timeRead = fread(time, 1, 8, stream) == 8;
    consumed += 8;

    // A read-only file (or a folder) in the way fails now, before anything is written.
    DWORD attributes = GetFileAttributesA(path);
    bool blocked = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
    if (!pendingCleanupRegistered) {
        atexit(DiscardPendingFile);
        pendingCleanupRegistered = true;
    }
    pendingHandle = !timeRead || blocked ? INVALID_HANDLE_VALUE : CreateTemporaryBeside(path, pendingPath);
    if (pendingHandle == INVALID_HANDLE_VALUE) {
        pendingPath[0] = '\0';
        free(input);
        free(output);
        return 1;
    }
    if (window != NULL)
        BeginFileProgress(window, path, originalSize);

    int result = InflateBlocks(stream, compressedSize, pendingHandle, input, output, window, consumed);
    free(input);
    free(output);
    if (result == 0)
        SetLastWriteTime(pendingHandle, GetUi64(time));
    CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
    if (result != 0 || !MoveFileExA(pendingPath, path, MOVEFILE_REPLACE_EXISTING)) {
        DiscardPendingFile();
        return 1;
    }
    pendingPath[0] = '\0';
    return 0;
}

static void FailExtraction(FILE* stream)
{
    if (stream != NULL)
        fclose(stream);
    CloseProgressWindow();
    ShowError(READ_FAILURE_TEXT);
    RemoveWorkFolder();
    exit(-1);
}

static void EndPass(FILE* stream)
{
    fclose(stream);
    CloseProgressWindow();
}

void ExtractPackage(const char* destinationFolder, int mode)
{
    FILE* stream = OpenPackage();
    if (stream == NULL)
        FailExtraction(NULL);
    HWND window = mode == EXTRACT_FULL_PASS ? OpenProgressWindow(packageSize) : NULL;
    int consumed = 0;
    ByteStream bytes = FileByteStream(stream);
    bytes.limit = packageLimit;
    for (;;) {
        PackageEntry entry;
        int read = ReadPackageEntry(&bytes, &entry);
        if (read == PACKAGE_END) {
            EndPass(stream);
            return;
        }
        if (read != PACKAGE_ENTRY)
            FailExtraction(stream);
        consumed += EntryHeaderSize(&entry);

        if (mode == EXTRACT_SETUP_PASS) {
            int step = SetupPassStep(&entry);
            if (step == SETUP_END) {
                EndPass(stream);
                return;
            }
            if (step == SETUP_SKIP) {
                if (!IsFolderEntry(&entry) && SkipPackageData(&bytes, &entry) != PACKAGE_ENTRY)
                    FailExtraction(stream);
                continue;
            }
        }

        // A name that would write outside the destination folder, or that Windows would write
        // under another name ("game.dat." as game.dat), counts as damage: no package a maker's
        // tool produced carries one.
        if (!IsSafeEntryName(destinationFolder, &entry))
            FailExtraction(stream);
        char path[ENTRY_PATH_SIZE];
        snprintf(path, sizeof path, "%s\\%s", destinationFolder, entry.name);
        if (IsFolderEntry(&entry)) {
            CreateDirectoryA(path, NULL);
            continue;
        }
        if (InflateEntry(stream, entry.originalSize, entry.compressedSize, path, window, consumed) != 0)
            FailExtraction(stream);
        consumed += 8 + (int)entry.compressedSize;
    }
}
