#ifndef MKUPDATE_TEXT_UTIL_H
#define MKUPDATE_TEXT_UTIL_H

#include <string>

bool ReadWholeFile(const std::string& path, std::string& bytes);
bool WriteWholeFile(const std::string& path, const std::string& bytes);

#endif
