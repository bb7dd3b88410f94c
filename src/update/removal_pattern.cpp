#include "update/removal_pattern.h"

#include "startup/path_text.h"

bool IsConfinedPattern(const char* line)
{
    return IsConfinedRelativePath(line);
}
