// The key/value reader over arbitrary install.env bytes, then every accessor.
#include <stddef.h>
#include <stdint.h>

#include "settings/settings.h"
#include "settings/settings_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TextModeReader reader;
    InitTextModeReader(&reader, data, size);
    ReadSettingsLines(ReadTextModeLine, &reader, NULL, NULL);
    char buffer[16];
    GetSetting("TITLEBAR", buffer, sizeof buffer, "-");
    GetSettingInt("CHKREGVER", 0);
    GetRegGlobal();
    GetRegLocal();
    GetIniFile();
    GetIniSection();
    GetTitleText();
    GetInstTo();
    GetInstFol();
    GetKeyFile();
    GetChkReg();
    GetInstMakeFol();
    GetChkRegVerHigh();
    FreeSettings();
    return 0;
}
