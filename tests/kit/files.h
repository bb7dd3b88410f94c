// The test kit's files (portable): a fresh temporary folder per test, whole files written and
// read, existence checks. Narrow paths are what the platform's narrow file functions take (code
// page 932 under Wine); std::filesystem paths carry names given in UTF-8 (U8) on both.
#ifndef UPDATER_TESTS_KIT_FILES_H
#define UPDATER_TESTS_KIT_FILES_H

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kit {

namespace fs = std::filesystem;

// What a helper of the kit throws: GoogleTest reports it as the test's failure.
struct KitError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A name no other test program running beside this one can take.
std::string UniqueName(const std::string& prefix);

// A new empty folder under the temporary-files folder, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag = "t");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder as narrow text, with the platform's separator.
    const std::string& Path() const { return path_; }
    // The folder for std::filesystem, to join names given in UTF-8.
    const fs::path& Dir() const { return dir_; }
    // Path() + separator + relative.
    std::string operator/(const std::string& relative) const;

private:
    fs::path dir_;
    std::string path_;
};

// The platform's path separator as narrow text.
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

void WriteFileBytes(const std::string& path, const std::string& bytes);  // throws KitError
std::string ReadFileBytes(const std::string& path);                      // throws KitError
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// The names in the folder, sorted; none when it cannot be read.
std::vector<std::string> FolderNames(const std::string& path);
// Removes the folder with everything in it, read-only files too; a missing folder is no error.
void RemoveTree(const std::string& path);

// The same for std::filesystem paths; Write creates the folders on the way.
void Write(const fs::path& path, const std::string& bytes);  // throws KitError
std::string Read(const fs::path& path);                      // throws KitError

// Host names given as UTF-8 bytes (u8path keeps them apart from the execution character set).
inline fs::path U8(const std::string& utf8)
{
    return fs::u8path(utf8);
}

}  // namespace kit

#endif
