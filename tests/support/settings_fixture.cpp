#include "settings_fixture.h"

#include <sstream>

#include "driver.h"
#include "scratch.h"

void WriteSettingsFile(const std::string& path, const SettingLines& settings)
{
    WriteFileBytes(path, kit::InstallEnv().Line("// written by a test").Keys(settings).End().Text());
}

void WriteReport(const std::string& path, const Report& report)
{
    std::string text;
    for (const auto& [name, value] : report)
        text += name + "=" + value + "\n";
    WriteFileBytes(path, text);
}

Report ReadReport(const std::string& path)
{
    if (!FileExists(path))
        throw driver::DriverError("the child wrote no report to " + path);
    Report report;
    std::istringstream lines(ReadFileBytes(path));
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            report[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return report;
}
