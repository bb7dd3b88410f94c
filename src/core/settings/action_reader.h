// The section reader of install.env, apart from the file: the updater's LoadActionLists, the
// builder's lint and the tests feed it lines through a ReadLineFunction.
#ifndef UPDATER_SETTINGS_ACTION_READER_H
#define UPDATER_SETTINGS_ACTION_READER_H

#include "settings/action_lists.h"
#include "settings/text_mode.h"

enum SectionLineKind {
    SECTIONLINE_SKIP = 0,    // empty or comment
    SECTIONLINE_END = 1,     // begins with "EOF"
    SECTIONLINE_CLOSE = 2,   // begins with "-"
    SECTIONLINE_HEADER = 3,  // one of the five headers; *section says which
    SECTIONLINE_ENTRY = 4,   // anything else
};

// Told of every line the section reader reads, with the line as it was classified (separators
// at its end cut). section is: the one entered (HEADER; its entries so far are dropped), the
// one the entry went to or SECTION_NONE for a line outside every section, which is ignored
// (ENTRY), the one closed (CLOSE), the one still open where the reading stops (END); else
// SECTION_NONE.
typedef void (*SectionLineObserver)(void* context, int kind, int section, const char* line);

// Cuts the separators at the line's end (in place) and says what the line is.
int ClassifySectionLine(char* line, int* section);
// "[ini]" for SECTION_INI and so on; NULL for SECTION_NONE or an unknown value.
const char* GetSectionHeader(int section);
// "ini" for SECTION_INI: the name that the unclosed-section notice shows.
const char* GetSectionName(int section);

// Reads every line into the five lists. 0 when every section was closed, else the section
// still open at the end of the file or at an "EOF" line. observe may be NULL.
int ReadActionSections(ReadLineFunction readLine, void* context, SectionLineObserver observe, void* observerContext);

#endif
