// The settings table read from install.env's key lines, and one accessor per key.
#ifndef UPDATER_SETTINGS_SETTINGS_H
#define UPDATER_SETTINGS_SETTINGS_H

struct SettingsEntry {
    char* key;
    char* value;  // "|" already turned into spaces
    SettingsEntry* next;
};

// Opens the file with OpenDataFile("rt"), appends its key lines to the table, returns 0.
int LoadSettings(const char* fileName);
// The first matching value or the default, cut to size - 1 bytes; returns buffer.
char* GetSetting(const char* key, char* buffer, int size, const char* defaultText);
int GetSettingInt(const char* key, int defaultValue);
void FreeSettings(void);

const char* GetRegGlobal(void);
const char* GetRegLocal(void);
const char* GetIniFile(void);
const char* GetIniSection(void);
const char* GetTitleBar(void);
const char* GetInstTo(void);
// NULL when the key is absent.
const char* GetInstFol(void);
const char* GetKeyFile(void);
const char* GetChkReg(void);
int GetInstMakeFol(void);
int GetChkRegVer(void);
int GetChkRegVerHigh(void);
// TITLEBAR followed by " アップデータ".
const char* GetTitleText(void);

#endif
