// Test fixtures on the real file system: a fresh folder per test, files with given bytes.
#ifndef UPDATER_TESTS_SUPPORT_SCRATCH_H
#define UPDATER_TESTS_SUPPORT_SCRATCH_H

#include <windows.h>

#include <string>

// A new empty folder under the temporary-files folder, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag = "t");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    // path_ + "\\" + relative
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);  // throws DriverError when unreadable
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
void RemoveTree(const std::string& path);
std::string CurrentFolder();
uint64_t LastWriteTime(const std::string& path);
// A path of the Linux build tree (as CMake passes it in) as a Windows path under Wine (Z:).
std::string WinePath(const std::string& unixPath);

#endif
