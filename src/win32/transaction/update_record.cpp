// The record of a full pass: its lines as written and as read back (transaction/update_record.h).
#include "transaction/update_record.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/notices.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

// The first line names the format, so that a record of another kind (an earlier build's, whose
// steps carry no identities) is never acted on.
#define JOURNAL_HEADER UPDATE_JOURNAL_NAME " 2"
#define IDENTITY_FIELDS 4
#define MAX_FIELDS 8
static HANDLE journal = INVALID_HANDLE_VALUE;
static char journalFolder[PATH_BUFFER_SIZE];

bool JournalPath(const char* folder, char* path)
{
    int length = snprintf(path, PATH_BUFFER_SIZE, "%s\\%s", folder, UPDATE_JOURNAL_NAME);
    return length > 0 && length < PATH_BUFFER_SIZE;
}

static bool WriteLine(const char* line, int length)
{
    DWORD written = 0;
    return WriteFile(journal, line, (DWORD)length, &written, NULL) && written == (DWORD)length;
}

int BeginJournal(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return TRANSACTION_FAILED;
    CopyText(journalFolder, folder, PATH_BUFFER_SIZE);
    // Read back for the commit through the same handle; nobody else may write it meanwhile.
    journal = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                          NULL);
    if (journal == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS ? TRANSACTION_BUSY
                                                                                             : TRANSACTION_FAILED;
    return WriteLine(JOURNAL_HEADER "\r\n", (int)strlen(JOURNAL_HEADER "\r\n")) ? 0 : TRANSACTION_FAILED;
}

bool IsJournalOpen(void)
{
    return journal != INVALID_HANDLE_VALUE;
}

const char* GetJournalFolder(void)
{
    return journalFolder;
}

bool FlushJournal(void)
{
    return journal != INVALID_HANDLE_VALUE && FlushFileBuffers(journal) != FALSE;
}

void CloseJournal(void)
{
    if (journal != INVALID_HANDLE_VALUE)
        CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
}

// Appends "\tfield" to line at *length; false when it does not fit.
static bool AddField(char* line, int size, int* length, const char* field)
{
    int added = snprintf(line + *length, (size_t)(size - *length), "\t%s", field);
    if (added < 0 || added >= size - *length)
        return false;
    *length += added;
    return true;
}

static void FormatIdentity(const FileIdentity* identity, char fields[IDENTITY_FIELDS][20])
{
    snprintf(fields[0], 20, "%08lX", (unsigned long)identity->volume);
    snprintf(fields[1], 20, "%08lX%08lX", (unsigned long)identity->indexHigh, (unsigned long)identity->indexLow);
    snprintf(fields[2], 20, "%08lX%08lX", (unsigned long)(identity->size >> 32), (unsigned long)identity->size);
    snprintf(fields[3], 20, "%08lX%08lX", (unsigned long)(identity->time >> 32), (unsigned long)identity->time);
}

