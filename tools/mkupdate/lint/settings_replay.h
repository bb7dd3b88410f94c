// The updater's two readers of install.env replayed over a file's bytes, each with an observer.

// Lint and --explain see what the readers themselves did with every line instead of following
// rules of their own. Byte work only: the fuzzers compile it too.
#ifndef MKUPDATE_SETTINGS_REPLAY_H
#define MKUPDATE_SETTINGS_REPLAY_H

#include <string>
#include <utility>
#include <vector>

#include "settings/action_reader.h"
#include "settings/settings_reader.h"

// One line as the readers get it: a physical line longer than 511 bytes arrives in pieces.
struct LinePiece {
    std::string text;   // up to a zero byte, where the readers' string work stops too
    int line;           // physical line number, from 1
    bool continuation;  // a further piece of a longer line
};

struct KeyLineReport {
    int kind;  // KEYLINE_PAIR ... KEYLINE_END_MARKER
    KeyLine parts;
};

struct SectionLineReport {
    int kind;     // SECTIONLINE_SKIP ... SECTIONLINE_ENTRY
    int section;  // as the section reader's observer is told
    std::string text;  // the line with the separators at its end cut
};

struct SettingsReplay {
    std::vector<LinePiece> pieces;
    // One report for each piece the reader read, in order: the first keyLines.size() pieces.
    std::vector<KeyLineReport> keyLines;
    bool keyLineLimitReached = false;
    std::vector<SectionLineReport> sectionLines;
    int openSection = SECTION_NONE;  // what the section reader returned
};

// Empties the settings table and the action lists, then runs both readers over the bytes as
// the updater does; the table and the lists stay filled for the caller, who frees them.
SettingsReplay ReplaySettings(const std::string& bytes);

// What the readers keep, as their reports tell it: every key/value pair taken, in order, with
// "|" turned into spaces as the table stores it; each section's entries; the section left open.
struct SettingsModel {
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<std::string> lists[SECTION_COUNT];
    int openSection = SECTION_NONE;
};

SettingsModel ModelSettings(const SettingsReplay& replay);

#endif
