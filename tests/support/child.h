// A Windows test program can start itself as a child process that runs one registered
// function, so that a test can watch code that ends the process (exit codes, fatal notices)
// from outside, through the driver.
#ifndef UPDATER_TESTS_SUPPORT_CHILD_H
#define UPDATER_TESTS_SUPPORT_CHILD_H

#include <string>
#include <vector>

#include "driver.h"

using ChildArgs = std::vector<std::string>;
using ChildMain = int (*)(const ChildArgs& args);

struct ChildRegistrar {
    ChildRegistrar(const char* name, ChildMain main);
};

// TEST_CHILD(Name) { ...; return exitCode; } registers a child body; `args` holds its arguments.
#define TEST_CHILD(name)                                             \
    static int name##Child(const ChildArgs& args);                  \
    static ChildRegistrar name##Registrar(#name, name##Child);       \
    static int name##Child([[maybe_unused]] const ChildArgs& args)

// Starts this program as the child `name` with the arguments, in `folder` (empty: ours).
driver::Process StartChild(const std::string& name, const ChildArgs& args = {}, const std::string& folder = "");

// Answers the child's next message box with the button. Where none comes (the child ended, or
// hangs), the test fails saying how the child ended, and an empty box is returned.
driver::Box AnswerChildBox(driver::Process& child, int button);

// The test program's main: runs a child when asked to, else GoogleTest.
int RunTestProgram(int argc, char** argv);

#endif
