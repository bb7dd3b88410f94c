// Byte work on the [delfiles_afterinst] lines: which lines stay inside the target folder, and
// where a line's first folder level ends. Code page 932 aware: 表 (0x95 0x5C) is no separator.
#ifndef UPDATER_UPDATE_REMOVAL_PATTERN_H
#define UPDATER_UPDATE_REMOVAL_PATTERN_H

// False for a line that would reach outside the folder it is taken relative to: a leading
// backslash or slash, a drive or stream colon, or a ".." component (also written "...").
bool IsConfinedPattern(const char* line);

// Byte index of the line's first backslash character, or -1 when it has none.
int FirstBackslashIndex(const char* line);

#endif
