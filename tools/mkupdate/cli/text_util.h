// Whole-file reads and writes by UTF-8 path, and JSON strings, for every command.
#ifndef MKUPDATE_TEXT_UTIL_H
#define MKUPDATE_TEXT_UTIL_H

#include <filesystem>
#include <string>

// Paths given as text are UTF-8 on every host, as mkupdate takes its arguments: a Japanese name
// then reaches the file system exactly on Windows too.
bool ReadWholeFile(const std::string& path, std::string& bytes);
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& utf8);

#endif
