// The five action lists, the [ini] / [reg] entry parsers and their placeholders.
#include "settings/action_lists.h"

#include <stdlib.h>
#include <string.h>

#include "settings/text_mode.h"
#include "text/path_text.h"

namespace {

const char kRegSeparator[] = "\"=\"";
const char kNoCdromRoot[] = "E:\\";

ActionEntry* listHeads[SECTION_COUNT];
ActionEntry* listTails[SECTION_COUNT];
char installPath[PATH_BUFFER_SIZE];

const char* DefaultDriveRoot(void)
{
    return kNoCdromRoot;
}

const char* (*driveRootFinder)(void) = DefaultDriveRoot;

char unescapedLine[TEXT_BUFFER_SIZE];
char iniExpanded[TEXT_BUFFER_SIZE];
char regExpanded[TEXT_BUFFER_SIZE];

// Replaces the first occurrence of placeholder in buffer (511 bytes of text at most) with
// replacement; false when the result would not fit.
bool ReplaceFirst(char* buffer, const char* placeholder, const char* replacement)
{
    const char* found = FindCharacters(buffer, placeholder);
    if (found == NULL)
        return true;
    size_t before = (size_t)(found - buffer);
    size_t placeholderLength = strlen(placeholder);
    size_t after = strlen(found + placeholderLength);
    size_t replacementLength = strlen(replacement);
    if (before + replacementLength + after > TEXT_BUFFER_SIZE - 1)
        return false;
    memmove(buffer + before + replacementLength, found + placeholderLength, after + 1);
    memcpy(buffer + before, replacement, replacementLength);
    return true;
}

const char* Expand(char* buffer, const char* text, const char* drivePlaceholder)
{
    if (strlen(text) > TEXT_BUFFER_SIZE - 1)
        return NULL;
    strcpy(buffer, text);
    if (!ReplaceFirst(buffer, drivePlaceholder, driveRootFinder()))
        return NULL;
    if (!ReplaceFirst(buffer, "REP_INSTALL", installPath))
        return NULL;
    return buffer;
}

}  // namespace

void ClearActionList(int section)
{
    if (section < 0 || section >= SECTION_COUNT)
        return;
    ActionEntry* entry = listHeads[section];
    while (entry != NULL) {
        ActionEntry* next = entry->next;
        free(entry->text);
        free(entry);
        entry = next;
    }
    listHeads[section] = listTails[section] = NULL;
}

void AppendActionEntry(int section, const char* line)
{
    if (section < 0 || section >= SECTION_COUNT)
        return;
    ActionEntry* entry = (ActionEntry*)AllocateEntryMemory(sizeof(ActionEntry));
    if (entry == NULL)
        return;
    entry->text = CopyEntryText(line, strlen(line));
    entry->next = NULL;
    if (entry->text == NULL) {
        free(entry);
        return;
    }
    if (listTails[section] == NULL)
        listHeads[section] = entry;
    else
        listTails[section]->next = entry;
    listTails[section] = entry;
}

void FreeActionLists(void)
{
    for (int section = 0; section < SECTION_COUNT; section++)
        ClearActionList(section);
}

ActionEntry* GetActionList(int section)
{
    return section >= 0 && section < SECTION_COUNT ? listHeads[section] : NULL;
}

void SetInstallPath(const char* path)
{
    CopyText(installPath, path, sizeof installPath);
}

void SetDriveRootFinder(const char* (*findDriveRoot)(void))
{
    driveRootFinder = findDriveRoot != NULL ? findDriveRoot : DefaultDriveRoot;
}

const char* UnescapeBackslashes(const char* text)
{
    if (strlen(text) > TEXT_BUFFER_SIZE - 1)
        return NULL;
    strcpy(unescapedLine, text);
    int i = 0;
    while (unescapedLine[i] != '\0') {
        if (unescapedLine[i] == '\\') {
            memmove(unescapedLine + i, unescapedLine + i + 1, strlen(unescapedLine + i + 1) + 1);
            // The byte that moved into place stays, whatever it is.
            if (unescapedLine[i] == '\0')
                break;
            i++;
        } else {
            i = NextCharacter(unescapedLine, i);
        }
    }
    return unescapedLine;
}

const char* ExpandIniPlaceholders(const char* text)
{
    return Expand(iniExpanded, text, "REP_CDROMDRIVE");
}

const char* ExpandRegPlaceholders(const char* text)
{
    return Expand(regExpanded, text, "REP_CDROM");
}

int SplitIniEntry(const char* text, char* key, char* value)
{
    if (FindCharacters(text, "=") == NULL)
        return ENTRY_NO_SEPARATOR;
    const char* expanded = ExpandIniPlaceholders(text);
    if (expanded == NULL)
        return ENTRY_TOO_LONG;  // cut short it would write a wrong value: skip it like a malformed entry
    const char* equals = FindCharacters(expanded, "=");
    if (equals == NULL)
        return ENTRY_NO_SEPARATOR;
    size_t keyLength = (size_t)(equals - expanded);
    memcpy(key, expanded, keyLength);
    key[keyLength] = '\0';
    strcpy(value, equals + 1);
    return ENTRY_TAKEN;
}

int SplitRegEntry(const char* text, char* name, char* data)
{
    if (FindCharacters(text, kRegSeparator) == NULL)
        return ENTRY_NO_SEPARATOR;
    const char* unescaped = UnescapeBackslashes(text);
    const char* expanded = unescaped != NULL ? ExpandRegPlaceholders(unescaped) : NULL;
    if (expanded == NULL)
        return ENTRY_TOO_LONG;
    if (expanded[0] == '\0')
        return ENTRY_NO_NAME;
    // The opening quote is dropped whatever it is; the name ends at the separator after it.
    const char* separator = FindCharacters(expanded, kRegSeparator);
    if (separator == expanded)
        separator = FindCharacters(expanded + 1, kRegSeparator);
    if (separator == NULL)
        return ENTRY_NO_NAME;
    size_t nameLength = (size_t)(separator - (expanded + 1));
    memcpy(name, expanded + 1, nameLength);
    name[nameLength] = '\0';
    const char* dataStart = separator + strlen(kRegSeparator);
    size_t dataLength = strlen(dataStart);
    memcpy(data, dataStart, dataLength);
    data[dataLength > 0 ? dataLength - 1 : 0] = '\0';
    return ENTRY_TAKEN;
}

int ParseIniEntry(const char* text, char* key, char* value)
{
    return SplitIniEntry(text, key, value) == ENTRY_TAKEN ? 0 : -1;
}

int ParseRegEntry(const char* text, char* name, char* data)
{
    return SplitRegEntry(text, name, data) == ENTRY_TAKEN ? 0 : -1;
}
