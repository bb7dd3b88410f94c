// Both entry parsers over arbitrary entry text (an entry is at most 511 bytes), with an install
// path taken from the input too.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "settings/action_lists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // First line: the install path; the rest: the entry.
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string path = newline == std::string::npos ? "C:\\Games\\Demo" : input.substr(0, newline);
    std::string entry = newline == std::string::npos ? input : input.substr(newline + 1);
    entry = entry.substr(0, strnlen(entry.c_str(), TEXT_BUFFER_SIZE - 1));
    SetInstallPath(path.c_str());

    char first[TEXT_BUFFER_SIZE];
    char second[TEXT_BUFFER_SIZE];
    if (ParseIniEntry(entry.c_str(), first, second) == 0 &&
        (strlen(first) + strlen(second) + 1 > TEXT_BUFFER_SIZE - 1))
        __builtin_trap();
    if (ParseRegEntry(entry.c_str(), first, second) == 0 &&
        (strlen(first) > TEXT_BUFFER_SIZE - 1 || strlen(second) > TEXT_BUFFER_SIZE - 1))
        __builtin_trap();
    UnescapeBackslashes(entry.c_str());
    return 0;
}
