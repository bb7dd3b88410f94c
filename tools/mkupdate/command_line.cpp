#include "command_line.h"

#include <cstdarg>

namespace {

bool g_quiet = false;

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
            std::fputs(help, stdout);
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

int UsageError(const char* command, const std::string& message)
{
    std::fprintf(stderr, "mkupdate %s: %s\nTry 'mkupdate %s --help'.\n", command, message.c_str(), command);
    return kExitUsage;
}

int InputError(const char* command, const std::string& message)
{
    std::fprintf(stderr, "mkupdate %s: %s\n", command, message.c_str());
    return kExitInput;
}

bool Quiet()
{
    return g_quiet;
}

void Say(const char* format, ...)
{
    if (g_quiet)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
}

std::string Count(long long count, const char* singular, const char* plural)
{
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}
