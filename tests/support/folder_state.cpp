#include "folder_state.h"

#include <cstdlib>
#include <vector>

#include "driver.h"
#include "files.h"

bool ItemState::operator==(const ItemState& other) const
{
    return folder == other.folder && link == other.link && bytes == other.bytes &&
           lastWriteTime == other.lastWriteTime && attributes == other.attributes;
}

void PrintTo(const ItemState& item, std::ostream* out)
{
    *out << (item.link ? "link" : item.folder ? "folder" : "file") << " attributes 0x" << std::hex << item.attributes
         << std::dec;
    if (!item.folder)
        *out << " time " << item.lastWriteTime << " " << item.bytes.size() << " bytes \""
             << item.bytes.substr(0, 40) << (item.bytes.size() > 40 ? "...\"" : "\"");
}

static void ReadInto(const std::string& folder, const std::string& prefix, FolderState& state)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        ItemState item;
        item.attributes = found.dwFileAttributes;
        item.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        std::string path = folder + "\\" + name;
        if (!item.folder) {
            item.bytes = kit::ReadFileBytes(path);
            item.lastWriteTime =
                (uint64_t)found.ftLastWriteTime.dwLowDateTime | ((uint64_t)found.ftLastWriteTime.dwHighDateTime << 32);
        }
        state[prefix + name] = item;
        if (item.folder && !item.link)
            ReadInto(path, prefix + name + "\\", state);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

FolderState ReadFolderState(const std::string& folder)
{
    FolderState state;
    ReadInto(folder, "", state);
    return state;
}

bool MakeFolderLink(const std::string& link, const std::string& target)
{
    using CreateLinkFunction = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    auto createLink = reinterpret_cast<CreateLinkFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    const DWORD kDirectory = 1, kUnprivileged = 2;
    auto isLink = [&] {
        DWORD attributes = GetFileAttributesA(link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    };
    if (createLink != nullptr && (createLink(link.c_str(), target.c_str(), kDirectory | kUnprivileged) ||
                                  createLink(link.c_str(), target.c_str(), kDirectory)) &&
        isLink())
        return true;
    // Under Wine a Windows program can start a Unix one.
    using UnixNameFunction = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr)
        return false;
    auto toUnix = [&](const std::string& path) {
        std::wstring wide(path.begin(), path.end());
        char* name = unixName(wide.c_str());
        std::string result = name != nullptr ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return result;
    };
    std::string linkFolder = link.substr(0, link.find_last_of('\\'));
    std::string unixTarget = toUnix(target);
    std::string unixLink = toUnix(linkFolder);
    if (unixTarget.empty() || unixLink.empty())
        return false;
    unixLink += "/" + link.substr(link.find_last_of('\\') + 1);
    std::string command = "/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, (DWORD)driver::Scaled(10000));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Wine may report the Unix program ended before it has done its work.
    try {
        driver::WaitUntil("the link " + link + " made by: " + command, isLink, 5000);
    } catch (const driver::DriverError&) {
        return false;
    }
    return true;
}
