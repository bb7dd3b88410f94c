// The section reader over arbitrary install.env bytes.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "settings/action_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TextModeReader reader;
    InitTextModeReader(&reader, data, size);
    int open = ReadActionSections(ReadTextModeLine, &reader, NULL, NULL);
    if (open < SECTION_NONE || open > SECTION_DELFILES_AFTERINST)
        __builtin_trap();
    for (int section = SECTION_NONE; section <= SECTION_DELFILES_AFTERINST; section++) {
        for (const ActionEntry* entry = GetActionList(section); entry != NULL; entry = entry->next) {
            size_t length = strlen(entry->text);
            // Entries are whole lines without their trailing separators, never empty.
            if (length == 0 || length > TEXT_BUFFER_SIZE - 1 || (unsigned char)entry->text[length - 1] <= 32)
                __builtin_trap();
        }
    }
    FreeActionLists();
    return 0;
}
