// What the mkupdate tests share, over the portable test kit: temporary folders seen as
// std::filesystem paths, whole-file reads and writes, and running the mkupdate program itself
// for its exit code and messages.
#ifndef UPDATER_TESTS_TOOLS_TOOL_KIT_H
#define UPDATER_TESTS_TOOLS_TOOL_KIT_H

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "files.h"
#include "host/rct_convert.h"
#include "image/rct_decoder.h"
#include "mkupdate_program.h"
#include "package/package_writer.h"
#include "program.h"

namespace toolkit {

namespace fs = std::filesystem;

using kit::Read;
using kit::RunProgram;
using kit::U8;
using kit::UniqueName;
using kit::Write;
using ToolRun = kit::ProgramRun;

// A temporary folder for names joined as std::filesystem paths.
class Scratch {
public:
    const fs::path& Path() const { return folder_.Dir(); }

private:
    kit::TempFolder folder_{"mkupdate"};
};

// Runs the mkupdate program itself (standard output and standard error together, or standard
// output alone).
inline ToolRun RunTool(const std::string& arguments, bool withErrors = true)
{
    return kit::RunProgram(MkupdateProgram(), arguments, withErrors);
}

// A small title picture as an RCT file: every update carries one.
inline std::string TitlePictureBytes()
{
    RgbImage image;
    image.width = image.height = 4;
    image.bgr.assign(3 * 4 * 4, 0x60);
    std::string rct, error;
    EncodeRct(image, RCT_TC00, "", rct, error);
    return rct;
}

inline void WriteTitlePicture(const fs::path& folder)
{
    Write(folder / "insttscr.rct", TitlePictureBytes());
}

inline std::string Q(const fs::path& path)
{
    return kit::Quoted(path);
}

// One entry of a package made by hand, whatever rules it breaks.
struct RawEntry {
    std::string name;  // code page 932
    bool folder = false;
    std::string contents = "new";
};

// An update: `stub`, then a package of exactly these entries, after a sound title picture when
// withTitle (without one verify calls no update sound).
inline std::string RawUpdate(const std::string& stub, const std::vector<RawEntry>& entries, bool withTitle)
{
    std::string file = stub;
    PackageWriter writer([&](const unsigned char* d, size_t n) { file.append(reinterpret_cast<const char*>(d), n); },
                         (uint32_t)stub.size());
    if (withTitle) {
        const std::string title = TitlePictureBytes();
        writer.AddFile("insttscr.rct", (int32_t)title.size(), 0, DeflateZlib(title));
    }
    for (const RawEntry& entry : entries) {
        if (entry.folder)
            writer.AddFolder(entry.name);
        else
            writer.AddFile(entry.name, (int32_t)entry.contents.size(), 0, DeflateZlib(entry.contents));
    }
    writer.Finish();
    return file;
}

// False where the host makes no links (Windows without the privilege or developer mode).
inline bool MakeLink(const fs::path& target, const fs::path& link, bool folder)
{
#ifdef _WIN32
    // Vista's call, looked up: the build targets XP headers.
    using CreateLink = BOOLEAN(WINAPI*)(const wchar_t*, const wchar_t*, DWORD);
    auto create = reinterpret_cast<CreateLink>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkW")));
    // 1: a folder link; 2: allowed without the privilege where developer mode is on.
    DWORD flags = (folder ? 0x1 : 0) | 0x2;
    // Wine 8 answers success and makes nothing: only a link that is there counts.
    return create != nullptr && create(link.c_str(), target.c_str(), flags) != 0 &&
           GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    std::error_code code;
    if (folder)
        fs::create_directory_symlink(target, link, code);
    else
        fs::create_symlink(target, link, code);
    return !code;
#endif
}

}  // namespace toolkit

#endif
