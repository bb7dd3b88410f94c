// Line reading for install.env. The updater reads it with fgets on a stream opened "rt"; the
// Windows C run-time's text mode turns CR LF into LF and stops at a byte 0x1A. The same lines come
// out of TextModeReader over bytes in memory, so the readers behave alike natively, in the
// builder's lint and in the updater.
#ifndef UPDATER_SETTINGS_TEXT_MODE_H
#define UPDATER_SETTINGS_TEXT_MODE_H

#include <stddef.h>
#include <stdio.h>

// fgets semantics: at most size - 1 bytes, up to and including a line feed; NULL at the end.
typedef char* (*ReadLineFunction)(char* buffer, int size, void* context);

struct TextModeReader {
    const unsigned char* data;
    size_t size;
    size_t position;
};

void InitTextModeReader(TextModeReader* reader, const void* data, size_t size);
// context is a TextModeReader.
char* ReadTextModeLine(char* buffer, int size, void* context);
// context is a FILE* (opened "rt" on Windows, where the run-time does the translation).
char* ReadFileLine(char* buffer, int size, void* context);

// A byte of value 32 or less separates tokens; bytes of 128 and above never do.
inline bool IsSeparatorByte(char byte)
{
    return (unsigned char)byte <= 32;
}

// Memory for table and list entries: malloc unless the updater installs its checked allocator.
void SetEntryAllocator(void* (*allocate)(size_t size));
void* AllocateEntryMemory(size_t size);
// A heap copy of length bytes of text, terminated; NULL when memory ran out.
char* CopyEntryText(const char* text, size_t length);

#endif
