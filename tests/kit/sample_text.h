// Sample characters for the tests' names and texts (portable): code page 932 characters whose
// second byte looks like a separator or a letter, so a reader that looks at single bytes
// misreads them.
#ifndef UPDATER_TESTS_KIT_SAMPLE_TEXT_H
#define UPDATER_TESTS_KIT_SAMPLE_TEXT_H

#include <string>

namespace kit {

inline const std::string kOmote = "\x95\x5C";  // 表: second byte is a backslash
inline const std::string kSo = "\x83\x5C";     // ソ: the same
inline const std::string kPo = "\x83\x7C";     // ポ: second byte is "|"
inline const std::string kFullWidthT = "\x82\x73";       // Ｔ: second byte is "s"
inline const std::string kFullWidthTLower = "\x82\x94";  // ｔ
// The same characters in UTF-8, as host file names and mkupdate's messages carry them.
inline const std::string kOmoteUtf8 = "\xE8\xA1\xA8";
inline const std::string kSoUtf8 = "\xE3\x82\xBD";

}  // namespace kit

#endif
