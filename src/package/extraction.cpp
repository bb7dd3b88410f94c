// The two extraction passes over the package behind the executable image. A file that did not
// exist is written in place and removed again on a failure; an existing file is inflated into
// a temporary file and replaced only after its stream ended with a correct check, so a damaged
// package never leaves an existing file cut short.
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

// The file being written (the new destination itself, or the temporary file of an existing
// one), so that an exit in the middle of a file (a quit message met while draining the queue)
// does not leave it behind in the target folder.
static HANDLE pendingHandle = INVALID_HANDLE_VALUE;
static char pendingPath[ENTRY_PATH_SIZE];
static bool pendingCleanupRegistered;

// The temporary files of existing destinations are made in a small folder of their own inside
// the destination's folder: the same volume, so the replace stays a rename, and a folder where a
// new name is found at once, where Wine looks a new name up by reading the whole folder. It
// serves one destination folder at a time; its path ends in a backslash ("" none).
static char stagingFolder[ENTRY_PATH_SIZE];
static int stagingParentLength;

// Attributes an existing file hands on to the file that replaces it.
#define KEPT_ATTRIBUTES \
    (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
#define CREATED_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
#define TEMPORARY_NAME_LENGTH 12  // ~updXXXX.tmp

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

static void LeaveStagingFolder(void)
{
    if (stagingFolder[0] == '\0')
        return;
    RemoveDirectoryA(stagingFolder);
    stagingFolder[0] = '\0';
}

static void DiscardUnfinishedFiles(void)
{
    DiscardPendingFile();
    LeaveStagingFolder();
}

// Makes a new file (file given) or folder (file NULL) under a name nobody else has in the folder
// that path[0, folderLength) names; the name never takes more room than a 259-byte path leaves.
static bool CreateUniqueEntry(const char* path, int folderLength, DWORD attributes, HANDLE* file, char* createdPath)
{
    int room = ENTRY_PATH_SIZE - 1 - folderLength;
    if (room < 1)
        return false;
    unsigned seed = (unsigned)GetTickCount() ^ ((unsigned)GetCurrentProcessId() << 16);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        unsigned number = seed + attempt * 0x9E3779B9u;
        char name[ENTRY_PATH_SIZE];
        if (room >= TEMPORARY_NAME_LENGTH) {
            snprintf(name, sizeof name, "~upd%04X.tmp", number & 0xFFFF);
        } else {
            int digits = room - 1 < 8 ? room - 1 : 8;
            snprintf(name, sizeof name, "~%0*X", digits, digits == 0 ? 0 : number & (0xFFFFFFFFu >> (32 - 4 * digits)));
            name[room] = '\0';
        }
        memcpy(createdPath, path, (size_t)folderLength);
        CopyText(createdPath + folderLength, name, ENTRY_PATH_SIZE - folderLength);
        if (file == NULL) {
            if (CreateDirectoryA(createdPath, NULL))
                return true;
        } else {
            *file = CreateFileA(createdPath, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, attributes, NULL);
            if (*file != INVALID_HANDLE_VALUE)
                return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return false;
}

// The staging folder for a destination: the one in use when it serves the same folder, else a
// new one (the old one goes). False when there is no room for one within 259 bytes.
static bool EnterStagingFolder(const char* destinationPath)
{
    int parentLength = FolderPartLength(destinationPath);
    if (stagingFolder[0] != '\0' && parentLength == stagingParentLength &&
        strncmp(stagingFolder, destinationPath, (size_t)parentLength) == 0)
        return true;
    LeaveStagingFolder();
    if (parentLength + 2 * (TEMPORARY_NAME_LENGTH + 1) > ENTRY_PATH_SIZE - 1)
        return false;
    char folder[ENTRY_PATH_SIZE];
    if (!CreateUniqueEntry(destinationPath, parentLength, 0, NULL, folder))
        return false;
    snprintf(stagingFolder, sizeof stagingFolder, "%s\\", folder);
    stagingParentLength = parentLength;
    return true;
}

// The temporary file that will replace an existing destination, with the attributes it keeps.
// Beside the destination when no staging folder fits.
static HANDLE CreateReplacement(const char* destinationPath, DWORD kept)
{
    DWORD attributes = kept & CREATED_ATTRIBUTES ? kept & CREATED_ATTRIBUTES : FILE_ATTRIBUTE_NORMAL;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool made = EnterStagingFolder(destinationPath)
                    ? CreateUniqueEntry(stagingFolder, (int)strlen(stagingFolder), attributes, &file, pendingPath)
                    : CreateUniqueEntry(destinationPath, FolderPartLength(destinationPath), attributes, &file, pendingPath);
    return made ? file : INVALID_HANDLE_VALUE;
}

// Opens what the file is written to: a destination that does not exist is created exclusively
// and written in place; an existing one gets a temporary file. Sets pendingHandle and
// pendingPath; false on failure. *kept receives the attributes the replaced file hands on, or
// INVALID_FILE_ATTRIBUTES when nothing is replaced.
static bool OpenDestination(const char* path, DWORD* kept)
{
    *kept = INVALID_FILE_ATTRIBUTES;
    pendingHandle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (pendingHandle != INVALID_HANDLE_VALUE) {
        CopyText(pendingPath, path, ENTRY_PATH_SIZE);
        return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    // A read-only file (or a folder) in the way fails now, before anything is written: Wine's
    // MoveFileExA would replace a read-only file without a word.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;
    *kept = attributes & KEPT_ATTRIBUTES;
    pendingHandle = CreateReplacement(path, *kept);
    if (pendingHandle == INVALID_HANDLE_VALUE) {
        pendingPath[0] = '\0';
        return false;
    }
    return true;
}

static bool WriteBlock(HANDLE file, const unsigned char* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, NULL) && written == size;
}

// Set on the file's own handle after its last write: a rename keeps the time, and the file is
// not opened a second time. A failure here is ignored.
static void SetLastWriteTime(HANDLE file, uint64_t lastWriteTime)
{
    FILETIME time;
    time.dwLowDateTime = (DWORD)lastWriteTime;
    time.dwHighDateTime = (DWORD)(lastWriteTime >> 32);
    SetFileTime(file, NULL, NULL, &time);
}

// FILE_RENAME_INFO, which the headers of a Windows XP build do not declare.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;  // bytes
    WCHAR fileName[4 + ENTRY_PATH_SIZE];
};
#define FILE_RENAME_INFO_CLASS 3
typedef BOOL(WINAPI* SetFileInformationByHandleFunction)(HANDLE, int, LPVOID, DWORD);

// Replaces the destination by the open temporary file through its own handle: one call where
// MoveFileExA opens, renames and closes (each a call into Wine's server). Windows before Vista
// lacks the function, and only a full path with a drive can be named; false then, or when the
// rename fails, and MoveFileExA does it instead.
static bool ReplaceThroughHandle(HANDLE file, const char* destinationPath)
{
    static SetFileInformationByHandleFunction setInformation;
    static bool looked;
    if (!looked) {
        setInformation = (SetFileInformationByHandleFunction)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                                      "SetFileInformationByHandle");
        looked = true;
    }
    if (setInformation == NULL || destinationPath[0] == '\0' || destinationPath[1] != ':' || destinationPath[2] != '\\')
        return false;
    RenameInformation rename;
    memset(&rename, 0, sizeof rename);
    rename.replaceIfExists = TRUE;
    memcpy(rename.fileName, L"\\??\\", 4 * sizeof(WCHAR));
    int characters = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, destinationPath, -1, rename.fileName + 4,
                                         ENTRY_PATH_SIZE);
    if (characters <= 1)
        return false;
    rename.fileNameLength = (DWORD)((4 + characters - 1) * sizeof(WCHAR));
    return setInformation(file, FILE_RENAME_INFO_CLASS, &rename, (DWORD)sizeof rename) != FALSE;
}

