// What a Windows executable file says about itself, read from its bytes (portable: the native
// tests read the shipped 32-bit stub with it on machines that cannot start it).
#ifndef UPDATER_TESTS_KIT_PE_IMAGE_H
#define UPDATER_TESTS_KIT_PE_IMAGE_H

#include <cstdint>
#include <map>
#include <set>
#include <string>

struct PeImage {
    uint16_t machine = 0;    // 0x14C i386, 0x8664 x86-64
    uint16_t characteristics = 0;  // 0x20: large-address-aware
    bool pe32Plus = false;   // optional header magic 0x20B rather than 0x10B
    uint16_t subsystem = 0;  // 2 GUI, 3 console
    // Upper-case DLL name -> imported function names ("#N" for an import by ordinal).
    std::map<std::string, std::set<std::string>> imports;
    uint32_t delayImportSize = 0;  // size of the delay-load directory; 0 when there is none
    // Resource type -> resource name -> language id -> the resource's bytes. Numbered types and
    // names are written "#N" (RT_DIALOG is "#5"); named ones as their ASCII text ("MAINDIALOG").
    std::map<std::string, std::map<std::string, std::map<uint16_t, std::string>>> resources;
};

// Reads the headers, the import and delay-load directories and the resource directory.
// Throws std::runtime_error when the bytes are not a well-formed PE file.
PeImage ReadPeImage(const std::string& bytes);

#endif
