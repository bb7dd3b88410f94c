// The two extraction passes over the package behind the executable image. Where each file is
// written and how it takes its place is extracted_file.cpp's business: an existing file is replaced
// only after the stream ended with a correct check, so a damaged package never leaves an existing
// file cut short.
#include "extraction/extraction.h"

#include <stdlib.h>
#include <string.h>

#include "package/byte_stream.h"
#include "package/entry_inflate.h"
#include "package/entry_names.h"
#include "extraction/extracted_file.h"
#include "package/package_format.h"
#include "base/notices.h"
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
static int InflateEntry(ByteStream* stream, const EntryHeader* header, const char* path, HWND window, int consumed)
{
    unsigned char* input = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    unsigned char* output = (unsigned char*)CheckedAlloc(BLOCK_SIZE);
    int result = 1;
    HANDLE file = OpenExtractedFile(path);
    if (file != INVALID_HANDLE_VALUE) {
        if (window != NULL)
            BeginFileProgress(window, path, header->entry.originalSize);
        FileSink target = {file, window, consumed};
        InflateSink sink = {&target, WriteBlock, ReportBlock};
        InflateOutcome outcome;
        result = InflateEntryData(stream, header->entry.compressedSize, -1, input, output, &sink, &outcome) == INFLATE_DONE ? 0 : 1;
        if (window != NULL)
            EndFileProgress(window);
        result = FinishExtractedFile(path, result, header->lastWriteTime);
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
    ByteStream bytes;
    int packageSize = 0;
    FILE* stream = OpenPackage(&bytes, &packageSize);
    if (stream == NULL)
        FailExtraction(NULL);
    HWND window = mode == EXTRACT_FULL_PASS ? OpenProgressWindow(packageSize) : NULL;
    int consumed = 0;
    for (;;) {
        // Every cause of damage the reader tells apart ends in the one read-failure notice.
        EntryHeader header;
        int read = ReadEntryHeader(&bytes, &header);
        if (read == PACKAGE_END) {
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
            CreateDirectoryA(path, NULL);
            continue;
        }
        consumed += PACKAGE_TIME_SIZE;
        if (InflateEntry(&bytes, &header, path, window, consumed) != 0)
            FailExtraction(stream);
        consumed += (int)entry->compressedSize;
    }
}
