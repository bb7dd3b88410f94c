// The subcommands of mkupdate. Each takes the arguments after its own name and returns the
// exit code: 0 success, 1 a problem with the input, 2 wrong usage.
#ifndef MKUPDATE_COMMANDS_H
#define MKUPDATE_COMMANDS_H

#include <string>
#include <vector>

using Args = std::vector<std::string>;

enum ExitCode { kExitOk = 0, kExitInput = 1, kExitUsage = 2 };

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const Args& args);
};

int RunInit(const Args& args);
int RunBuild(const Args& args);
int RunList(const Args& args);
int RunVerify(const Args& args);
int RunExtract(const Args& args);
int RunLint(const Args& args);
int RunRct(const Args& args);
int RunConvert(const Args& args);
int RunTry(const Args& args);

#endif
