// Removing the [delfiles_afterinst] entries after the copy (update/after_install_removal.h).
#include "update/after_install_removal.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/reparse_points.h"
#include "settings/action_lists.h"
#include "text/cp932_text.h"
#include "base/work_folder.h"
#include "text/removal_pattern.h"
#include "text/buffer_sizes.h"

int RemoveListedEntry(const char* targetFolder, const char* entry)
{
    // The updater runs elevated: a line must never delete outside the product's folder.
    if (!IsConfinedPattern(entry))
        return 1;
    // Nor through a folder link, nor remove the link itself: it may lead anywhere, and the
    // files behind it are not the update's to name.
    if (PassesThroughLink(targetFolder, entry, false))
        return 1;
    DeleteMatchingFiles(targetFolder, entry);

    int level = FirstSeparator(entry);
    if (level < 0)
        return 0;
    char firstLevel[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
    if (level > PATH_BUFFER_SIZE - 1)
        return 1;
    memcpy(firstLevel, entry, (size_t)level);
    firstLevel[level] = '\0';
    // A cut path could name some other, empty folder: leave it alone instead.
    int length = snprintf(folder, sizeof folder, "%s\\%s", targetFolder, firstLevel);
    if (length < 0 || length >= (int)sizeof folder)
        return 1;
    return RemoveDirectoryA(folder) ? 0 : 1;
}

void RemoveAfterInstallFiles(const char* targetFolder)
{
    for (ActionEntry* entry = GetActionList(SECTION_DELFILES_AFTERINST); entry != NULL; entry = entry->next)
        RemoveListedEntry(targetFolder, entry->text);
}
