// How every mkupdate command reads its arguments and reports wrong usage: "--name value",
// "--name=value" and short forms alike, -h/--help and -q/--quiet everywhere, "--" before
// operands that start with a dash, and a usage error as one line and a hint.
#ifndef MKUPDATE_COMMAND_LINE_H
#define MKUPDATE_COMMAND_LINE_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/commands.h"

struct OptionRule {
    std::vector<std::string> names;  // "-o", "--output"
    bool takesValue;
    // Takes the value (empty for a flag); returns an error message, or "" when it is fine.
    std::function<std::string(const std::string& value)> take;
};

// Reads `args`; the operands come back in order. Returns -1 when the command should go on;
// otherwise the exit code to end with (the help was shown, or a usage error was printed).
int ReadCommandLine(const char* command, const char* help, const Args& args, const std::vector<OptionRule>& rules,
                    std::vector<std::string>& operands);

// The command line of list and verify: one UPDATE.exe and --json. Returns as ReadCommandLine.
int ReadUpdateAndJson(const char* command, const char* help, const Args& args, std::string& path, bool& json);

// " (did you mean '--output'?)" for a name close to one of `known` (a slip of a letter or two, or
// the start of exactly one of them); empty when none is close.
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& known);

// "mkupdate COMMAND: message" and a hint to the help, on standard error; returns kExitUsage.
int UsageError(const char* command, const std::string& message);
// "mkupdate COMMAND: message" on standard error; returns kExitInput.
int InputError(const char* command, const std::string& message);

// Writes formatted UTF-8 text to standard output or standard error. A Windows console gets it as
// UTF-16 (so a code page 932 console shows Japanese right); a file or pipe gets the UTF-8 bytes.
void PrintTo(std::FILE* stream, const char* format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// True when the stream is a Windows console (never on other hosts).
bool IsWindowsConsole(std::FILE* stream);

// Set by -q: commands print their progress and summaries only when this is false.
bool Quiet();
// printf to standard output unless -q was given.
// (MinGW's C++ printf is the GNU one, with %zu; the attribute says so.)
void Say(const char* format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// "1 file", "2 files".
std::string Count(long long count, const char* singular, const char* plural);

#endif
