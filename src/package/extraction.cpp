// The two extraction passes over the package behind the executable image. Where each file is
// written and how it takes its place is extracted_file.cpp's business: an existing file is
// replaced only after the stream ended with a correct check, so a damaged package never leaves
// an existing file cut short.
#include "package/extraction.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "package/byte_stream.h"
#include "package/entry_names.h"
#include "package/extracted_file.h"
#include "package/package_format.h"
#include "startup/notices.h"
#include "startup/path_text.h"
#include "startup/work_folder.h"
#include "ui/progress_window.h"

#define READ_FAILURE_TEXT "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。"

static int packageSize;
// Where the trailer stands: entry headers are never read into it.
static int64_t packageLimit = -1;
static char packageFilePath[PATH_BUFFER_SIZE];

void SetPackageFilePath(const char* path)
{
    CopyText(packageFilePath, path != NULL ? path : "", PATH_BUFFER_SIZE);
}

FILE* OpenPackage(void)
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

static bool WriteBlock(HANDLE file, const unsigned char* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, NULL) && written == size;
}

// Inflates the stream into the open file in whole blocks; 0 when it ended with a
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
    zs.avail_out = BLOCK_SIZE;
    for (;;) {
        if (zs.avail_in == 0 && remaining > 0) {
            unsigned chunk = remaining < BLOCK_SIZE ? remaining : BLOCK_SIZE;
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
            if (!WriteBlock(file, output, BLOCK_SIZE)) {
                inflateEnd(&zs);
                return 1;
            }
            written += BLOCK_SIZE;
            zs.next_out = output;
            zs.avail_out = BLOCK_SIZE;
            ReportProgress(window, written, consumed);
        }
    }
    int tail = BLOCK_SIZE - (int)zs.avail_out;
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
    unsigned char* input = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    unsigned char* output = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    unsigned char time[8];
    bool timeRead = fread(time, 1, 8, stream) == 8;
    consumed += 8;

    int result = 1;
    HANDLE file = timeRead ? OpenExtractedFile(path) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        if (window != NULL)
            BeginFileProgress(window, path, originalSize);
        result = InflateBlocks(stream, compressedSize, file, input, output, window, consumed);
        if (window != NULL)
            EndFileProgress(window);
        result = FinishExtractedFile(path, result, GetUi64(time));
    }
    free(input);
    free(output);
    return result;
}

static void FailExtraction(FILE* stream)
{
    EndExtractedFiles();
    if (stream != NULL)
        fclose(stream);
    CloseProgressWindow();
    ShowError(READ_FAILURE_TEXT);
    RemoveWorkFolder();
    exit(-1);
}

static void EndPass(FILE* stream)
{
    EndExtractedFiles();
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
        char path[PATH_BUFFER_SIZE];
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
