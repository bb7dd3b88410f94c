// Running a program of the build for its exit code and what it prints (portable: natively, and
// under Wine through the Windows shell).
#ifndef UPDATER_TESTS_KIT_PROGRAM_H
#define UPDATER_TESTS_KIT_PROGRAM_H

#include <filesystem>
#include <string>

namespace kit {

// A path of the build tree as CMake passes it in, as this platform reaches it: under Wine the
// Linux file system is drive Z:.
std::string BuildTreePath(const std::string& path);

// A path in double quotes, for a command line.
std::string Quoted(const std::filesystem::path& path);

struct ProgramRun {
    int code;
    std::string output;
};

// Runs `program arguments` through the shell and waits for it. `output` holds standard output
// and standard error together, or standard output alone. The command is UTF-8 (paths from
// U8); on Windows it reaches the program as UTF-16, the way a user's typed names do.
ProgramRun RunProgram(const std::string& program, const std::string& arguments, bool withErrors = true);

}  // namespace kit

#endif
