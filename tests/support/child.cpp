#include "child.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace {

std::map<std::string, ChildMain>& Children()
{
    static std::map<std::string, ChildMain> children;
    return children;
}

std::string ProgramPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

}  // namespace

ChildRegistrar::ChildRegistrar(const char* name, ChildMain main)
{
    Children()[name] = main;
}

driver::Process StartChild(const std::string& name, const ChildArgs& args, const std::string& folder)
{
    if (Children().count(name) == 0)
        throw driver::DriverError("no child registered as " + name);
    std::string line = driver::Quote(ProgramPath()) + " --child " + name;
    for (const std::string& arg : args)
        line += " " + driver::Quote(arg);
    return driver::Start(line, folder);
}

int RunTestProgram(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        auto found = Children().find(argv[2]);
        if (found == Children().end())
            return 250;
        return found->second(ChildArgs(argv + 3, argv + argc));
    }
    // The wow64.* runs mean 64-bit Windows: a program that is not under WoW64 there would pass
    // them as a second plain 32-bit run.
    char wow64Asked[8] = "";
    BOOL wow64 = FALSE;
    if (GetEnvironmentVariableA("UPDATER_WOW64", wow64Asked, sizeof wow64Asked) != 0 &&
        std::strcmp(wow64Asked, "1") == 0 && (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)) {
        std::fprintf(stderr, "UPDATER_WOW64=1 asks for 64-bit Windows, but this program does not run under WoW64\n");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

driver::Box AnswerChildBox(driver::Process& child, int button)
{
    try {
        return driver::AnswerBox(child.Id(), button);
    } catch (const driver::DriverError& e) {
        ADD_FAILURE() << e.what() << "; the child ended with " << child.WaitForExit();
    }
    return driver::Box{};
}
