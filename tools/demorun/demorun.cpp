// Runs an update executable headless the way a player would, and saves a picture of each
// window on the way: main window, progress window, end dialog. Used by scripts/demo.
//   demorun UPDATE.exe SCREENSHOT_FOLDER
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver.h"

namespace {

// The window as it is on the screen, as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::string& path)
{
    RECT rectangle;
    GetWindowRect(window, &rectangle);
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
    return true;
}

void Step(const char* text)
{
    std::printf("demorun: %s\n", text);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: demorun UPDATE.exe SCREENSHOT_FOLDER\n");
        return 2;
    }
    std::string shots = argv[2];
    try {
        driver::Process updater = driver::Start(driver::Quote(argv[1]));
        Step("started the update; waiting for its main window");
        HWND main = nullptr;
        for (int attempt = 0; attempt < 3000 && main == nullptr; ++attempt) {
            for (const driver::TopWindow& window : driver::VisibleWindows(updater.Id()))
                if (window.className == driver::kDialogClass && GetDlgItem(window.window, 1000) != nullptr)
                    main = window.window;
            Sleep(20);
        }
        if (main == nullptr) {
            std::string seen;
            for (const driver::TopWindow& window : driver::VisibleWindows(updater.Id()))
                seen += " [" + window.className + " \"" + window.caption + "\"]";
            if (HWND box = driver::FindWindowOf(updater.Id(), driver::kDialogClass, nullptr))
                if (GetDlgItem(box, driver::kMessageBoxTextId) != nullptr)
                    seen += " message: " + driver::MessageBoxText(box);
            throw driver::DriverError("the main window did not appear; visible:" + seen);
        }
        Sleep(700);
        SaveWindowPicture(main, shots + "\\main.bmp");

        // The update button is the top one of the column.
        int updateButton = 1000;
        for (int id = 1000; id <= 1008; ++id)
            if (driver::ControlText(main, id) == "アップデート") {
                updateButton = id;
                break;
            }
        driver::Press(main, updateButton);
        Step("pressed the update button");
        HWND question = driver::WaitForMessageBox(updater.Id());
        Sleep(300);
        SaveWindowPicture(question, shots + "\\confirm.bmp");
        std::printf("demorun: asked: %s\n", driver::MessageBoxText(question).c_str());
        driver::Press(question, IDYES);

        bool progressSeen = false;
        HWND end = nullptr;
        for (int attempt = 0; attempt < 6000 && end == nullptr; ++attempt) {
            if (!progressSeen) {
                // Taken once the clip and the bars have moved a little; the copy may be quick.
                if (HWND progress = driver::FindWindowOf(updater.Id(), driver::kDialogClass, "ファイルのコピー中...")) {
                    Sleep(60);
                    progressSeen = SaveWindowPicture(progress, shots + "\\progress.bmp");
                }
            }
            end = driver::FindWindowOf(updater.Id(), driver::kDialogClass, "インストール終了");
            if (!updater.Running())
                throw driver::DriverError("the updater ended before its end dialog");
            Sleep(5);
        }
        if (end == nullptr)
            throw driver::DriverError("the end dialog did not appear");
        Sleep(500);
        SaveWindowPicture(end, shots + "\\end.bmp");
        driver::Press(end, IDOK);
        Step("closed the end dialog");
        DWORD code = updater.WaitForExit();
        std::printf("demorun: the updater ended with exit code %d\n", (int)code);
        return code == 0 ? 0 : 1;
    } catch (const driver::DriverError& error) {
        std::fprintf(stderr, "demorun: %s\n", error.what());
        return 1;
    }
}
