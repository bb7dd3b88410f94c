// Whatever the player types into the SETUP field: the normalisation must stay inside its
// 260-byte buffer, never cut, and leave a refused text as it was.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "text/folder_text.h"
#include "text/cp932_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const char* const kWindowsFolders[] = {"C:\\WINDOWS", "\\WINDOWS", "", "E:\\W\\x95\\\\"};
    const uint8_t control = data[0];
    const char* windowsFolder = kWindowsFolders[control & 3];
    FolderTextSettings settings = {(control & 4) ? "Maker" : NULL, (control & 8) ? "Product" : "\x95\\",
                                   (control & 16) ? 1 : 0};
    ++data;
    --size;

    // An exact heap block, so one byte too far is an ASan report.
    char* text = (char*)malloc(PATH_BUFFER_SIZE);
    size_t length = 0;
    while (length < size && length < PATH_BUFFER_SIZE - 1 && data[length] != 0) {
        text[length] = (char)data[length];
        ++length;
    }
    text[length] = '\0';
    char typed[PATH_BUFFER_SIZE];
    memcpy(typed, text, length + 1);

    int result = NormaliseFolderText(text, windowsFolder, &settings);
    if (result == FOLDER_TEXT_OK) {
        if (strlen(text) > PATH_BUFFER_SIZE - 1 || strchr(text, '/') != NULL)
            abort();
        EndsWithSeparator(text);
    } else if (result == FOLDER_TEXT_NETWORK || result == FOLDER_TEXT_TOO_LONG) {
        if (strcmp(text, typed) != 0)
            abort();
    } else {
        abort();
    }
    free(text);
    return 0;
}
