// The key file and version gate checks of a game folder (game/installed_game.h).
#include "game/installed_game.h"

#include <stdio.h>

#include "base/data_file.h"
#include "game/product_key.h"
#include "settings/settings.h"
#include "text/buffer_sizes.h"
#include "base/notices.h"

bool KeyFileFound(const char* folder)
{
    const char* keyFile = GetKeyFile();
    if (keyFile == NULL)
        return true;
    // Formed in room for both parts: a cut path could name some other file, so a path that does
    // not fit counts as not found.
    char keyPath[PATH_BUFFER_SIZE * 2 + 2];
    int length = snprintf(keyPath, sizeof keyPath, "%s\\%s", folder, keyFile);
    if (length < 0 || length > PATH_BUFFER_SIZE - 1)
        return false;
    return DataFileExists(keyPath);
}

bool CheckVersionGate(void)
{
    const char* valueName = GetChkReg();
    if (valueName == NULL)
        return true;
    int version = ReadProductInt(GetRegGlobal(), GetRegLocal(), valueName, 0);
    if (version < GetChkRegVer()) {
        ShowError("アップデート元のバージョンが不適合です");
        return false;
    }
    if (version > GetChkRegVerHigh()) {
        ShowError("既にアップデート適応済みです");
        return false;
    }
    return true;
}
