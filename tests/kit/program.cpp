#include "program.h"

#include <algorithm>
#include <cstdlib>

#include "files.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace kit {

std::string BuildTreePath(const std::string& path)
{
#ifdef _WIN32
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
#else
    return path;
#endif
}

std::string Quoted(const std::filesystem::path& path)
{
    return "\"" + path.string() + "\"";
}

ProgramRun RunProgram(const std::string& program, const std::string& arguments, bool withErrors)
{
    fs::path captured = fs::temp_directory_path() / (UniqueName("program_output_") + ".txt");
#ifdef _WIN32
    const char* dropErrors = " 2>NUL";
#else
    const char* dropErrors = " 2>/dev/null";
#endif
    std::string command = "\"" + program + "\" " + arguments + " > \"" + captured.string() + "\"" +
                          (withErrors ? " 2>&1" : dropErrors);
#ifdef _WIN32
    // cmd /c drops the outer pair of quotes: the program's own stay.
    std::wstring wide = fs::u8path("\"" + command + "\"").wstring();
    int code = _wsystem(wide.c_str());
#else
    int status = std::system(command.c_str());
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    std::error_code missing;
    ProgramRun run{code, fs::exists(captured, missing) ? Read(captured) : std::string()};
    fs::remove(captured, missing);
    return run;
}

}  // namespace kit
