// Runs an update executable headless the way a player would, and saves a picture of each
// window on the way: main window, the question before the update, progress window, end dialog,
// and every notice. Used by scripts/demo and, shipped beside mkupdate as try/player.exe (32-bit)
// and try/player64.exe, by `mkupdate try`.
//   demorun UPDATE.exe SCREENSHOT_FOLDER [--value HKLM|HKCU KEY NAME DATA]... [--report KEY NAME]
//   demorun --probe
// --value writes a string value before the update starts (an installed game's keys, in the
// registry view of this program's bitness, which is the updater's); --report prints a value of
// HKEY_CURRENT_USER after it ends. Lines on standard output start with "demorun: " and are
// code page 932 text. Exit status: 0 the update ran to its end dialog and ended with 0; 3 the
// updater stopped with a notice (no end dialog); 1 anything else went wrong; 2 wrong usage.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver.h"

namespace {

const int kRefused = 3;

// The window as it is on the screen, as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::string& path)
{
    // Only what lies on the screen: a window that is going, or one partly off the screen, must
    // not make the screen copy ask X for an empty picture.
    RECT rectangle = {0, 0, 0, 0};
    RECT screenArea = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (!IsWindow(window) || !IsWindowVisible(window) || !GetWindowRect(window, &rectangle) ||
        !IntersectRect(&rectangle, &rectangle, &screenArea)) {
        std::printf("demorun: no picture of a window that is gone (%s)\n", path.c_str());
        return false;
    }
    int width = rectangle.right - rectangle.left;
    int height = rectangle.bottom - rectangle.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = width > 0 && height > 0 ? CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (bitmap == nullptr || bits == nullptr) {
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        std::printf("demorun: no picture of a window that is gone (%s)\n", path.c_str());
        return false;
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rectangle.left, rectangle.top, SRCCOPY);
    GdiFlush();
    int stride = (width * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + (DWORD)(stride * height);
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        std::fwrite(bits, (size_t)stride * height, 1, out);
        std::fclose(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("demorun: saved %s\n", path.c_str());
    std::fflush(stdout);
    return true;
}

void Step(const std::string& text)
{
    std::printf("demorun: %s\n", text.c_str());
    std::fflush(stdout);
}

const char kEndCaption[] = "インストール終了";
const char kProgressCaption[] = "ファイルのコピー中...";

// A message box of the process (a dialog with the static 0xFFFF), or nullptr. The end dialog and
// the progress window have statics of that number too; they are no message boxes.
HWND FindMessageBox(DWORD processId)
{
    for (const driver::TopWindow& window : driver::VisibleWindows(processId))
        if (window.className == driver::kDialogClass && window.caption != kEndCaption &&
            window.caption != kProgressCaption && GetDlgItem(window.window, driver::kMessageBoxTextId) != nullptr)
            return window.window;
    return nullptr;
}

// One line of text: the box's line breaks become " / ".
std::string OneLine(std::string text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            continue;
        out += text[i] == '\n' ? std::string(" / ") : std::string(1, text[i]);
    }
    return out;
}

// Answers a message box as a player does: yes to the question before the update, no to the
// offer to pick the folder by hand (a test install is found by its keys, or not at all), OK
// to a notice. Each gets its picture.
class Answers {
public:
    explicit Answers(std::string shots) : shots_(std::move(shots)) {}

    // False when the box was the offer to pick the folder (the game was not found).
    bool Answer(HWND box)
    {
        Sleep(300);
        std::string text = driver::MessageBoxText(box);
        bool question = GetDlgItem(box, IDYES) != nullptr;
        bool found = true;
        if (question && text.find("手動で指定") != std::string::npos) {
            SaveWindowPicture(box, Picture("notice"));
            Step("asked: " + OneLine(text) + " -> no");
            driver::Press(box, IDNO);
            found = false;
        } else if (question) {
            SaveWindowPicture(box, shots_ + "\\confirm.bmp");
            Step("asked: " + OneLine(text) + " -> yes");
            driver::Press(box, IDYES);
        } else {
            SaveWindowPicture(box, Picture("notice"));
            Step("notice: " + OneLine(text));
            noticed_ = true;
            driver::Press(box, GetDlgItem(box, IDOK) != nullptr ? IDOK : IDCANCEL);
        }
        driver::WaitForWindowGone(box);
        return found;
    }

    bool Noticed() const { return noticed_; }

private:
    std::string Picture(const char* kind)
    {
        return shots_ + "\\" + kind + "-" + std::to_string(++count_) + ".bmp";
    }

    std::string shots_;
    int count_ = 0;
    bool noticed_ = false;
};

bool WriteValue(const std::string& root, const std::string& key, const std::string& name, const std::string& data)
{
    HKEY top = root == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY opened = nullptr;
    if (RegCreateKeyExA(top, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(opened, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 (DWORD)data.size() + 1);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

std::string ReadValue(const std::string& key, const std::string& name)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return "(no key)";
    char data[1024] = "";
    DWORD size = sizeof data - 1, type = 0;
    LONG result = RegQueryValueExA(opened, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS)
        return "(no value)";
    data[size < sizeof data ? size : sizeof data - 1] = '\0';
    return type == REG_SZ ? std::string(data) : std::string("(not a string)");
}

int Usage()
{
    std::fprintf(stderr, "usage: demorun UPDATE.exe SCREENSHOT_FOLDER [--value HKLM|HKCU KEY NAME DATA]... "
                         "[--report KEY NAME]\n       demorun --probe\n");
    return 2;
}

// The main window, once it is up; nullptr when the updater ended or showed a notice instead.
HWND WaitForMainWindow(const driver::Process& updater, Answers& answers)
{
    for (int attempt = 0; attempt < 3000; ++attempt) {
        for (const driver::TopWindow& window : driver::VisibleWindows(updater.Id()))
            if (window.className == driver::kDialogClass && GetDlgItem(window.window, 1000) != nullptr)
                return window.window;
        if (HWND box = FindMessageBox(updater.Id())) {
            answers.Answer(box);
            return nullptr;
        }
        if (!updater.Running())
            return nullptr;
        Sleep(20);
    }
    std::string seen;
    for (const driver::TopWindow& window : driver::VisibleWindows(updater.Id()))
        seen += " [" + window.className + " \"" + window.caption + "\"]";
    throw driver::DriverError("the main window did not appear; visible:" + seen);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--probe") {
        Step(std::string("ready (") + (sizeof(void*) == 8 ? "64" : "32") + "-bit)");
        return 0;
    }
    if (argc < 3)
        return Usage();
    std::string shots = argv[2];
    std::string reportKey, reportName;
    for (int i = 3; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--value" && i + 4 < argc) {
            if (!WriteValue(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4])) {
                std::fprintf(stderr, "demorun: cannot write %s\\%s %s\n", argv[i + 1], argv[i + 2], argv[i + 3]);
                return 1;
            }
            i += 4;
        } else if (option == "--report" && i + 2 < argc) {
            reportKey = argv[i + 1];
            reportName = argv[i + 2];
            i += 2;
        } else {
            return Usage();
        }
    }
    try {
        int status = 1;
        {
            driver::Process updater = driver::Start(driver::Quote(argv[1]));
            Step("started the update; waiting for its main window");
            Answers answers(shots);
            HWND main = WaitForMainWindow(updater, answers);
            if (main == nullptr) {
                DWORD code = updater.WaitForExit();
                Step("the updater ended with exit code " + std::to_string((int)code) + " before its main window");
                status = kRefused;
            } else {
                Sleep(700);
                SaveWindowPicture(main, shots + "\\main.bmp");

                // The update button is the top one of the column.
                int updateButton = 1000;
                for (int id = 1000; id <= 1008; ++id)
                    if (GetDlgItem(main, id) != nullptr && driver::ControlText(main, id) == "アップデート") {
                        updateButton = id;
                        break;
                    }
                driver::Press(main, updateButton);
                Step("pressed the update button");

                bool progressSeen = false, closing = false;
                int idle = 0;
                HWND end = nullptr;
                // Up to an hour: a large update copies for a long time, and the loop ends as soon
                // as the updater does.
                for (long attempt = 0; attempt < 720000 && end == nullptr; ++attempt) {
                    if (!progressSeen) {
                        // Taken once the clip and the bars have moved a little; the copy may be quick.
                        if (HWND progress =
                                driver::FindWindowOf(updater.Id(), driver::kDialogClass, kProgressCaption)) {
                            Sleep(60);
                            progressSeen = SaveWindowPicture(progress, shots + "\\progress.bmp");
                        }
                    }
                    end = driver::FindWindowOf(updater.Id(), driver::kDialogClass, kEndCaption);
                    if (end != nullptr)
                        break;
                    if (HWND box = FindMessageBox(updater.Id())) {
                        answers.Answer(box);
                        idle = 0;
                        continue;
                    }
                    if (!updater.Running())
                        break;
                    // Refused with a notice, the updater is back at its main window: a player
                    // closes it.
                    if (answers.Noticed() && !closing && !progressSeen && IsWindowVisible(main) &&
                        IsWindowEnabled(main) && ++idle > 200) {
                        Step("the updater is back at its main window; closing it");
                        int exitButton = 0;
                        for (int id = 1000; id <= 1008; ++id)
                            if (GetDlgItem(main, id) != nullptr && driver::ControlText(main, id) == "終了")
                                exitButton = id;
                        if (exitButton != 0)
                            driver::Press(main, exitButton);
                        else
                            driver::Close(main);
                        closing = true;
                    }
                    Sleep(5);
                }
                if (end != nullptr) {
                    Sleep(500);
                    SaveWindowPicture(end, shots + "\\end.bmp");
                    driver::Press(end, IDOK);
                    Step("closed the end dialog");
                    DWORD code = updater.WaitForExit();
                    Step("the updater ended with exit code " + std::to_string((int)code));
                    status = code == 0 ? 0 : 1;
                } else if (!updater.Running()) {
                    DWORD code = updater.WaitForExit();
                    Step("the updater ended with exit code " + std::to_string((int)code) + " without its end dialog");
                    status = answers.Noticed() ? kRefused : 1;
                } else {
                    throw driver::DriverError("the end dialog did not appear");
                }
            }
        }
        if (!reportKey.empty())
            Step("value " + reportName + "=" + ReadValue(reportKey, reportName));
        return status;
    } catch (const driver::DriverError& error) {
        std::fprintf(stderr, "demorun: %s\n", error.what());
        return 1;
    }
}
