#include "product_key_fixture.h"

#include "driver.h"

namespace {

void SetRaw(HKEY root, const std::string& path, const std::string& name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw driver::DriverError("cannot create registry key " + path);
    LONG result = RegSetValueExA(key, name.c_str(), 0, type, (const BYTE*)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        throw driver::DriverError("cannot set registry value " + path + "\\" + name);
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The parent goes too when no other test still uses it.
void RemoveUnder(HKEY root, const std::string& global, const std::string& local)
{
    RegDeleteKeyA(root, ("Software\\" + global + "\\" + local).c_str());
    RegDeleteKeyA(root, ("Software\\" + global).c_str());
}

}  // namespace

TestProductKey::TestProductKey(std::string global, std::string local) : global_(std::move(global)), local_(std::move(local))
{
    Remove();
}

TestProductKey::~TestProductKey()
{
    Remove();
}

void TestProductKey::Remove()
{
    RemoveUnder(HKEY_LOCAL_MACHINE, global_, local_);
    RemoveUnder(HKEY_CURRENT_USER, global_, local_);
}

void TestProductKey::SetMachineText(const std::string& name, const std::string& text)
{
    SetRaw(HKEY_LOCAL_MACHINE, Path(), name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void TestProductKey::SetInstalled(const char* instTo)
{
    SetMachineText("IsInst", "1");
    if (instTo != nullptr)
        SetMachineText("InstTo", instTo);
}

void TestProductKey::SetMachineRaw(const std::string& name, DWORD type, const std::string& bytes)
{
    SetRaw(HKEY_LOCAL_MACHINE, Path(), name, type, bytes);
}

void TestProductKey::SetUserText(const std::string& name, const std::string& text)
{
    SetRaw(HKEY_CURRENT_USER, Path(), name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void TestProductKey::SetUserRaw(const std::string& name, DWORD type, const std::string& bytes)
{
    SetRaw(HKEY_CURRENT_USER, Path(), name, type, bytes);
}

RegistryValue TestProductKey::UserValue(const std::string& name) const
{
    RegistryValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, Path().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        if (RegQueryValueExA(key, name.c_str(), nullptr, &value.type, (BYTE*)value.data.data(), &size) == ERROR_SUCCESS) {
            value.data.resize(size);
            value.present = true;
        }
    }
    RegCloseKey(key);
    return value;
}

bool TestProductKey::UserKeyExists() const
{
    return KeyExists(HKEY_CURRENT_USER, Path());
}

bool TestProductKey::MachineKeyExists() const
{
    return KeyExists(HKEY_LOCAL_MACHINE, Path());
}
