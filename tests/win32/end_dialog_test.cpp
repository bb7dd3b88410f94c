// The end dialog as the player meets it: which template the readme setting picks, what the
// readme box says, and the readme flag after each way of leaving it.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "scratch.h"
#include "settings/settings.h"
#include "base/settings_file.h"
#include "base/notices.h"
#include "ui/end_dialog.h"
#include "update_fixture.h"

using update_fixture::DriveEndDialog;
using update_fixture::EndAction;
using update_fixture::EndDialogSeen;

namespace {

const char kFinished[] = "インストールを終了しました。";
const char kFinishedWithMenu[] = "インストールを終了しました。\n以下のメニューを選択してＯＫを押して下さい。";

HWND OwnerWindow()
{
    static HWND owner = [] {
        HWND window = CreateWindowExA(0, "STATIC", "エンドダイアログ試験", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320,
                                      200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetOwnerWindow(window);
        return window;
    }();
    return owner;
}

void UseSettings(const std::string& text)
{
    ScratchFolder folder("end");
    WriteFileBytes(folder / "install.env", text);
    FreeSettings();
    LoadSettings((folder / "install.env").c_str());
}

EndDialogSeen ShowAndLeave(EndAction action)
{
    auto player = std::async(std::launch::async, [action] { return DriveEndDialog(0, action); });
    ShowEndDialog();
    return player.get();
}

struct EndCase {
    std::string readmeLine;  // the INSTREADME key line, empty for none
    EndAction action;
    bool longTemplate;
    std::string checkText;
    int flag;
};

TEST(EndDialog, TheReadmeSettingPicksTheTemplateAndTheWayOutSetsTheFlag)
{
    HWND owner = OwnerWindow();
    const std::string longLabel(300, 'r');
    const EndCase cases[] = {
        {"INSTREADME\t\tお読みください|(readme)", EndAction::CheckThenOk, true, "お読みください (readme)", 1},
        {"INSTREADME\t\tお読みください", EndAction::Ok, true, "お読みください", 0},
        {"INSTREADME\t\tお読みください", EndAction::CheckThenOk, true, "お読みください", 1},
        {"INSTREADME\t\tお読みください", EndAction::CheckThenEscapeKey, true, "お読みください", 0},
        {"INSTREADME\t\tお読みください", EndAction::CheckThenEnterKey, true, "お読みください", 1},
        {"INSTREADME\t\tお読みください", EndAction::CheckThenCloseBox, true, "お読みください", 0},
        {"INSTREADME\t\tお読みください", EndAction::EscapeKey, true, "お読みください", 0},
        {"INSTREADME\t\t" + longLabel, EndAction::CheckThenOk, true, longLabel, 1},  // past the 128-byte accessors
        {"INSTREADME\t\t-", EndAction::Ok, false, "", 0},
        {"INSTREADME\t\t-none", EndAction::EnterKey, false, "", 0},
        {"", EndAction::Ok, false, "", 0},  // absent: "-"
        {"", EndAction::CloseBox, false, "", 0},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.readmeLine + " / " + update_fixture::Describe(c.action));
        UseSettings("TITLEBAR\t\tEnd Dialog Test\n" + c.readmeLine + "\n[EOF]\n");
        EndDialogSeen seen = ShowAndLeave(c.action);
        EXPECT_EQ(seen.owner, owner);
        EXPECT_EQ(seen.hasCheckBox, c.longTemplate);
        EXPECT_EQ(seen.message, c.longTemplate ? kFinishedWithMenu : kFinished);
        EXPECT_FALSE(seen.startedChecked);
        EXPECT_EQ(seen.checkText, c.checkText);
        EXPECT_EQ(GetReadmeFlag(), c.flag);
    }
}

TEST(EndDialog, OpensCentredOnTheScreen)
{
    OwnerWindow();
    UseSettings("INSTREADME\t\treadme\n");
    EndDialogSeen seen = ShowAndLeave(EndAction::Ok);
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES);
    int height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(seen.rect.left, (width - (seen.rect.right - seen.rect.left)) / 2);
    EXPECT_EQ(seen.rect.top, (height - (seen.rect.bottom - seen.rect.top)) / 2);
}

}  // namespace
