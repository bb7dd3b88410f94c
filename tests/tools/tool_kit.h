// What the mkupdate tests share, over the portable test kit: temporary folders seen as
// std::filesystem paths, whole-file reads and writes, and running the mkupdate program itself
// for its exit code and messages.
#ifndef UPDATER_TESTS_TOOLS_TOOL_KIT_H
#define UPDATER_TESTS_TOOLS_TOOL_KIT_H

#include <filesystem>
#include <string>

#include "files.h"
#include "host/rct_convert.h"
#include "image/rct_decoder.h"
#include "mkupdate_program.h"
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

}  // namespace toolkit

#endif
