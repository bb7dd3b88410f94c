#include "host_files.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// FILETIME of the Unix epoch.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

// Characters Windows refuses in a name, and names it treats specially at their end.
bool IsWindowsName(const std::string& cp932, std::string& error)
{
    for (size_t i = 0; i < cp932.size(); ++i) {
        unsigned char byte = (unsigned char)cp932[i];
        if ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) {
            ++i;
            continue;
        }
        if (byte < 0x20 || std::string("<>:\"/\\|?*").find((char)byte) != std::string::npos) {
            error = "contains a character Windows does not allow in a file name";
            return false;
        }
    }
    if (!cp932.empty() && (cp932.back() == '.' || cp932.back() == ' ')) {
        error = "ends with a dot or a space, which Windows drops";
        return false;
    }
    return true;
}

#ifndef _WIN32
bool Convert(const char* to, const char* from, const std::string& input, std::string& output)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == (iconv_t)-1)
        return false;
    output.assign(input.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* out = &output[0];
    size_t outLeft = output.size();
    size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == (size_t)-1 || inLeft != 0)
        return false;
    output.resize(output.size() - outLeft);
    return true;
}
#else
bool WideToCodePage(const std::wstring& wide, UINT codePage, std::string& out, bool exact)
{
    if (wide.empty()) {
        out.clear();
        return true;
    }
    BOOL usedDefault = FALSE;
    DWORD flags = exact ? WC_NO_BEST_FIT_CHARS : 0;
    int size = WideCharToMultiByte(codePage, flags, wide.data(), (int)wide.size(), nullptr, 0, nullptr,
                                   exact ? &usedDefault : nullptr);
    if (size <= 0)
        return false;
    out.assign((size_t)size, '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), (int)wide.size(), &out[0], size, nullptr,
                        exact ? &usedDefault : nullptr);
    return !usedDefault;
}

bool CodePageToWide(const std::string& text, UINT codePage, std::wstring& wide)
{
    if (text.empty()) {
        wide.clear();
        return true;
    }
    int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), nullptr, 0);
    if (size <= 0)
        return false;
    wide.assign((size_t)size, L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), &wide[0], size);
    return true;
}
#endif

}  // namespace

bool NameToCp932(const std::filesystem::path& component, std::string& cp932, std::string& error)
{
#ifdef _WIN32
    std::wstring back;
    if (!WideToCodePage(component.native(), 932, cp932, true) || !CodePageToWide(cp932, 932, back) ||
        back != component.native()) {
        error = "has no code page 932 (Shift-JIS) form";
        return false;
    }
#else
    std::string back;
    if (!Convert("CP932", "UTF-8", component.native(), cp932) || !Convert("UTF-8", "CP932", cp932, back) ||
        back != component.native()) {
        error = "has no code page 932 (Shift-JIS) form";
        return false;
    }
#endif
    return IsWindowsName(cp932, error);
}

bool Cp932ToHostPath(const std::filesystem::path& base, const std::string& cp932, std::filesystem::path& path)
{
    path = base;
    size_t start = 0;
    for (size_t i = 0; i <= cp932.size(); ++i) {
        unsigned char byte = i < cp932.size() ? (unsigned char)cp932[i] : 0;
        if (i < cp932.size() && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC))) {
            ++i;
            continue;
        }
        if (i < cp932.size() && byte != '\\')
            continue;
        std::string component = cp932.substr(start, i - start);
        start = i + 1;
        if (component.empty())
            continue;
#ifdef _WIN32
        std::wstring wide;
        if (!CodePageToWide(component, 932, wide))
            return false;
        path /= wide;
#else
        std::string utf8;
        if (!Convert("UTF-8", "CP932", component, utf8))
            return false;
        path /= utf8;
#endif
    }
    return true;
}

std::string PathForDisplay(const std::filesystem::path& path)
{
#ifdef _WIN32
    std::string utf8;
    WideToCodePage(path.native(), CP_UTF8, utf8, false);
    return utf8;
#else
    return path.native();
#endif
}

bool ReadLastWriteTime(const std::filesystem::path& path, uint64_t& fileTime)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    fileTime = (uint64_t)data.ftLastWriteTime.dwLowDateTime | ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32);
    return true;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    // Times before 1601 cannot be stored; a time before 1970 is still fine.
    int64_t ticks = (int64_t)info.st_mtim.tv_sec * 10000000 + info.st_mtim.tv_nsec / 100;
    if (ticks < -(int64_t)kUnixEpochFileTime)
        ticks = -(int64_t)kUnixEpochFileTime;
    fileTime = (uint64_t)(ticks + (int64_t)kUnixEpochFileTime);
    return true;
#endif
}

bool WriteLastWriteTime(const std::filesystem::path& path, uint64_t fileTime)
{
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME time;
    time.dwLowDateTime = (DWORD)fileTime;
    time.dwHighDateTime = (DWORD)(fileTime >> 32);
    BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return ok != 0;
#else
    int64_t ticks = (int64_t)(fileTime - kUnixEpochFileTime);
    if (fileTime < kUnixEpochFileTime)
        ticks = -(int64_t)(kUnixEpochFileTime - fileTime);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    times[1].tv_sec = (time_t)seconds;
    times[1].tv_nsec = (long)(rest * 100);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

std::filesystem::path ProgramFolder()
{
#ifdef _WIN32
    wchar_t buffer[32768];
    DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length == 0 || length >= 32768)
        return {};
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
#else
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
#endif
}

bool IsTerminal(std::FILE* stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}
