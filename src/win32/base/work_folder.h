// The private work folder under the temporary-files folder, and the process-wide file search
// with DeleteMatchingFiles on top of it.
#ifndef UPDATER_BASE_WORK_FOLDER_H
#define UPDATER_BASE_WORK_FOLDER_H

// 0 when the platform found at least one entry (file or folder), 1 otherwise.
int FindFirstMatch(const char* pattern);
// The next matching file (folders are passed over) as the pattern's folder part plus the
// entry's name, or NULL when the search is over. The buffer is overwritten by the next call.
const char* FindNextMatch(void);
// Deletes the files matching pattern inside folder; the current folder is kept.
void DeleteMatchingFiles(const char* folder, const char* pattern);

void CreateWorkFolder(void);
void RemoveWorkFolder(void);
const char* GetWorkFolder(void);
const char* GetStartFolder(void);

#endif
