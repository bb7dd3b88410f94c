// The version gate as lint, build and verify check it: the range CHKREGVER..CHKREGVERHIGH of
// the value CHKREG, and the [reg] line that writes the new version into that value.

// An update whose range reads other numbers than the maker meant, or whose [reg] lines leave
// players with a version the range still admits (or an older one), works once and then misleads:
// a player is told the update is applied already, or takes it again. Each finding names the line
// and the number the updater reads there.
#ifndef MKUPDATE_VERSION_RULES_H
#define MKUPDATE_VERSION_RULES_H

#include <string>
#include <vector>

#include "lint/settings_replay.h"

struct VersionFinding {
    int line = 0;  // of install.env, from 1
    bool error = true;
    std::string message;  // UTF-8
};

// Read from the replay's reports and from the settings table and action lists the replay left
// filled (so that every number is the one the updater's own accessors read).
std::vector<VersionFinding> CheckVersionGate(const SettingsReplay& replay);

#endif
