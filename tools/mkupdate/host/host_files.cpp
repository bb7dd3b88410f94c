// The host system for the builder: names and texts in code page 932, file times, links, temporary files.
#include "host/host_files.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <fcntl.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <csignal>
#include <unistd.h>
#endif

#include "text/cp932_text.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

namespace {

// FILETIME of the Unix epoch.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

// One component as the updater would write it: the rules every package name keeps, and no
// backslash, which a Linux file name may hold but a package reads as a separator.
bool IsWindowsName(const std::string& cp932, std::string& error)
{
    if (FirstSeparator(cp932.c_str()) >= 0) {
        error = "contains a backslash, which the package would read as a folder separator";
        return false;
    }
    int fault = CheckEntryName(cp932.c_str(), false);
    if (fault != ENTRY_NAME_OK) {
        error = std::string("has ") + DescribeEntryNameFault(fault);
        return false;
    }
    return true;
}

#ifndef _WIN32
// The one iconv loop of the builder. All of input is converted, or false at the first byte that
// cannot be; with escapeInvalid such a byte becomes \xNN instead and the rest goes on.
bool Convert(const char* to, const char* from, const std::string& input, std::string& output,
             bool escapeInvalid = false)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == (iconv_t)-1)
        return false;
    output.clear();
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    bool converted = true;
    while (inLeft > 0 && converted) {
        char buffer[256];
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
        output.append(buffer, (size_t)(out - buffer));
        if (result != (size_t)-1 || errno == E2BIG)
            continue;
        if (!escapeInvalid) {
            converted = false;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)*in);
            output += hex;
            in++;
            inLeft--;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
    return converted;
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

bool TextToCp932(const std::string& utf8, std::string& cp932)
{
#ifdef _WIN32
    std::wstring wide;
    return CodePageToWide(utf8, CP_UTF8, wide) && WideToCodePage(wide, 932, cp932, true);
#else
    return Convert("CP932", "UTF-8", utf8, cp932);
#endif
}

bool Cp932ToHostPath(const std::filesystem::path& base, const std::string& cp932, std::filesystem::path& path)
{
    // Only a name the updater would write maps to a path: every component then is a plain name
    // (no "..", no empty part, no lone lead byte to swallow the end), so the path stays under base.
    if (cp932.size() != strlen(cp932.c_str()))
        return false;
    const char* name = cp932.c_str();
    int length = (int)cp932.size();
    bool folder = LastSeparator(name, length) == length - 1;
    if (CheckEntryName(name, folder) != ENTRY_NAME_OK)
        return false;
    path = base;
    int start = 0;
    for (int i = 0;; i = NextCharacter(name, i)) {
        if (i < length && name[i] != '\\')
            continue;
        std::string component = cp932.substr((size_t)start, (size_t)(i - start));
        if (!component.empty()) {
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
        if (i >= length)
            return true;
        start = i + 1;
    }
}

FILE* CreateNewFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    int descriptor = _open_osfhandle((intptr_t)handle, 0);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr)
        _close(descriptor);
    return file;
#else
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return nullptr;
    FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr)
        close(descriptor);
    return file;
#endif
}

std::FILE* CreateSpillFile()
{
#ifdef _WIN32
    // The C run-time's tmpfile() writes to the root of the current drive, which a user may not
    // write to; "D" deletes the file when its last handle closes.
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"mku", 0, name) == 0)
        return nullptr;
    std::FILE* file = _wfopen(name, L"w+bD");
    if (file == nullptr)
        DeleteFileW(name);
    return file;
#else
    return std::tmpfile();
#endif
}

bool IsLink(const std::filesystem::path& path)
{
#ifdef _WIN32
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    // The listing of the one name tells its reparse tag.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkReparseTag(found.dwReserved0);
#else
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
#endif
}

bool IsReadOnlyFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
#else
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0;
#endif
}

std::string Cp932ToUtf8(const std::string& text)
{
    std::string out;
#ifdef _WIN32
    std::wstring wide;
    if (CodePageToWide(text, 932, wide) && WideToCodePage(wide, CP_UTF8, out, false))
        return out;
    out.clear();
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, c < 0x80 ? "%c" : "\\x%02X", c);
        out += hex;
    }
    return out;
#else
    return Convert("UTF-8", "CP932", text, out, true) ? out : text;
#endif
}

std::string DisplayName(const std::string& cp932)
{
    return EscapeControls(Cp932ToUtf8(cp932));
}

std::string PathAsArgument(const std::filesystem::path& path)
{
    std::string shown = PathForDisplay(path);
    bool plain = !shown.empty();
    for (char c : shown)
        plain = plain && ((unsigned char)c >= 0x80 || std::isalnum((unsigned char)c) || std::strchr("_-./\\:+=@,%", c) != nullptr);
    if (plain)
        return shown;
#ifdef _WIN32
    // cmd.exe takes everything between double quotes; a file name cannot hold one.
    return "\"" + shown + "\"";
#else
    std::string quoted = "'";
    for (char c : shown)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

std::string EscapeControls(const std::string& text)
{
    std::string shown;
    for (char c : text) {
        if ((unsigned char)c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)c);
            shown += hex;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string PathForDisplay(const std::filesystem::path& path)
{
#ifdef _WIN32
    std::string utf8;
    WideToCodePage(path.native(), CP_UTF8, utf8, false);
    return EscapeControls(utf8);
#else
    return EscapeControls(path.native());
#endif
}

bool ReadHostFileTime(const std::filesystem::path& path, uint64_t& fileTime)
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

namespace {

// The file to delete when the user interrupts; a fixed buffer, since a signal handler may not
// allocate.
#ifdef _WIN32
wchar_t g_interruptPath[32768];

BOOL WINAPI RemoveOnControl(DWORD)
{
    if (g_interruptPath[0] != L'\0')
        DeleteFileW(g_interruptPath);
    return FALSE;  // the default handler then ends the process
}
#else
char g_interruptPath[4096];

void RemoveOnSignal(int signal)
{
    if (g_interruptPath[0] != '\0')
        unlink(g_interruptPath);
    std::signal(signal, SIG_DFL);
    raise(signal);
}
#endif

}  // namespace

void RemoveOnInterrupt(const std::filesystem::path& path)
{
#ifdef _WIN32
    const std::wstring& text = path.native();
    if (text.size() >= 32768)
        return;
    std::memcpy(g_interruptPath, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    SetConsoleCtrlHandler(RemoveOnControl, TRUE);
#else
    const std::string& text = path.native();
    if (text.size() >= sizeof g_interruptPath)
        return;
    std::memcpy(g_interruptPath, text.c_str(), text.size() + 1);
    std::signal(SIGINT, RemoveOnSignal);
    std::signal(SIGTERM, RemoveOnSignal);
    std::signal(SIGHUP, RemoveOnSignal);
#endif
}

void KeepOnInterrupt()
{
    g_interruptPath[0] = 0;
}

void RemoveUnfinishedFile()
{
#ifdef _WIN32
    if (g_interruptPath[0] != L'\0')
        DeleteFileW(g_interruptPath);
#else
    if (g_interruptPath[0] != '\0')
        unlink(g_interruptPath);
#endif
    g_interruptPath[0] = 0;
}
