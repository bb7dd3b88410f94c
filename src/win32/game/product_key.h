// The product's registry key "Software\<REG_GLOBAL>\<REG_LOCAL>": read under HKLM and HKCU,
// written under HKCU. Every value is REG_SZ text.
#ifndef UPDATER_GAME_PRODUCT_KEY_H
#define UPDATER_GAME_PRODUCT_KEY_H

int ReadProductInt(const char* first, const char* second, const char* valueName, int defaultValue);
int ReadMachineInt(const char* first, const char* second, const char* valueName, int defaultValue);
// 0 when found and copied (cut to size - 1), -1 when the buffer holds the default.
int ReadMachineString(const char* first, const char* second, const char* valueName, const char* defaultText,
                      char* buffer, int size);
// 0 when written, -1 when not.
int WriteProductString(const char* first, const char* second, const char* valueName, const char* data);

#endif
