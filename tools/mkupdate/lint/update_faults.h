// What makes an update that cannot work, in the words lint, build and verify all use: the title
// picture (which top-level file becomes insttscr.rct) and a version range no installed version
// passes.
#ifndef MKUPDATE_UPDATE_FAULTS_H
#define MKUPDATE_UPDATE_FAULTS_H

#include <string>
#include <vector>

// The title picture among the top-level file names of an update folder. Any name "insttscr.*"
// counts, whatever the case: the updater opens insttscr.rct, and Windows ignores case.
struct TitlePicture {
    std::string rct;                  // insttscr.rct in any case, packed as it is
    std::string picture;              // else a PNG or BMP that build turns into insttscr.rct
    std::vector<std::string> passed;  // the other insttscr.* files, left out of the package
    std::string problem;              // why the updater would show no window, with the fix; "" when none
};
TitlePicture FindTitlePicture(const std::vector<std::string>& topLevelNames);

// True for a name the title picture may carry ("insttscr.*", any case).
bool IsTitlePictureName(const std::string& name);

// Without insttscr.rct the updater shows its retry notice instead of its window.
extern const char kNoTitlePicture[];

// Read from the settings table the updater's readers filled: why no installed version can take
// the update, or "" when some can.
std::string VersionRangeProblem();

#endif
