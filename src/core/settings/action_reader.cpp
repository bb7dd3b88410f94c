// The section rules of install.env and the reading loop that fills the action lists.
#include "settings/action_reader.h"

#include <string.h>

namespace {

struct SectionInfo {
    const char* header;
    const char* name;
};

const SectionInfo kSections[SECTION_COUNT] = {
    {NULL, NULL},
    {"[delfiles]", "delfiles"},
    {"[delfiles_user]", "delfiles_user"},
    {"[ini]", "ini"},
    {"[reg]", "reg"},
    {"[delfiles_afterinst]", "delfiles_afterinst"},
};

bool BeginsWith(const char* line, const char* prefix)
{
    return strncmp(line, prefix, strlen(prefix)) == 0;
}

}  // namespace

const char* GetSectionHeader(int section)
{
    return section > SECTION_NONE && section < SECTION_COUNT ? kSections[section].header : NULL;
}

const char* GetSectionName(int section)
{
    return section > SECTION_NONE && section < SECTION_COUNT ? kSections[section].name : NULL;
}

int ClassifySectionLine(char* line, int* section)
{
    size_t length = strlen(line);
    while (length > 0 && IsSeparatorByte(line[length - 1]))
        line[--length] = '\0';
    *section = SECTION_NONE;
    if (length == 0 || BeginsWith(line, "//") || BeginsWith(line, ";"))
        return SECTIONLINE_SKIP;
    if (BeginsWith(line, "EOF"))
        return SECTIONLINE_END;
    if (BeginsWith(line, "-"))
        return SECTIONLINE_CLOSE;
    for (int kind = SECTION_DELFILES; kind < SECTION_COUNT; kind++) {
        if (BeginsWith(line, kSections[kind].header)) {
            *section = kind;
            return SECTIONLINE_HEADER;
        }
    }
    return SECTIONLINE_ENTRY;
}

int ReadActionSections(ReadLineFunction readLine, void* context, SectionLineObserver observe, void* observerContext)
{
    char line[TEXT_BUFFER_SIZE];
    int current = SECTION_NONE;
    while (readLine(line, sizeof line, context) != NULL) {
        int header = SECTION_NONE;
        int kind = ClassifySectionLine(line, &header);
        int told = SECTION_NONE;
        switch (kind) {
        case SECTIONLINE_END:
            if (observe != NULL)
                observe(observerContext, kind, current, line);
            return current;
        case SECTIONLINE_CLOSE:
            told = current;
            current = SECTION_NONE;
            break;
        case SECTIONLINE_HEADER:
            ClearActionList(header);
            current = told = header;
            break;
        case SECTIONLINE_ENTRY:
            if (current != SECTION_NONE)
                AppendActionEntry(current, line);
            told = current;
            break;
        default:
            break;
        }
        if (observe != NULL)
            observe(observerContext, kind, told, line);
    }
    return current;
}
