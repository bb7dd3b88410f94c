#include "e2e_fixture.h"

#include <algorithm>

#include "image/rct_decoder.h"
#include "image/rct_encoder.h"
#include "scratch.h"

#ifndef UPDATER_STUB
#define UPDATER_STUB ""
#endif

std::string StubPath()
{
    return WinePath(UPDATER_STUB);
}

std::vector<unsigned char> PatternPixels(int width, int height)
{
    std::vector<unsigned char> pixels((size_t)width * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[((size_t)y * width + x) * 3];
            p[0] = (unsigned char)(x * 7 + y * 3);
            p[1] = (unsigned char)(x * 2 + y * 11 + 40);
            p[2] = (unsigned char)((x ^ y) * 5);
        }
    return pixels;
}

std::string MakeRctFile(int width, int height, const std::vector<unsigned char>& pixels)
{
    std::vector<unsigned char> payload = EncodeRctPayload(pixels.data(), (uint32_t)width, (uint32_t)height);
    std::vector<unsigned char> file;
    std::string error;
    if (!BuildRctFile(RCT_TC00, "", (uint32_t)width, (uint32_t)height, payload, file, error))
        throw driver::DriverError("cannot build an RCT file: " + error);
    return std::string(file.begin(), file.end());
}

void WriteUpdate(const std::string& path, const std::vector<PackageFileEntry>& entries)
{
    std::string stub = ReadFileBytes(StubPath());
    std::vector<unsigned char> image(stub.begin(), stub.end());
    std::vector<unsigned char> file = BuildPackageFile(image, entries);
    WriteFileBytes(path, std::string(file.begin(), file.end()));
}

namespace {

std::string Environment(const char* name)
{
    char value[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : "";
}

}  // namespace

PrivateTemp::PrivateTemp(const std::string& folder)
    : folder_(folder), oldTmp_(Environment("TMP")), oldTemp_(Environment("TEMP"))
{
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
}

PrivateTemp::~PrivateTemp()
{
    SetEnvironmentVariableA("TMP", oldTmp_.empty() ? nullptr : oldTmp_.c_str());
    SetEnvironmentVariableA("TEMP", oldTemp_.empty() ? nullptr : oldTemp_.c_str());
}

std::vector<std::string> PrivateTemp::WorkFolders() const
{
    std::vector<std::string> found;
    for (const std::string& name : FolderNames(folder_))
        if (name.rfind("VaruVIRazudarIdezor_", 0) == 0)
            found.push_back(folder_ + "\\" + name);
    return found;
}

HWND WaitForMainWindow(DWORD processId, const std::string& title)
{
    return driver::WaitForWindow(processId, driver::kDialogClass, title.c_str());
}

std::vector<driver::Control> VisibleButtons(HWND window)
{
    std::vector<driver::Control> buttons;
    for (const driver::Control& control : driver::ListControls(window))
        if (control.className == "Button" && control.visible)
            buttons.push_back(control);
    std::sort(buttons.begin(), buttons.end(), [](const driver::Control& a, const driver::Control& b) { return a.id < b.id; });
    return buttons;
}
