#include "update_fixture.h"

#include "install_env.h"

namespace update_fixture {

namespace {

const char kEndCaption[] = "インストール終了";
const int kReadmeCheck = 1007;

bool Ticks(EndAction action)
{
    return action == EndAction::CheckThenOk || action == EndAction::CheckThenEnterKey ||
           action == EndAction::CheckThenEscapeKey || action == EndAction::CheckThenCloseBox;
}

void Leave(HWND dialog, EndAction action)
{
    // Keys go through the dialog manager of the modal loop, as typed on the focused button.
    HWND ok = GetDlgItem(dialog, IDOK);
    switch (action) {
    case EndAction::Ok:
    case EndAction::CheckThenOk:
        driver::Press(dialog, IDOK);
        break;
    case EndAction::EnterKey:
    case EndAction::CheckThenEnterKey:
        PostMessageA(ok, WM_KEYDOWN, VK_RETURN, 0);
        break;
    case EndAction::EscapeKey:
    case EndAction::CheckThenEscapeKey:
        PostMessageA(ok, WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    case EndAction::CloseBox:
    case EndAction::CheckThenCloseBox:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

}  // namespace

const char* Describe(EndAction action)
{
    switch (action) {
    case EndAction::Ok: return "OK";
    case EndAction::CheckThenOk: return "check, OK";
    case EndAction::EnterKey: return "Enter";
    case EndAction::CheckThenEnterKey: return "check, Enter";
    case EndAction::EscapeKey: return "Esc";
    case EndAction::CheckThenEscapeKey: return "check, Esc";
    case EndAction::CloseBox: return "close box";
    case EndAction::CheckThenCloseBox: return "check, close box";
    }
    return "?";
}

EndDialogSeen DriveEndDialog(DWORD processId, EndAction action, int timeoutMs)
{
    HWND dialog = driver::WaitForWindow(processId, driver::kDialogClass, kEndCaption, timeoutMs);
    try {
        EndDialogSeen seen;
        seen.owner = GetWindow(dialog, GW_OWNER);
        GetWindowRect(dialog, &seen.rect);
        HWND check = GetDlgItem(dialog, kReadmeCheck);
        seen.hasCheckBox = check != nullptr;
        for (const driver::Control& control : driver::ListControls(dialog))
            if (lstrcmpiA(control.className.c_str(), "Static") == 0)
                seen.message = control.text;
        if (check != nullptr) {
            seen.checkText = driver::WindowText(check);
            seen.startedChecked = SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED;
        }
        if (Ticks(action)) {
            if (check == nullptr)
                throw driver::DriverError("the end dialog has no readme box to tick");
            SendMessageA(check, BM_CLICK, 0, 0);
            if (SendMessageA(check, BM_GETCHECK, 0, 0) != BST_CHECKED)
                throw driver::DriverError("clicking the readme box did not tick it");
        }
        Leave(dialog, action);
        driver::WaitForWindowGone(dialog, timeoutMs);
        return seen;
    } catch (...) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        throw;
    }
}

std::string SettingsText(const std::vector<std::pair<std::string, std::string>>& keys,
                         const std::vector<Section>& sections)
{
    kit::InstallEnv text("\n");
    text.Line("// settings written by a test").Keys(keys, "\t\t");
    for (const Section& section : sections)
        text.Section(section.header, section.lines, "-\t// end of " + section.header);
    return text.End().Text();
}

}  // namespace update_fixture
