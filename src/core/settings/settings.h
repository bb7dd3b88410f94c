// The settings table read from install.env's key lines, and one accessor per key.
#ifndef UPDATER_SETTINGS_SETTINGS_H
#define UPDATER_SETTINGS_SETTINGS_H

#define SETTINGS_VALUE_SIZE 128

// Every key the updater looks up: those it reads as text, and those it reads as integers. Kept
// beside the accessors so that the builder's checks name the keys the updater really reads.
#define UPDATER_TEXT_KEY_COUNT 11
#define UPDATER_INTEGER_KEY_COUNT 3
extern const char* const kUpdaterTextKeys[UPDATER_TEXT_KEY_COUNT];
extern const char* const kUpdaterIntegerKeys[UPDATER_INTEGER_KEY_COUNT];

struct SettingsEntry {
    char* key;
    char* value;  // "|" already turned into spaces
    SettingsEntry* next;
};

// Appends a copy of the key and of the value (its "|" turned into spaces); the key/value reader
// is the one caller outside the tests. Nothing is appended when memory ran out.
void AddSetting(const char* key, int keyLength, const char* value, int valueLength);
// The first matching value or the default, cut to size - 1 bytes; returns buffer.
char* GetSetting(const char* key, char* buffer, int size, const char* defaultText);
int GetSettingInt(const char* key, int defaultValue);
// The whole table in the order of the file, duplicates included (lint reads each line's stored
// value from it; the fuzzer of lint's model and the tests compare it with what they expect).
const SettingsEntry* FirstSetting(void);
void FreeSettings(void);

// Blanks at the start skipped, an optional sign, then the digits up to the first other byte;
// no digits give 0. A number beyond int stops at INT_MAX / INT_MIN rather than wrapping.
int ParseDecimal(const char* text);
// Turns every "|" character (not a second byte 0x7C) into a space.
void ReplaceBarsWithSpaces(char* value);

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
// INSTREADMEFL, the document the readme button opens, or "readme.txt"; cut to size - 1 bytes;
// returns out.
char* GetReadmeFileName(char* out, int size);
// TITLEBAR followed by " アップデータ".
const char* GetTitleText(void);

#endif
