// Links as the builder sees them on each host: a link is a link whether it points at a file, a
// folder or nothing, and whatever std::filesystem of the host says.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/host_files.h"
#include "tool_kit.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace toolkit;

namespace {

TEST(HostLinks, ALinkIsALinkWhateverItPointsAt)
{
    Scratch scratch;
    const fs::path root = scratch.Path();
    Write(root / "file.dat", "x");
    fs::create_directories(root / "folder");
    Write(root / "folder" / "inner.dat", "y");
    if (!MakeLink(root / "file.dat", root / "to-file", false))
        GTEST_SKIP() << "this host makes no symbolic links (Windows without the privilege, Wine)";
    ASSERT_TRUE(MakeLink(root / "folder", root / "to-folder", true));
    ASSERT_TRUE(MakeLink(root / "gone.dat", root / "dangling", false));
    ASSERT_TRUE(MakeLink(root / "to-folder", root / "to-link", true));

    struct Case {
        const char* name;
        fs::path path;
        bool link;
    } cases[] = {
        {"a file", root / "file.dat", false},
        {"a folder", root / "folder", false},
        {"nothing", root / "none", false},
        {"a link to a file", root / "to-file", true},
        {"a link to a folder", root / "to-folder", true},
        {"a link to nothing", root / "dangling", true},
        {"a link to a link", root / "to-link", true},
        {"a file reached through a linked folder", root / "to-folder" / "inner.dat", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLink(c.path), c.link) << c.name;
}

}  // namespace
