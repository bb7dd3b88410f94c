// Core. Which [delfiles_afterinst] lines stay inside the target folder (update/removal_pattern.h).
#include "update/removal_pattern.h"

#include "startup/path_text.h"

bool IsConfinedPattern(const char* line)
{
    return IsConfinedRelativePath(line);
}
