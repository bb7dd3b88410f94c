// What the tests of the automatic location and of the manual choice share: the texts the player
// is shown about a folder, and the report of one search for the game's folder in a child.
#ifndef UPDATER_TESTS_SUPPORT_TARGET_FIXTURE_H
#define UPDATER_TESTS_SUPPORT_TARGET_FIXTURE_H

#include <functional>
#include <string>

#include "settings_fixture.h"

// The notice of an installed version above CHKREGVERHIGH.
extern const std::string kAlreadyApplied;

// The question before the folder is updated.
std::string UpdateQuestion(const std::string& folder);

// Runs `find` on a 260-byte buffer filled with '#' and reports the current folder before and
// after, the result, whether the buffer was left untouched, and its text when it was terminated.
void ReportFolderSearch(Report& report, const std::function<int(char*)>& find);

#endif
