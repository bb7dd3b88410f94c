#include "install_env.h"

namespace kit {

InstallEnv& InstallEnv::Line(const std::string& line)
{
    text_ += line + lineEnd_;
    return *this;
}

InstallEnv& InstallEnv::Lines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        Line(line);
    return *this;
}

InstallEnv& InstallEnv::Keys(const SettingLines& keys, const std::string& gap)
{
    for (const auto& [key, value] : keys)
        Line(key + gap + value);
    return *this;
}

InstallEnv& InstallEnv::Section(const std::string& header, const std::vector<std::string>& lines,
                                const std::string& closing)
{
    return Line(header).Lines(lines).Line(closing);
}

InstallEnv& InstallEnv::End()
{
    return Line("[EOF]");
}

}  // namespace kit
