// Any [delfiles_afterinst] line: the checks must stay inside the line, and a line they accept
// must not lead the deletion out of the target folder.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "text/path_text.h"
#include "text/cp932_text.h"
#include "text/removal_pattern.h"

// What an accepted line must never hold, found with the independent trail-byte test: a leading
// separator, a colon, or a ".." component.
static bool ReachesOutside(const char* line)
{
    if (line[0] == '\\' || line[0] == '/')
        return true;
    int start = 0;
    for (int i = 0;; ++i) {
        bool trail = line[i] != '\0' && IsTrailByteAt(line, i);
        if (!trail && line[i] == ':')
            return true;
        if (line[i] == '\0' || (!trail && (line[i] == '\\' || line[i] == '/'))) {
            if (i - start == 2 && line[start] == '.' && line[start + 1] == '.')
                return true;
            if (line[i] == '\0')
                return false;
            start = i + 1;
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact heap block, so one byte too far is an ASan report.
    char* line = (char*)malloc(size + 1);
    memcpy(line, data, size);
    line[size] = '\0';

    if (IsConfinedPattern(line) && ReachesOutside(line))
        abort();
    int index = FirstSeparator(line);
    if (index >= 0 && (line[index] != '\\' || IsTrailByteAt(line, index)))
        abort();
    if (index < 0) {
        for (size_t i = 0; line[i] != '\0'; ++i)
            if (line[i] == '\\' && !IsTrailByteAt(line, (int)i))
                abort();
    } else {
        for (int i = 0; i < index; ++i)
            if (line[i] == '\\' && !IsTrailByteAt(line, i))
                abort();
    }
    free(line);
    return 0;
}
