// The settings table loaded from the real install.env.
#ifndef UPDATER_BASE_SETTINGS_FILE_H
#define UPDATER_BASE_SETTINGS_FILE_H

// Opens the file with OpenDataFile("rt"), appends its key lines to the table, returns 0.
int LoadSettings(const char* fileName);

#endif
