// What the mkupdate tests share: scratch folders, whole-file reads and writes, and running the
// mkupdate program itself for its exit code and messages.
#ifndef UPDATER_TESTS_TOOLS_TOOL_KIT_H
#define UPDATER_TESTS_TOOLS_TOOL_KIT_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "mkupdate_program.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace toolkit {

namespace fs = std::filesystem;

// A name no other test program running beside this one can take.
inline std::string UniqueName(const char* prefix)
{
    static int counter = 0;
#ifdef _WIN32
    int process = _getpid();
#else
    int process = (int)getpid();
#endif
    return std::string(prefix) + std::to_string(process) + "_" + std::to_string(counter++);
}

// Host names given as UTF-8 bytes (u8path keeps them apart from the execution character set).
inline fs::path U8(const char* utf8)
{
    return fs::u8path(utf8);
}

class Scratch {
public:
    Scratch()
    {
        path_ = fs::temp_directory_path() / UniqueName("mkupdate_test_");
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Scratch()
    {
        std::error_code code;
        fs::remove_all(path_, code);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

inline void Write(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct ToolRun {
    int code;
    std::string output;
};

// Runs a program (a copy of mkupdate, say), for its exit code and messages (standard output and
// standard error together, or standard output alone).
inline ToolRun RunProgram(const std::string& program, const std::string& arguments, bool withErrors = true)
{
    fs::path captured = fs::temp_directory_path() / (UniqueName("mkupdate_output_") + ".txt");
#ifdef _WIN32
    const char* dropErrors = " 2>NUL";
#else
    const char* dropErrors = " 2>/dev/null";
#endif
    std::string command = "\"" + program + "\" " + arguments + " > \"" + captured.string() + "\"" +
                          (withErrors ? " 2>&1" : dropErrors);
#ifdef _WIN32
    // The command is UTF-8 (paths come from u8path), so it goes to the shell as UTF-16, the way a
    // user's typed Japanese names reach mkupdate.
    std::wstring wide = fs::u8path("\"" + command + "\"").wstring();
    int code = _wsystem(wide.c_str());
#else
    int status = std::system(command.c_str());
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    ToolRun run{code, Read(captured)};
    fs::remove(captured);
    return run;
}

// Runs the mkupdate program itself.
inline ToolRun RunTool(const std::string& arguments, bool withErrors = true)
{
    return RunProgram(MkupdateProgram(), arguments, withErrors);
}

inline std::string Q(const fs::path& path)
{
    return "\"" + path.string() + "\"";
}

}  // namespace toolkit

#endif
