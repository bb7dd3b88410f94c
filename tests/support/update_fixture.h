// Helpers for the update-run tests: driving the end dialog as a player would, and writing the
// settings file that a run reads.
#ifndef UPDATER_TESTS_SUPPORT_UPDATE_FIXTURE_H
#define UPDATER_TESTS_SUPPORT_UPDATE_FIXTURE_H

#include <windows.h>

#include <string>
#include <vector>

#include "driver.h"

namespace update_fixture {

// How the player leaves the end dialog.
enum class EndAction {
    Ok,                 // the OK button
    CheckThenOk,        // tick the readme box, then OK
    EnterKey,
    CheckThenEnterKey,
    EscapeKey,
    CheckThenEscapeKey,
    CloseBox,
    CheckThenCloseBox,
};
const char* Describe(EndAction action);

struct EndDialogSeen {
    HWND owner = nullptr;
    bool hasCheckBox = false;  // ENDINSTALL has the readme box 1007, ENDINSTALL_SHORT none
    bool startedChecked = false;
    std::string checkText;
    std::string message;  // the static text of the template
    RECT rect{};
};

// Waits for the end dialog ("インストール終了") of the process (0: this one), reads it, leaves it
// the given way and waits until it is gone. A failure closes the dialog before it throws, so a
// modal loop in this process is never left waiting.
EndDialogSeen DriveEndDialog(DWORD processId, EndAction action, int timeoutMs = driver::kDefaultTimeoutMs);

// install.env text: the key lines, then each section with its lines, closed with "-".
struct Section {
    std::string header;
    std::vector<std::string> lines;
};
std::string SettingsText(const std::vector<std::pair<std::string, std::string>>& keys,
                         const std::vector<Section>& sections = {});

}  // namespace update_fixture

#endif
