// install.env text as a game maker writes it, line by line (portable).
#ifndef UPDATER_TESTS_KIT_INSTALL_ENV_H
#define UPDATER_TESTS_KIT_INSTALL_ENV_H

#include <string>
#include <utility>
#include <vector>

namespace kit {

using SettingLines = std::vector<std::pair<std::string, std::string>>;

// Every line ends the same way: CR LF as Windows editors write, or LF where the reader must
// take that too.
class InstallEnv {
public:
    explicit InstallEnv(std::string lineEnd = "\r\n") : lineEnd_(std::move(lineEnd)) {}

    InstallEnv& Line(const std::string& line);
    InstallEnv& Lines(const std::vector<std::string>& lines);
    // "<key><gap><value>" for each.
    InstallEnv& Keys(const SettingLines& keys, const std::string& gap = "\t");
    // The header, its lines, then the line that closes the section ("-", which may carry more).
    InstallEnv& Section(const std::string& header, const std::vector<std::string>& lines,
                        const std::string& closing = "-");
    // "[EOF]": the reader stops there.
    InstallEnv& End();

    const std::string& Text() const { return text_; }

private:
    std::string lineEnd_;
    std::string text_;
};

}  // namespace kit

#endif
