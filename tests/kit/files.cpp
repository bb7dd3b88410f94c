#include "files.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kit {

std::string UniqueName(const std::string& prefix)
{
    static std::atomic<int> counter{0};
#ifdef _WIN32
    int process = _getpid();
#else
    int process = (int)getpid();
#endif
    return prefix + std::to_string(process) + "_" + std::to_string(counter++);
}

TempFolder::TempFolder(const std::string& tag)
{
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        dir_ = base / UniqueName("uptest_" + tag + "_");
        std::error_code error;
        if (fs::create_directory(dir_, error))
            break;
        if (error)
            throw KitError("cannot create a temporary folder " + dir_.string() + ": " + error.message());
    }
    // The temporary-files folder and the name made here are ASCII, so the narrow form is exact.
    path_ = dir_.string();
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

std::string TempFolder::operator/(const std::string& relative) const
{
    return path_ + kSeparator + relative;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw KitError("cannot write " + path);
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    bool closed = std::fclose(file) == 0;
    if (written != bytes.size() || !closed)
        throw KitError("short write to " + path);
}

std::string ReadFileBytes(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw KitError("cannot read " + path);
    std::string bytes;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        throw KitError("cannot read all of " + path);
    return bytes;
}

#ifdef _WIN32

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::string> FolderNames(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

#else

bool FileExists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool FolderExists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::vector<std::string> FolderNames(const std::string& path)
{
    std::vector<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (!folder)
        return names;
    while (const dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& path)
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

#endif

void Write(const fs::path& path, const std::string& bytes)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    out.close();
    if (!out)
        throw KitError("cannot write " + path.u8string());
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw KitError("cannot read " + path.u8string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kit
