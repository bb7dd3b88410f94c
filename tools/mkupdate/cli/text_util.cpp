// Shared by the commands: reading whole files, and byte formatting.
#include "cli/text_util.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

bool ReadOpened(std::ifstream& in, std::string& bytes)
{
    if (!in)
        return false;
    std::ostringstream out;
    out << in.rdbuf();
    bytes = out.str();
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    return ReadWholeFile(std::filesystem::u8path(path), bytes);
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    return ReadOpened(in, bytes);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return bool(out);
}

std::string JsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}
