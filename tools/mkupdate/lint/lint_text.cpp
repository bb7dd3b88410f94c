// What lint's rules ask of a text: case, near-miss names, encodings, physical lines, patterns.
#include "lint/lint_text.h"

#include "convert/text_convert.h"

#include <algorithm>
#include <cctype>

#include "host/host_files.h"
#include "settings/text_mode.h"
#include "text/cp932_text.h"
#include "text/path_text.h"

namespace {

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); j++)
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1])});
        std::swap(previous, current);
    }
    return previous[b.size()];
}

}  // namespace

std::string Upper(std::string text)
{
    for (char& c : text)
        c = (char)std::toupper((unsigned char)c);
    return text;
}

std::string Lower(std::string text)
{
    LowerCp932(&text[0]);
    return text;
}

std::string Suggest(const std::string& word, const std::vector<std::string>& candidates)
{
    for (const std::string& candidate : candidates) {
        if (Upper(candidate).rfind(Upper(word), 0) == 0)
            return candidate;
    }
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& candidate : candidates) {
        size_t distance = EditDistance(Upper(word), Upper(candidate));
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

bool IsWellFormedInteger(const std::string& value)
{
    size_t start = (!value.empty() && (value[0] == '+' || value[0] == '-')) ? 1 : 0;
    return value.size() > start &&
           std::all_of(value.begin() + (long)start, value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> PhysicalLines(const std::string& bytes, bool* cutByCtrlZ)
{
    size_t end = bytes.find('\x1A');
    *cutByCtrlZ = end != std::string::npos && bytes.find_first_not_of("\r\n\x1A", end) != std::string::npos;
    std::string text = bytes.substr(0, end);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        size_t stop = newline == std::string::npos ? text.size() : newline;
        std::string line = text.substr(start, stop - start);
        if (newline != std::string::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = stop + 1;
    }
    return lines;
}

bool ContainsSeparator(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return IsSeparatorByte(c); });
}

std::string Quoted(const std::string& cp932)
{
    return "\"" + Cp932ToUtf8(cp932) + "\"";
}

std::string EncodingProblem(const std::string& bytes, const std::string& shownName, const std::string& argument)
{
    const std::string howTo = "; convert it with: mkupdate convert " + (argument.empty() ? shownName : argument) +
                              " (or save it as Shift-JIS, code page 932, in your editor)";
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return shownName + " starts with a UTF-8 byte-order mark: it is UTF-8 text, which the updater shows garbled" +
               howTo;
    if (IsUtf8Text(bytes))
        return shownName + " is UTF-8 text, not code page 932 (Shift-JIS): the updater would show it garbled" + howTo;
    return "";
}

bool WipesGameFolder(const std::string& pattern)
{
    if (FolderPartLength(pattern.c_str()) != 0)
        return false;
    return pattern.find_first_not_of("*?.") == std::string::npos;
}

bool NamesRelativeFolder(const std::string& path)
{
    if (FolderPartLength(path.c_str()) == 0 || path[0] == '\\' || path[0] == '/')
        return false;
    return !(path.size() >= 2 && path[1] == ':');
}
