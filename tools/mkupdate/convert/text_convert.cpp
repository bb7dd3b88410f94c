// The conversion of a UTF-8 or UTF-16 text file to code page 932 with CR LF line ends.
#include "convert/text_convert.h"

#include <cstdio>

#include "host/host_files.h"
#include "text/cp932_text.h"

namespace {

// Length of the UTF-8 sequence that starts at bytes[i], or 0 when it is not a valid one.
size_t Utf8Length(const std::string& bytes, size_t i)
{
    unsigned char c = (unsigned char)bytes[i];
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && c < 0xC2) || i + length > bytes.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if (((unsigned char)bytes[i + k] & 0xC0) != 0x80)
            return 0;
    return length;
}

unsigned CodePoint(const std::string& utf8)
{
    unsigned char lead = (unsigned char)utf8[0];
    if (utf8.size() == 1)
        return lead;
    unsigned value = lead & (0xFF >> (utf8.size() + 1));
    for (size_t k = 1; k < utf8.size(); ++k)
        value = value << 6 | ((unsigned char)utf8[k] & 0x3F);
    return value;
}

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += (char)code;
    } else if (code < 0x800) {
        out += (char)(0xC0 | code >> 6);
        out += (char)(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += (char)(0xE0 | code >> 12);
        out += (char)(0x80 | (code >> 6 & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    } else {
        out += (char)(0xF0 | code >> 18);
        out += (char)(0x80 | (code >> 12 & 0x3F));
        out += (char)(0x80 | (code >> 6 & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    }
}

// UTF-16 after its byte-order mark as UTF-8; false at an odd length or a lone surrogate.
bool Utf16ToUtf8(const std::string& bytes, bool bigEndian, std::string& utf8)
{
    if (bytes.size() % 2 != 0)
        return false;
    auto unit = [&](size_t i) {
        unsigned a = (unsigned char)bytes[i], b = (unsigned char)bytes[i + 1];
        return bigEndian ? a << 8 | b : b << 8 | a;
    };
    utf8.clear();
    for (size_t i = 2; i < bytes.size(); i += 2) {
        unsigned code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 2 >= bytes.size())
                return false;
            unsigned low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        AppendUtf8(utf8, code);
    }
    return true;
}

// Every lone LF or CR, and every CR LF, as CR LF.
std::string WithCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Each character of UTF-8 text that code page 932 cannot hold, by line and column.
std::vector<std::string> CharactersWithoutCp932Form(const std::string& utf8)
{
    std::vector<std::string> problems;
    int line = 1, column = 1;
    for (size_t i = 0; i < utf8.size();) {
        size_t length = Utf8Length(utf8, i);
        std::string character = utf8.substr(i, length == 0 ? 1 : length);
        std::string ignored;
        if (character == "\n") {
            ++line;
            column = 0;
        } else if (!TextToCp932(character, ignored)) {
            char where[96];
            std::snprintf(where, sizeof where, "line %d, column %d: U+%04X ", line, column, CodePoint(character));
            problems.push_back(where + character + " has no code page 932 form");
        }
        ++column;
        i += character.size();
    }
    return problems;
}

}  // namespace

bool IsUtf8Text(const std::string& bytes)
{
    bool beyondAscii = false;
    for (size_t i = 0; i < bytes.size();) {
        size_t length = Utf8Length(bytes, i);
        if (length == 0)
            return false;
        beyondAscii = beyondAscii || length > 1;
        i += length;
    }
    return beyondAscii;
}

TextEncoding DetectTextEncoding(const std::string& bytes)
{
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return TextEncoding::kUtf8Bom;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0)
        return TextEncoding::kUtf16Le;
    if (bytes.compare(0, 2, "\xFE\xFF") == 0)
        return TextEncoding::kUtf16Be;
    if (IsUtf8Text(bytes))
        return TextEncoding::kUtf8;
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && (unsigned char)c < 0x80;
    if (ascii)
        return TextEncoding::kAscii;
    return FindInvalidCp932(bytes.data(), bytes.size()) < 0 ? TextEncoding::kCp932 : TextEncoding::kUnknown;
}

const char* DescribeTextEncoding(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::kAscii:
        return "ASCII";
    case TextEncoding::kCp932:
        return "code page 932 (Shift-JIS)";
    case TextEncoding::kUtf8:
        return "UTF-8";
    case TextEncoding::kUtf8Bom:
        return "UTF-8 with a byte-order mark";
    case TextEncoding::kUtf16Le:
        return "UTF-16 (little-endian, with a byte-order mark)";
    case TextEncoding::kUtf16Be:
        return "UTF-16 (big-endian, with a byte-order mark)";
    case TextEncoding::kUnknown:
        break;
    }
    return "neither UTF-8, UTF-16 nor code page 932";
}

TextConversion ConvertToCp932Text(const std::string& bytes)
{
    TextConversion result;
    result.from = DetectTextEncoding(bytes);
    std::string utf8;
    switch (result.from) {
    case TextEncoding::kUnknown:
        result.problems.push_back("the text is neither UTF-8, UTF-16 nor code page 932 (Shift-JIS); "
                                  "open it in an editor and save it as UTF-8 or Shift-JIS");
        return result;
    case TextEncoding::kAscii:
    case TextEncoding::kCp932:
        // Already what the updater reads: only the line ends may need mending.
        result.cp932 = WithCrLf(bytes);
        result.changed = result.cp932 != bytes;
        return result;
    case TextEncoding::kUtf8Bom:
        utf8 = bytes.substr(3);
        break;
    case TextEncoding::kUtf8:
        utf8 = bytes;
        break;
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be:
        if (!Utf16ToUtf8(bytes, result.from == TextEncoding::kUtf16Be, utf8)) {
            result.problems.push_back("the text starts with a UTF-16 byte-order mark but is not valid UTF-16");
            return result;
        }
        break;
    }
    if (utf8.find('\0') != std::string::npos) {
        result.problems.push_back("the text holds a zero byte, which ends a line for the updater");
        return result;
    }
    if (!TextToCp932(WithCrLf(utf8), result.cp932)) {
        result.problems = CharactersWithoutCp932Form(utf8);
        if (result.problems.empty())
            result.problems.push_back("the text has no exact code page 932 form");
        result.cp932.clear();
        return result;
    }
    result.changed = true;
    return result;
}