int RecordIdentity(int step, const char* name, const char* waiting, const char* kept, const FileIdentity* identity,
                   char how)
{
    if (journal == INVALID_HANDLE_VALUE)
        return 1;
    char line[3 * PATH_BUFFER_SIZE + 96];
    int length = snprintf(line, sizeof line, "%c", step);
    const char* names[3] = {name, waiting, kept};
    for (int i = 0; i < 3; ++i) {
        if (names[i] != NULL && !AddField(line, (int)sizeof line - 2, &length, names[i]))
            return 1;
    }
    if (identity != NULL) {
        char fields[IDENTITY_FIELDS][20];
        FormatIdentity(identity, fields);
        for (int i = 0; i < IDENTITY_FIELDS; ++i) {
            if (!AddField(line, (int)sizeof line - 2, &length, fields[i]))
                return 1;
        }
    }
    if (how != 0) {
        char text[2] = {how, '\0'};
        if (!AddField(line, (int)sizeof line - 2, &length, text))
            return 1;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    return WriteLine(line, length) ? 0 : 1;
}

int RecordStep(int step, const char* name, const char* waiting, const char* kept)
{
    return RecordIdentity(step, name, waiting, kept, NULL, 0);
}

bool IsHexDigits(const char* text, size_t most)
{
    size_t length = strlen(text);
    if (length == 0 || length > most)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

static uint64_t HexValue(const char* text)
{
    uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c)
        value = (value << 4) | (uint64_t)(*c <= '9' ? *c - '0' : *c - 'A' + 10);
    return value;
}

// Four fields of hexadecimal digits; false when they are not that.
static bool ParseIdentity(char** fields, FileIdentity* identity)
{
    for (int i = 0; i < IDENTITY_FIELDS; ++i) {
        if (fields[i] == NULL || !IsHexDigits(fields[i], i == 0 ? 8 : 16))
            return false;
    }
    identity->volume = (DWORD)HexValue(fields[0]);
    uint64_t index = HexValue(fields[1]);
    identity->indexHigh = (DWORD)(index >> 32);
    identity->indexLow = (DWORD)index;
    identity->size = HexValue(fields[2]);
    identity->time = HexValue(fields[3]);
    return true;
}

bool IsWorkPath(const char* name, const char* path, bool waiting)
{
    if (name == NULL || path == NULL)
        return false;
    int folderPart = FolderPartLength(name);
    if (strncmp(name, path, (size_t)folderPart) != 0)
        return false;
    const char* work = path + folderPart;
    const char* separator = strchr(work, '\\');
    if (!waiting)
        return separator == NULL && IsUpdateTemporaryName(work, strlen(work));
    return separator != NULL && IsUpdateTemporaryName(work, (size_t)(separator - work)) &&
           IsHexDigits(separator + 1, UPDATE_WAITING_NAME_DIGITS);
}

static bool IsSoundName(const char* name, bool folder)
{
    return name != NULL && CheckEntryName(name, folder) == ENTRY_NAME_OK;
}

// A record is only ever acted on within the game folder, on names that a package could carry and
// on working folders of the updater's own form beside them.
static bool IsSoundStep(const Step* step)
{
    switch (step->kind) {
    case JOURNAL_FOLDER:
        return IsSoundName(step->name, true);
    case JOURNAL_WORK_FOLDER:
        return IsWorkPath(step->name, step->name, false);
    case JOURNAL_NEW:
        return IsSoundName(step->name, false) && IsWorkPath(step->name, step->waiting, true);
    case JOURNAL_REPLACE:
        return IsSoundName(step->name, false) && IsWorkPath(step->name, step->waiting, true) &&
               IsWorkPath(step->name, step->kept, true) && strcmp(step->waiting, step->kept) != 0;
    default:
        return false;
    }
}

// Splits the record into its steps (in place); NULL when it is no record of this kind. The last
// line counts only when whole: a record cut off mid-line (a lost machine) ends before it.
Step* ReadSteps(char* text, DWORD size, int* count, bool* committed, bool* abandoned)
{
    *count = 0;
    *committed = false;
    *abandoned = false;
    size_t headerLength = strlen(JOURNAL_HEADER "\r\n");
    // Cut off before its first step: nothing was done.
    if (size < headerLength && memcmp(text, JOURNAL_HEADER "\r\n", size) == 0)
        return (Step*)CheckedAlloc(sizeof(Step));
    if (size < headerLength || memcmp(text, JOURNAL_HEADER "\r\n", headerLength) != 0)
        return NULL;
    int lines = 0;
    for (DWORD i = (DWORD)headerLength; i < size; ++i)
        lines += text[i] == '\n';
    Step* steps = (Step*)CheckedAlloc(sizeof(Step) * (size_t)(lines + 1));
    char* line = text + headerLength;
    char* end = text + size;
    while (line < end) {
        char* newline = (char*)memchr(line, '\n', (size_t)(end - line));
        if (newline == NULL)
            break;
        *newline = '\0';
        if (newline > line && newline[-1] == '\r')
            newline[-1] = '\0';
        char* fields[MAX_FIELDS] = {NULL};
        int fieldCount = 0;
        char* cursor = line[0] != '\0' ? line + 1 : line;
        while (*cursor == '\t' && fieldCount < MAX_FIELDS) {
            *cursor++ = '\0';
            fields[fieldCount++] = cursor;
            while (*cursor != '\0' && *cursor != '\t')
                ++cursor;
        }
        bool whole = *cursor == '\0';
        Step* last = *count > 0 ? &steps[*count - 1] : NULL;
        Step step;
        memset(&step, 0, sizeof step);
        step.kind = line[0];
        switch (step.kind) {
        case JOURNAL_COMMIT:
            *committed = true;
            break;
        case JOURNAL_UNDO:
            *abandoned = true;
            break;
        case JOURNAL_WORK_MADE:
        case JOURNAL_FOLDER_MADE:
            if (whole && fieldCount == IDENTITY_FIELDS && last != NULL && !last->hasMade &&
                last->kind == (step.kind == JOURNAL_WORK_MADE ? JOURNAL_WORK_FOLDER : JOURNAL_FOLDER))
                last->hasMade = ParseIdentity(fields, &last->made);
            break;
        case JOURNAL_WRITTEN:
            if (whole && fieldCount == IDENTITY_FIELDS + 1 && last != NULL && !last->hasMade &&
                (last->kind == JOURNAL_NEW || last->kind == JOURNAL_REPLACE) && strlen(fields[4]) == 1 &&
                strchr(last->kind == JOURNAL_NEW ? "N" : "LM", fields[4][0]) != NULL &&
                ParseIdentity(fields, &last->made)) {
                last->hasMade = true;
                last->how = fields[4][0];
            }
            break;
        default:
            step.name = fields[0];
            step.waiting = fields[1];
            step.kept = fields[2];
            if (!whole)
                break;
            if (step.kind == JOURNAL_REPLACE && (fieldCount != 3 + IDENTITY_FIELDS || !ParseIdentity(fields + 3, &step.old)))
                break;
            if (step.kind != JOURNAL_REPLACE && fieldCount != (step.kind == JOURNAL_NEW ? 2 : 1))
                break;
            if (IsSoundStep(&step))
                steps[(*count)++] = step;
            break;
        }
        line = newline + 1;
    }
    return steps;
}

// Sets a record that cannot be read aside under a free name: it is never acted on, never blocks
// an update, and stays for whoever wants to look at it.
int SetRecordAside(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return TRANSACTION_FAILED;
    for (int number = 1; number < 100; ++number) {
        char aside[PATH_BUFFER_SIZE];
        int length = number == 1 ? snprintf(aside, sizeof aside, "%s\\%s", folder, UPDATE_JOURNAL_ASIDE_NAME)
                                 : snprintf(aside, sizeof aside, "%s\\%s%d", folder, UPDATE_JOURNAL_ASIDE_NAME, number);
        if (length <= 0 || length >= (int)sizeof aside)
            return TRANSACTION_FAILED;
        if (MoveFileExA(path, aside, 0))
            return 0;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return IsHeldError(error) ? TRANSACTION_BUSY : TRANSACTION_FAILED;
    }
    return TRANSACTION_FAILED;
}

// The whole record as written so far, for the commit; NULL when it cannot be read back.
char* ReadBackJournal(DWORD* size)
{
    LARGE_INTEGER length;
    if (!GetFileSizeEx(journal, &length) || length.HighPart != 0)
        return NULL;
    char* text = (char*)CheckedAlloc((size_t)length.LowPart + 1);
    DWORD read = 0;
    LARGE_INTEGER start = {{0, 0}};
    if (!SetFilePointerEx(journal, start, NULL, FILE_BEGIN) || !ReadFile(journal, text, length.LowPart, &read, NULL) ||
        read != length.LowPart || !SetFilePointerEx(journal, start, NULL, FILE_END)) {
        free(text);
        return NULL;
    }
    *size = read;
    return text;
}

