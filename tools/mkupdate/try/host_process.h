// Starting other programs for `mkupdate try` on Linux: Wine's loader, wineserver, Xvfb. Each runs
// in a process group of its own with the environment given, so a time limit ends it and all it
// started, and nothing of mkupdate's own terminal reaches it. On Windows nothing is started (try
// stops before); the functions say so.
#ifndef MKUPDATE_HOST_PROCESS_H
#define MKUPDATE_HOST_PROCESS_H

#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;   // when it ended by itself
    std::string output;  // standard output and standard error together
    std::string error;   // why it did not start
};

// From here on an interrupt (Ctrl+C, SIGTERM, SIGHUP) does not end mkupdate at once: the program
// running is ended with its process group, Interrupted() turns true, and the caller cleans up.
void CatchInterrupts();
bool Interrupted();

// Runs argv[0] (a path, or a name looked up in PATH) with mkupdate's environment plus `environment`
// and waits at most `timeoutSeconds`; past that, or on an interrupt, the whole process group is
// killed.
// `interruptible` false: an interrupt does not end it (the clean-up after one).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         int timeoutSeconds, bool interruptible = true);

// The program's path when `name` is found in PATH (or is a path to an executable file); empty
// when not.
std::string FindProgram(const std::string& name);

// A private X server: Xvfb on a display it picks itself (-displayfd), stopped by the destructor by
// its own process id.
class PrivateDisplay {
public:
    PrivateDisplay() = default;
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // False with the reason when Xvfb cannot be started.
    bool Start(const std::string& xvfb, std::string& error);
    const std::string& Name() const { return name_; }  // ":N"

private:
    int pid_ = -1;
    std::string name_;
};

#endif
