// The settings table, its lookups and one accessor per key.
#include "settings/settings.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "settings/text_mode.h"
#include "text/path_text.h"

const char* const kUpdaterTextKeys[UPDATER_TEXT_KEY_COUNT] = {
    "REG_GLOBAL", "REG_LOCAL", "INI_FILE", "INI_SECTION", "TITLEBAR",     "INSTTO",
    "INSTFOL",    "KEYFILE",   "CHKREG",   "INSTREADME",  "INSTREADMEFL",
};
const char* const kUpdaterIntegerKeys[UPDATER_INTEGER_KEY_COUNT] = {"INSTMAKEFOL", "CHKREGVER", "CHKREGVERHIGH"};

namespace {

SettingsEntry* settingsHead = NULL;
SettingsEntry* settingsTail = NULL;

// Memoised accessors: an empty buffer or a -1 means not looked up yet.
char regGlobal[SETTINGS_VALUE_SIZE];
char regLocal[SETTINGS_VALUE_SIZE];
char iniFile[SETTINGS_VALUE_SIZE];
char iniSection[SETTINGS_VALUE_SIZE];
int instMakeFol = -1;
int chkRegVer = -1;
int chkRegVerHigh = -1;

// Accessors that look up on every call still return their own process-wide buffer.
char titleBar[SETTINGS_VALUE_SIZE];
char instTo[SETTINGS_VALUE_SIZE];
char instFol[SETTINGS_VALUE_SIZE];
char keyFile[SETTINGS_VALUE_SIZE];
char chkReg[SETTINGS_VALUE_SIZE];

// Code page 932: " アップデータ" and the default "ZOREDU アプリケーション".
const char kTitleSuffix[] = " \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x5E";
const char kDefaultTitleBar[] = "ZOREDU \x83\x41\x83\x76\x83\x8A\x83\x50\x81\x5B\x83\x56\x83\x87\x83\x93";
char titleText[SETTINGS_VALUE_SIZE + sizeof kTitleSuffix];

const SettingsEntry* FindSetting(const char* key)
{
    for (const SettingsEntry* entry = settingsHead; entry != NULL; entry = entry->next) {
        if (strcmp(entry->key, key) == 0)
            return entry;
    }
    return NULL;
}

const char* MemoisedText(char* buffer, const char* key)
{
    if (buffer[0] == '\0')
        GetSetting(key, buffer, SETTINGS_VALUE_SIZE, "-");
    return buffer;
}

int MemoisedInt(int* kept, const char* key)
{
    if (*kept == -1)
        *kept = GetSettingInt(key, 0);
    return *kept;
}

// For the keys whose absence means "none": a value from the file is never empty.
const char* TextOrNone(char* buffer, const char* key)
{
    GetSetting(key, buffer, SETTINGS_VALUE_SIZE, "");
    return buffer[0] == '\0' ? NULL : buffer;
}

}  // namespace

void AddSetting(const char* key, int keyLength, const char* value, int valueLength)
{
    SettingsEntry* entry = (SettingsEntry*)AllocateEntryMemory(sizeof(SettingsEntry));
    if (entry == NULL)
        return;
    entry->key = CopyEntryText(key, (size_t)keyLength);
    entry->value = CopyEntryText(value, (size_t)valueLength);
    entry->next = NULL;
    if (entry->key == NULL || entry->value == NULL) {
        free(entry->key);
        free(entry->value);
        free(entry);
        return;
    }
    ReplaceBarsWithSpaces(entry->value);
    if (settingsTail == NULL)
        settingsHead = entry;
    else
        settingsTail->next = entry;
    settingsTail = entry;
}

int ParseDecimal(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long number = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        number = number * 10 + (*text - '0');
        if (number > (long long)INT_MAX + 1)
            number = (long long)INT_MAX + 1;
    }
    if (negative)
        return (int)-number;
    return number > INT_MAX ? INT_MAX : (int)number;
}

void ReplaceBarsWithSpaces(char* value)
{
    for (int i = 0; value[i] != '\0'; i = NextCharacter(value, i)) {
        if (value[i] == '|')
            value[i] = ' ';
    }
}

char* GetSetting(const char* key, char* buffer, int size, const char* defaultText)
{
    if (size <= 0)
        return buffer;
    const SettingsEntry* entry = FindSetting(key);
    strncpy(buffer, entry != NULL ? entry->value : defaultText, (size_t)size);
    buffer[size - 1] = '\0';
    return buffer;
}

int GetSettingInt(const char* key, int defaultValue)
{
    const SettingsEntry* entry = FindSetting(key);
    return entry != NULL ? ParseDecimal(entry->value) : defaultValue;
}

const SettingsEntry* FirstSetting(void)
{
    return settingsHead;
}

void FreeSettings(void)
{
    while (settingsHead != NULL) {
        SettingsEntry* next = settingsHead->next;
        free(settingsHead->key);
        free(settingsHead->value);
        free(settingsHead);
        settingsHead = next;
    }
    settingsTail = NULL;
    // A table loaded again afterwards must not answer with what the old one said.
    regGlobal[0] = regLocal[0] = iniFile[0] = iniSection[0] = '\0';
    instMakeFol = chkRegVer = chkRegVerHigh = -1;
}

const char* GetRegGlobal(void) { return MemoisedText(regGlobal, "REG_GLOBAL"); }
const char* GetRegLocal(void) { return MemoisedText(regLocal, "REG_LOCAL"); }
const char* GetIniFile(void) { return MemoisedText(iniFile, "INI_FILE"); }
const char* GetIniSection(void) { return MemoisedText(iniSection, "INI_SECTION"); }

const char* GetTitleBar(void)
{
    return GetSetting("TITLEBAR", titleBar, SETTINGS_VALUE_SIZE, kDefaultTitleBar);
}

const char* GetInstTo(void)
{
    return GetSetting("INSTTO", instTo, SETTINGS_VALUE_SIZE, "VUVORI_DIV");
}

const char* GetInstFol(void) { return TextOrNone(instFol, "INSTFOL"); }
const char* GetKeyFile(void) { return TextOrNone(keyFile, "KEYFILE"); }
const char* GetChkReg(void) { return TextOrNone(chkReg, "CHKREG"); }

int GetInstMakeFol(void) { return MemoisedInt(&instMakeFol, "INSTMAKEFOL"); }
int GetChkRegVer(void) { return MemoisedInt(&chkRegVer, "CHKREGVER"); }
int GetChkRegVerHigh(void) { return MemoisedInt(&chkRegVerHigh, "CHKREGVERHIGH"); }

char* GetReadmeFileName(char* out, int size)
{
    return GetSetting("INSTREADMEFL", out, size, "readme.txt");
}

const char* GetTitleText(void)
{
    snprintf(titleText, sizeof titleText, "%s%s", GetTitleBar(), kTitleSuffix);
    return titleText;
}
