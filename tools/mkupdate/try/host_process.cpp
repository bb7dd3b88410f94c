// Starting programs for try: fork and exec on Linux, nothing on Windows.
#include "try/host_process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;
#endif

#ifdef _WIN32

void CatchInterrupts() {}

bool Interrupted()
{
    return false;
}

ProcessResult RunProcess(const std::vector<std::string>&, const std::map<std::string, std::string>&, int, bool)
{
    ProcessResult result;
    result.error = "starting programs is for Linux only";
    return result;
}

std::string FindProgram(const std::string&)
{
    return "";
}

PrivateDisplay::~PrivateDisplay() = default;

bool PrivateDisplay::Start(const std::string&, std::string& error)
{
    error = "no X server on Windows";
    return false;
}

#else

namespace {

volatile sig_atomic_t interrupted = 0;

void NoteInterrupt(int)
{
    interrupted = 1;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The environment of the child: ours, with `environment` put over it (an empty value removes).
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& environment)
{
    std::vector<std::string> lines;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string line = *entry;
        std::string name = line.substr(0, line.find('='));
        if (environment.count(name) == 0)
            lines.push_back(line);
    }
    for (const auto& [name, value] : environment)
        if (!value.empty())
            lines.push_back(name + "=" + value);
    return lines;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(&text[0]);
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

void CatchInterrupts()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool Interrupted()
{
    return interrupted != 0;
}

std::string FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? name : "";
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (IsExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return "";
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         int timeoutSeconds, bool interruptible)
{
    ProcessResult result;
    std::string program = FindProgram(argv.at(0));
    if (program.empty()) {
        result.error = argv[0] + ": not found";
        return result;
    }
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    std::vector<std::string> arguments = argv;
    std::vector<std::string> lines = ChildEnvironment(environment);
    std::vector<char*> argp = Pointers(arguments), envp = Pointers(lines);
    pid_t child = fork();
    if (child < 0) {
        result.error = std::string("cannot start a process: ") + std::strerror(errno);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return result;
    }
    if (child == 0) {
        setpgid(0, 0);
        int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        execve(program.c_str(), argp.data(), envp.data());
        _exit(127);
    }
    setpgid(child, child);
    close(pipeEnds[1]);
    result.started = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool open = true;
    int status = 0;
    bool ended = false;
    while (true) {
        if (open) {
            pollfd ready = {pipeEnds[0], POLLIN, 0};
            if (poll(&ready, 1, 100) > 0) {
                char buffer[4096];
                ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
                if (got > 0)
                    result.output.append(buffer, (size_t)got);
                else if (got == 0 || (got < 0 && errno != EINTR))
                    open = false;
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended && waitpid(child, &status, WNOHANG) == child)
            ended = true;
        // Done when the program has ended and its output is read; a program it left running that
        // holds the pipe (wine's server) does not keep us waiting.
        if (ended && (!open || std::chrono::steady_clock::now() > deadline))
            break;
        if (ended && open) {
            pollfd ready = {pipeEnds[0], POLLIN, 0};
            if (poll(&ready, 1, 200) <= 0)
                break;
        }
        if (!ended && ((interruptible && interrupted != 0) || std::chrono::steady_clock::now() > deadline)) {
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            result.timedOut = true;
            break;
        }
    }
    close(pipeEnds[0]);
    if (!result.timedOut)
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    if (result.exitCode == 127 && result.output.empty())
        result.error = program + ": cannot be executed";
    return result;
}

PrivateDisplay::~PrivateDisplay()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) != pid_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, WNOHANG);
    }
}

bool PrivateDisplay::Start(const std::string& xvfb, std::string& error)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    std::string fd = std::to_string(pipeEnds[1]);
    std::vector<std::string> arguments = {xvfb, "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
    std::vector<char*> argp = Pointers(arguments);
    pid_t child = fork();
    if (child < 0) {
        error = std::string("cannot start Xvfb: ") + std::strerror(errno);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    if (child == 0) {
        setpgid(0, 0);
        int nothing = open("/dev/null", O_RDWR);
        dup2(nothing, 0);
        dup2(nothing, 1);
        dup2(nothing, 2);
        close(pipeEnds[0]);
        execv(xvfb.c_str(), argp.data());
        _exit(127);
    }
    pid_ = child;
    close(pipeEnds[1]);
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready = {pipeEnds[0], POLLIN, 0};
        if (poll(&ready, 1, 100) > 0) {
            char buffer[32];
            ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            number.append(buffer, (size_t)got);
            if (number.find('\n') != std::string::npos)
                break;
        }
        if (waitpid(child, nullptr, WNOHANG) == child) {
            pid_ = -1;
            break;
        }
    }
    close(pipeEnds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == '\r'))
        number.pop_back();
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        error = "Xvfb did not start (it named no display)";
        return false;
    }
    name_ = ":" + number;
    return true;
}

#endif
