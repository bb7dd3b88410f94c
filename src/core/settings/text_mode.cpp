// install.env lines as the C run-time's text mode delivers them, and the entries' memory.
#include "settings/text_mode.h"

#include <stdlib.h>
#include <string.h>

namespace {

const unsigned char kEndOfFileByte = 0x1A;

void* (*entryAllocator)(size_t size) = malloc;

// One character as text mode delivers it, or -1 at the end (0x1A ends the file for good).
int NextTextModeByte(TextModeReader* reader)
{
    if (reader->position >= reader->size)
        return -1;
    unsigned char byte = reader->data[reader->position];
    if (byte == kEndOfFileByte) {
        reader->position = reader->size;
        return -1;
    }
    reader->position++;
    if (byte == '\r' && reader->position < reader->size && reader->data[reader->position] == '\n') {
        reader->position++;
        return '\n';
    }
    return byte;
}

}  // namespace

void InitTextModeReader(TextModeReader* reader, const void* data, size_t size)
{
    reader->data = (const unsigned char*)data;
    reader->size = size;
    reader->position = 0;
}

char* ReadTextModeLine(char* buffer, int size, void* context)
{
    TextModeReader* reader = (TextModeReader*)context;
    if (size <= 0)
        return NULL;
    int length = 0;
    while (length < size - 1) {
        int byte = NextTextModeByte(reader);
        if (byte < 0)
            break;
        buffer[length++] = (char)byte;
        if (byte == '\n')
            break;
    }
    buffer[length] = '\0';
    return length == 0 ? NULL : buffer;
}

char* ReadFileLine(char* buffer, int size, void* context)
{
    return fgets(buffer, size, (FILE*)context);
}

void SetEntryAllocator(void* (*allocate)(size_t size))
{
    entryAllocator = allocate != NULL ? allocate : malloc;
}

void* AllocateEntryMemory(size_t size)
{
    return entryAllocator(size);
}

char* CopyEntryText(const char* text, size_t length)
{
    char* copy = (char*)entryAllocator(length + 1);
    if (copy == NULL)
        return NULL;
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}
