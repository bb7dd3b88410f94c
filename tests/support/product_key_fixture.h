// A product key of a test's own under both registry roots, prepared value by value and removed
// with everything in it when the test ends, so tests running side by side never meet.
#ifndef UPDATER_TESTS_SUPPORT_PRODUCT_KEY_FIXTURE_H
#define UPDATER_TESTS_SUPPORT_PRODUCT_KEY_FIXTURE_H

#include <windows.h>

#include <string>

struct RegistryValue {
    bool present = false;
    DWORD type = 0;
    std::string data;  // raw bytes, terminator included for REG_SZ
};

class TestProductKey {
public:
    // "Software\<global>\<local>"; leftovers of an earlier run are removed first.
    TestProductKey(std::string global, std::string local);
    ~TestProductKey();
    TestProductKey(const TestProductKey&) = delete;
    TestProductKey& operator=(const TestProductKey&) = delete;

    const std::string& Global() const { return global_; }
    const std::string& Local() const { return local_; }
    std::string Path() const { return "Software\\" + global_ + "\\" + local_; }

    // HKEY_LOCAL_MACHINE: what an installed product registers.
    void SetMachineText(const std::string& name, const std::string& text);
    // "IsInst" "1", and "InstTo" unless instTo is null.
    void SetInstalled(const char* instTo);
    void SetMachineRaw(const std::string& name, DWORD type, const std::string& bytes);
    // HKEY_CURRENT_USER: the installed version and the [reg] values.
    void SetUserText(const std::string& name, const std::string& text);
    void SetUserRaw(const std::string& name, DWORD type, const std::string& bytes);

    RegistryValue UserValue(const std::string& name) const;
    bool UserKeyExists() const;
    bool MachineKeyExists() const;
    void Remove();

private:
    std::string global_;
    std::string local_;
};

#endif
