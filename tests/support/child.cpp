#include "child.h"

#include <gtest/gtest.h>

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
