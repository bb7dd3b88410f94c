// One update for players of two old versions: mkupdate builds it from both (--base twice), and the
// real updater, run as a player runs it, takes each installed version to the new one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "folder_state.h"
#include "product_key_fixture.h"
#include "pseudo_random.h"
#include "scratch.h"

namespace {

DWORD RunProgram(const std::string& commandLine)
{
    driver::Process process = driver::Start(commandLine);
    return process.WaitForExit(120000);
}

// The game's archive in three versions: 1.01 changes a stretch of 1.00, 1.10 inserts into 1.01.
const std::string kArchive100 = kit::RandomBytes(600000, 21);
const std::string kArchive101 = kArchive100.substr(0, 250000) + kit::RandomBytes(3000, 22) + kArchive100.substr(253000);
const std::string kArchive110 = kArchive101.substr(0, 400000) + "added in 1.10" + kArchive101.substr(400000);

void WriteGame(const std::string& folder, const std::string& archive, const std::string& image)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\data").c_str(), nullptr);
    WriteFileBytes(folder + "\\game.exe", "the game, the same in every version");
    WriteFileBytes(folder + "\\data\\archive.pak", archive);
    if (!image.empty())
        WriteFileBytes(folder + "\\data\\image.dat", image);
}

TEST(DeltaUpdate, BuiltFromTwoOldVersionsTakesEachToTheNewOne)
{
    const std::string work = WinePath(E2E_WORK_DIR) + "\\delta";
    RemoveTree(work);
    CreateDirectoryA(WinePath(E2E_WORK_DIR).c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
    TestProductKey key("UpdaterE2E", "Delta" + std::to_string(GetCurrentProcessId()));
    const std::string v100 = work + "\\1.00", v101 = work + "\\1.01", v110 = work + "\\1.10";
    WriteGame(v100, kArchive100, "");
    WriteGame(v101, kArchive101, "image of 1.01");
    WriteGame(v110, kArchive110, "image of 1.10");
    WriteFileBytes(v110 + "\\install.env",
                   SettingsFile({"TITLEBAR\tE2E差分", "REG_GLOBAL\t" + key.Global(), "REG_LOCAL\t" + key.Local(),
                                 "KEYFILE\tgame.exe", "[delfiles_afterinst]", "install.env", "insttscr.rct", "-", "[EOF]"}));
    WriteFileBytes(v110 + "\\insttscr.rct", MakeRctFile(64, 48, PatternPixels(64, 48)));
    WriteFileBytes(v110 + "\\readme.txt", "what is new in 1.10\r\n");
    const FolderState expected = ReadFolderState(v110);

    const std::string update = work + "\\update.exe";
    ASSERT_EQ(RunProgram(driver::Quote(WinePath(MKUPDATE_EXE)) + " build " + driver::Quote(v110) + " -o " +
                         driver::Quote(update) + " --base " + driver::Quote(v100) + " --base " + driver::Quote(v101) +
                         " --stub " + driver::Quote(StubPath())),
              0u);
    EXPECT_LT(ReadFileBytes(update).size(), ReadFileBytes(StubPath()).size() + kArchive110.size() / 4)
        << "the archive travels as its differences";

    for (const std::string& base : {v100, v101}) {
        SCOPED_TRACE(base);
        const std::string game = work + "\\installed";
        RemoveTree(game);
        WriteGame(game, base == v100 ? kArchive100 : kArchive101, base == v100 ? "" : "image of 1.01");
        WriteFileBytes(game + "\\save.dat", "the player's");
        key.SetMachineText("IsInst", "1");
        key.SetMachineText("InstTo", game);

        ScratchFolder temp("tmp");
        PrivateTemp privateTemp(temp.Path());
        driver::Process updater = driver::Start(driver::Quote(update), work);
        HWND window = WaitForMainWindow(updater.Id(), "E2E差分 アップデータ");
        driver::Press(window, 1001);
        driver::AnswerBox(updater.Id(), IDYES);
        HWND end = driver::WaitForWindow(updater.Id(), driver::kDialogClass, "インストール終了");
        driver::Press(end, IDOK);
        EXPECT_EQ(updater.WaitForExit(), 0u);

        FolderState installed = ReadFolderState(game);
        EXPECT_EQ(installed.count("save.dat"), 1u) << "the player's file stays";
        installed.erase("save.dat");
        FolderState wanted = expected;
        wanted.erase("install.env");  // removed after the update, as its settings say
        wanted.erase("insttscr.rct");
        for (auto& [name, item] : installed) {
            if (wanted.count(name) == 0) {
                ADD_FAILURE() << name << " is left over";
                continue;
            }
            EXPECT_EQ(item.bytes, wanted.at(name).bytes) << name;
            EXPECT_EQ(item.folder, wanted.at(name).folder) << name;
        }
        EXPECT_EQ(installed.size(), wanted.size());
        EXPECT_TRUE(privateTemp.WorkFolders().empty());
    }
}

}  // namespace
