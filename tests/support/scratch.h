// Files as the Windows tests use them: the kit's temporary folders and whole files, under the
// names these tests have always used, and what only Windows can tell about a file.
#ifndef UPDATER_TESTS_SUPPORT_SCRATCH_H
#define UPDATER_TESTS_SUPPORT_SCRATCH_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "files.h"
#include "program.h"

using ScratchFolder = kit::TempFolder;
using kit::FileExists;
using kit::FolderNames;
using kit::FolderExists;
using kit::ReadFileBytes;
using kit::RemoveTree;
using kit::WriteFileBytes;

std::string CurrentFolder();
uint64_t LastWriteTime(const std::string& path);  // FILETIME units; throws DriverError

// A path of the Linux build tree (as CMake passes it in) as a Windows path under Wine (Z:).
inline std::string WinePath(const std::string& unixPath)
{
    return kit::BuildTreePath(unixPath);
}

#endif
