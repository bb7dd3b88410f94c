// Differential: what mkupdate lint and --explain take the updater to read (its model, built from
// the readers' line-by-line reports) against what the readers really keep for the same bytes,
// read a second time without observers.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "settings/action_lists.h"
#include "settings/action_reader.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "lint/settings_replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    SettingsReplay replay = ReplaySettings(bytes);
    SettingsModel model = ModelSettings(replay);
    // One report a piece read, and the line limit only once 400 pieces were read.
    if (replay.keyLines.size() > replay.pieces.size() || replay.sectionLines.size() > replay.pieces.size() ||
        replay.keyLines.size() > SETTINGS_MAX_LINES ||
        (replay.keyLineLimitReached && replay.keyLines.size() != SETTINGS_MAX_LINES))
        __builtin_trap();

    TextModeReader reader;
    InitTextModeReader(&reader, data, size);
    FreeSettings();
    ReadSettingsLines(ReadTextModeLine, &reader, NULL, NULL);
    size_t index = 0;
    for (const SettingsEntry* entry = FirstSetting(); entry != NULL; entry = entry->next, index++) {
        if (index >= model.settings.size() || model.settings[index].first != entry->key ||
            model.settings[index].second != entry->value)
            __builtin_trap();
    }
    if (index != model.settings.size())
        __builtin_trap();

    InitTextModeReader(&reader, data, size);
    FreeActionLists();
    if (ReadActionSections(ReadTextModeLine, &reader, NULL, NULL) != model.openSection)
        __builtin_trap();
    for (int section = SECTION_NONE; section < SECTION_COUNT; section++) {
        size_t position = 0;
        for (const ActionEntry* entry = GetActionList(section); entry != NULL; entry = entry->next, position++) {
            if (position >= model.lists[section].size() || model.lists[section][position] != entry->text)
                __builtin_trap();
        }
        if (position != model.lists[section].size())
            __builtin_trap();
    }
    FreeSettings();
    FreeActionLists();
    return 0;
}
