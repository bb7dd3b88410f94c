// The proposal and the typed folder text of the manual choice (text/folder_text.h).
#include "text/folder_text.h"

#include <string.h>

#include "text/path_text.h"

// Large enough for any 259-byte text plus every addition, so lengths are checked once at the end
// instead of at every append.
#define FOLDER_WORK_SIZE 1024

static void AppendText(char* work, const char* addition)
{
    size_t length = strlen(work);
    size_t room = FOLDER_WORK_SIZE - 1 - length;
    size_t count = strlen(addition);
    if (count > room)
        count = room;
    memcpy(work + length, addition, count);
    work[length + count] = '\0';
}

// The part of path up to and including its first occurrence of mark; empty when there is none.
static void CopyUpToFirst(char* work, const char* path, char mark)
{
    const char* found = strchr(path, mark);
    work[0] = '\0';
    if (found == NULL)
        return;
    size_t length = (size_t)(found - path) + 1;
    if (length > FOLDER_WORK_SIZE - 1)
        length = FOLDER_WORK_SIZE - 1;
    memcpy(work, path, length);
    work[length] = '\0';
}

static int StoreResult(char* destination, const char* work)
{
    if (strlen(work) > PATH_BUFFER_SIZE - 1)
        return FOLDER_TEXT_TOO_LONG;
    strcpy(destination, work);
    return FOLDER_TEXT_OK;
}

int BuildFolderProposal(const char* windowsFolder, const FolderTextSettings* settings, char* proposal)
{
    char work[FOLDER_WORK_SIZE];
    CopyUpToFirst(work, windowsFolder, '\\');
    AppendText(work, "Program Files\\");
    if (settings->instFol != NULL) {
        AppendText(work, settings->instFol);
        AppendText(work, "\\");
    }
    AppendText(work, settings->instTo);
    int result = StoreResult(proposal, work);
    if (result != FOLDER_TEXT_OK)
        proposal[0] = '\0';
    return result;
}

// Only the first pair of backslash bytes counts; it is harmless when its first byte is the
// second byte of a double-byte character such as 表 (0x95 0x5C).
static bool IsNetworkText(const char* text)
{
    for (size_t i = 0; text[i] != '\0'; ++i) {
        if (text[i] == '\\' && text[i + 1] == '\\')
            return i == 0 || !IsLeadByte((unsigned char)text[i - 1]);
    }
    return false;
}

static void AppendProductFolder(char* work, const FolderTextSettings* settings)
{
    if (settings->instMakeFol == 0 || strstr(work, settings->instTo) != NULL)
        return;
    if (settings->instFol != NULL) {
        AppendText(work, "\\");
        AppendText(work, settings->instFol);
    }
    AppendText(work, "\\");
    AppendText(work, settings->instTo);
}

static void PrefixWindowsDrive(char* work, const char* windowsFolder)
{
    if (strchr(work, ':') != NULL)
        return;
    char drive[FOLDER_WORK_SIZE];
    CopyUpToFirst(drive, windowsFolder, ':');
    if (drive[0] == '\0')
        return;
    AppendText(drive, work);
    strcpy(work, drive);
}

static void SeparateRoot(char* work)
{
    char* colon = strchr(work, ':');
    if (colon == NULL || colon[1] == '\\')
        return;
    size_t length = strlen(work);
    if (length + 1 > FOLDER_WORK_SIZE - 1)
        return;
    memmove(colon + 2, colon + 1, strlen(colon + 1) + 1);
    colon[1] = '\\';
}

int NormaliseFolderText(char* text, const char* windowsFolder, const FolderTextSettings* settings)
{
    char work[FOLDER_WORK_SIZE];
    CopyText(work, text, PATH_BUFFER_SIZE);
    for (char* byte = work; *byte != '\0'; ++byte) {
        if (*byte == '/')
            *byte = '\\';
    }
    if (IsNetworkText(work))
        return FOLDER_TEXT_NETWORK;
    StripTrailingBackslash(work);
    AppendProductFolder(work, settings);
    PrefixWindowsDrive(work, windowsFolder);
    SeparateRoot(work);
    return StoreResult(text, work);
}

