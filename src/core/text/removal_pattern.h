// Byte work on the [delfiles_afterinst] lines: which lines stay inside the target folder
// (where a line's first folder level ends is FirstSeparator's).
#ifndef UPDATER_TEXT_REMOVAL_PATTERN_H
#define UPDATER_TEXT_REMOVAL_PATTERN_H

// False for a line that would reach outside the folder it is taken relative to: a leading
// backslash or slash, a drive or stream colon, or a ".." component (also written "...").
bool IsConfinedPattern(const char* line);

#endif
