// Where the tool tests find the mkupdate program they run.
#ifndef UPDATER_TESTS_TOOLS_MKUPDATE_PROGRAM_H
#define UPDATER_TESTS_TOOLS_MKUPDATE_PROGRAM_H

#include <string>

#include "program.h"

// The built mkupdate, as this platform reaches it.
inline std::string MkupdateProgram()
{
    return kit::BuildTreePath(MKUPDATE_PATH);
}

#endif
