// Argument reading, usage errors, quiet mode and console output of every command (cli/command_line.h).
#include "cli/command_line.h"

#include <cstdarg>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace {

bool g_quiet = false;

void WriteText(std::FILE* stream, const std::string& utf8)
{
#ifdef _WIN32
    if (IsWindowsConsole(stream)) {
        std::fflush(stream);
        int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
        std::wstring wide((size_t)(size > 0 ? size : 0), L'\0');
        if (size > 0)
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], size);
        DWORD written = 0;
        HANDLE console = (HANDLE)_get_osfhandle(_fileno(stream));
        WriteConsoleW(console, wide.data(), (DWORD)wide.size(), &written, nullptr);
        return;
    }
#endif
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

void PrintArguments(std::FILE* stream, const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0)
        return;
    std::string text((size_t)size + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize((size_t)size);
    WriteText(stream, text);
}

const OptionRule* FindRule(const std::vector<OptionRule>& rules, const std::string& name)
{
    for (const OptionRule& rule : rules)
        for (const std::string& each : rule.names)
            if (each == name)
                return &rule;
    return nullptr;
}

}  // namespace

int ReadCommandLine(const char* command, const char* help, const Args& args, const std::vector<OptionRule>& rules,
                    std::vector<std::string>& operands)
{
    bool optionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            PrintTo(stdout, "%s", help);
            return kExitOk;
        }
        if (arg == "--quiet" || arg == "-q") {
            g_quiet = true;
            continue;
        }
        size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        std::string name = arg.substr(0, equals);
        const OptionRule* rule = FindRule(rules, name);
        if (rule == nullptr)
            return UsageError(command, "unknown option '" + name + "'");
        std::string value;
        if (rule->takesValue) {
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return UsageError(command, name + " needs a value");
        } else if (equals != std::string::npos) {
            return UsageError(command, name + " takes no value");
        }
        std::string problem = rule->take(value);
        if (!problem.empty())
            return UsageError(command, problem);
    }
    return -1;
}

int ReadUpdateAndJson(const char* command, const char* help, const Args& args, std::string& path, bool& json)
{
    std::vector<std::string> operands;
    int stop = ReadCommandLine(command, help, args, {{{"--json"}, false, [&](const std::string&) {
                                                           json = true;
                                                           return std::string();
                                                       }}},
                               operands);
    if (stop >= 0)
        return stop;
    if (operands.empty())
        return UsageError(command, "which update? UPDATE.exe is missing");
    if (operands.size() > 1)
        return UsageError(command, "one update at a time");
    path = operands[0];
    return -1;
}

int UsageError(const char* command, const std::string& message)
{
    PrintTo(stderr, "mkupdate %s: %s\nTry 'mkupdate %s --help'.\n", command, message.c_str(), command);
    return kExitUsage;
}

int InputError(const char* command, const std::string& message)
{
    PrintTo(stderr, "mkupdate %s: %s\n", command, message.c_str());
    return kExitInput;
}

bool Quiet()
{
    return g_quiet;
}

bool IsWindowsConsole(std::FILE* stream)
{
#ifdef _WIN32
    DWORD mode = 0;
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
#else
    (void)stream;
    return false;
#endif
}

void PrintTo(std::FILE* stream, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    PrintArguments(stream, format, arguments);
    va_end(arguments);
}

void Say(const char* format, ...)
{
    if (g_quiet)
        return;
    va_list arguments;
    va_start(arguments, format);
    PrintArguments(stdout, format, arguments);
    va_end(arguments);
}

std::string Count(long long count, const char* singular, const char* plural)
{
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}
