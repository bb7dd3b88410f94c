// Which [delfiles_afterinst] lines stay inside the target folder (text/removal_pattern.h).
#include "text/removal_pattern.h"

#include "text/path_text.h"

bool IsConfinedPattern(const char* line)
{
    return IsConfinedRelativePath(line);
}
