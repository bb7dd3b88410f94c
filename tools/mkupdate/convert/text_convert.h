// Turns a settings file or readme saved as UTF-8 (with or without a byte-order mark) or UTF-16
// into what the updater reads: code page 932 text with CR LF line ends. Exact or not at all: a
// character without a code page 932 form stops the conversion and is named.
#ifndef MKUPDATE_TEXT_CONVERT_H
#define MKUPDATE_TEXT_CONVERT_H

#include <string>
#include <vector>

enum class TextEncoding { kAscii, kCp932, kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be, kUnknown };

// What the bytes are: a byte-order mark decides; else valid UTF-8 beyond ASCII is UTF-8, plain
// ASCII is ASCII, valid code page 932 is code page 932 (short Japanese code page 932 texts are
// almost never valid UTF-8 too).
TextEncoding DetectTextEncoding(const std::string& bytes);

// "UTF-8 with a byte-order mark" and the like, for messages.
const char* DescribeTextEncoding(TextEncoding encoding);

// True when the bytes are valid UTF-8 and hold at least one character beyond ASCII.
bool IsUtf8Text(const std::string& bytes);

struct TextConversion {
    TextEncoding from = TextEncoding::kUnknown;
    std::string cp932;                  // the converted text, when `problems` is empty
    std::vector<std::string> problems;  // "line 3, column 7: U+1F600 has no code page 932 form"
    bool changed = false;               // cp932 differs from the input bytes
};

// Converts `bytes` to code page 932 with CR LF line ends (a lone LF or CR becomes CR LF).
TextConversion ConvertToCp932Text(const std::string& bytes);

#endif