// Closes the written file and, for an existing destination, puts the temporary file in its
// place; any failure (result 1 included) removes what was written. 0 on success.
static int FinishDestination(const char* path, DWORD kept, int result, uint64_t lastWriteTime)
{
    bool replacing = kept != INVALID_FILE_ATTRIBUTES;
    // Not every attribute can be given at creation; the others are set by name, after closing.
    bool attributesLeft = replacing && (kept & ~CREATED_ATTRIBUTES) != 0;
    if (result == 0) {
        SetLastWriteTime(pendingHandle, lastWriteTime);
        if (replacing && !attributesLeft && ReplaceThroughHandle(pendingHandle, path))
            replacing = false;  // done: the temporary name is gone
    }
    CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
    if (result == 0 && replacing) {
        if (attributesLeft)
            SetFileAttributesA(pendingPath, kept);
        if (!MoveFileExA(pendingPath, path, MOVEFILE_REPLACE_EXISTING))
            result = 1;
    }
    if (result != 0) {
        DiscardPendingFile();
        return 1;
    }
    pendingPath[0] = '\0';
    return 0;
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

    if (!pendingCleanupRegistered) {
        atexit(DiscardUnfinishedFiles);
        pendingCleanupRegistered = true;
    }
    DWORD kept = INVALID_FILE_ATTRIBUTES;
    int result = 1;
    if (timeRead && OpenDestination(path, &kept)) {
        if (window != NULL)
            BeginFileProgress(window, path, originalSize);
        result = InflateBlocks(stream, compressedSize, pendingHandle, input, output, window, consumed);
        if (window != NULL)
            EndFileProgress(window);
        result = FinishDestination(path, kept, result, GetUi64(time));
    }
    free(input);
    free(output);
    return result;
}

static void FailExtraction(FILE* stream)
{
    LeaveStagingFolder();
    if (stream != NULL)
        fclose(stream);
    CloseProgressWindow();
    ShowError(READ_FAILURE_TEXT);
    RemoveWorkFolder();
    exit(-1);
}

static void EndPass(FILE* stream)
{
    LeaveStagingFolder();
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
