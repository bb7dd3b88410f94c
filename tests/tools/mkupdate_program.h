// Where the tool tests find the mkupdate program they run.
#ifndef UPDATER_TESTS_TOOLS_MKUPDATE_PROGRAM_H
#define UPDATER_TESTS_TOOLS_MKUPDATE_PROGRAM_H

#include <algorithm>
#include <string>

// The built mkupdate; under Wine the build tree's Linux path is reached through drive Z:.
inline std::string MkupdateProgram()
{
    std::string program = MKUPDATE_PATH;
#ifdef _WIN32
    if (!program.empty() && program[0] == '/')
        program = "Z:" + program;
    std::replace(program.begin(), program.end(), '/', '\\');
#endif
    return program;
}

#endif
