// End-to-end fixtures: real update executables (the stub with a package), a private
// temporary-files folder for the updater, and the main window as the player sees it.
#ifndef UPDATER_TESTS_SUPPORT_E2E_FIXTURE_H
#define UPDATER_TESTS_SUPPORT_E2E_FIXTURE_H

#include <windows.h>

#include <string>
#include <vector>

#include "driver.h"
#include "install_env.h"
#include "package/package_writer.h"

// The stub as built (a Linux path from CMake, seen through Wine's Z: drive).
std::string StubPath();

// An RCT file (TC00) of the picture: `pixels` packed rows of blue, green, red.
std::string MakeRctFile(int width, int height, const std::vector<unsigned char>& pixels);
// A picture whose every pixel differs from its neighbours, so misplacement shows.
std::vector<unsigned char> PatternPixels(int width, int height);

// Settings text in code page 932 with CR LF line ends, from lines written here.
inline std::string SettingsFile(const std::vector<std::string>& lines)
{
    return kit::InstallEnv().Lines(lines).Text();
}

// Writes stub + package to `path`.
void WriteUpdate(const std::string& path, const std::vector<PackageFileEntry>& entries);

// While alive, the programs this process starts use `folder` as their temporary-files folder.
class PrivateTemp {
public:
    explicit PrivateTemp(const std::string& folder);
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;
    // The updater's work folders found there.
    std::vector<std::string> WorkFolders() const;

private:
    std::string folder_;
    std::string oldTmp_;
    std::string oldTemp_;
};

// The main window of an updater process, and its action buttons (visible ones, by id).
HWND WaitForMainWindow(DWORD processId, const std::string& title);
std::vector<driver::Control> VisibleButtons(HWND window);

#endif
