// The replay of the updater's readers: line pieces, the readers' reports and the model of both.
#include "lint/settings_replay.h"

#include "settings/action_lists.h"
#include "settings/settings.h"

namespace {

void HearKeyLine(void* context, int kind, const char* /*line*/, const KeyLine* parts)
{
    SettingsReplay* replay = static_cast<SettingsReplay*>(context);
    if (kind == KEYLINE_LINE_LIMIT) {
        replay->keyLineLimitReached = true;
        return;
    }
    KeyLineReport report = {kind, {0, 0, 0}};
    if (parts != nullptr)
        report.parts = *parts;
    replay->keyLines.push_back(report);
}

void HearSectionLine(void* context, int kind, int section, const char* line)
{
    static_cast<SettingsReplay*>(context)->sectionLines.push_back({kind, section, line});
}

}  // namespace

SettingsReplay ReplaySettings(const std::string& bytes)
{
    SettingsReplay replay;
    FreeSettings();
    FreeActionLists();
    // The key/value reader may stop early: the pieces come from a reading of the whole file.
    TextModeReader reader;
    InitTextModeReader(&reader, bytes.data(), bytes.size());
    char buffer[TEXT_BUFFER_SIZE];
    int line = 1;
    bool continuation = false;
    while (ReadTextModeLine(buffer, sizeof buffer, &reader) != nullptr) {
        replay.pieces.push_back({buffer, line, continuation});
        // Where the piece ended in the bytes, not in its text: a zero byte cuts the text short.
        continuation = reader.data[reader.position - 1] != '\n';
        if (!continuation)
            line++;
    }

    InitTextModeReader(&reader, bytes.data(), bytes.size());
    ReadSettingsLines(ReadTextModeLine, &reader, HearKeyLine, &replay);
    InitTextModeReader(&reader, bytes.data(), bytes.size());
    replay.openSection = ReadActionSections(ReadTextModeLine, &reader, HearSectionLine, &replay);
    return replay;
}

SettingsModel ModelSettings(const SettingsReplay& replay)
{
    SettingsModel model;
    for (size_t i = 0; i < replay.keyLines.size(); i++) {
        const KeyLineReport& report = replay.keyLines[i];
        if (report.kind != KEYLINE_PAIR)
            continue;
        const std::string& text = replay.pieces[i].text;
        std::string value = text.substr((size_t)report.parts.valueStart, (size_t)report.parts.valueLength);
        ReplaceBarsWithSpaces(&value[0]);
        model.settings.emplace_back(text.substr(0, (size_t)report.parts.keyLength), value);
    }
    for (const SectionLineReport& report : replay.sectionLines) {
        if (report.kind == SECTIONLINE_HEADER)
            model.lists[report.section].clear();
        else if (report.kind == SECTIONLINE_ENTRY && report.section != SECTION_NONE)
            model.lists[report.section].push_back(report.text);
    }
    model.openSection = replay.openSection;
    return model;
}
