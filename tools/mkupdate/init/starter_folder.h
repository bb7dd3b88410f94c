// What `mkupdate init` writes: a starter update folder whose settings file, title picture and
// readme pass lint as they are (lint only notes the placeholder picture and readme line the maker
// replaces), filled in from an installed game's folder where one is given.
#ifndef MKUPDATE_STARTER_FOLDER_H
#define MKUPDATE_STARTER_FOLDER_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/image_file.h"

// The title picture's side: the main window's client height on Windows with its Japanese dialog
// font, the largest picture the window shows whole (lint warns above it).
const uint32_t kStarterPictureSide = 268;

// What can be read from an installed game's folder. Values are UTF-8 and already written as
// settings values ("|" for a space); empty when nothing sound was found.
struct GameFacts {
    std::string title;                  // TITLEBAR: the folder's name
    std::string productFolder;          // INSTTO: the folder's name
    std::string makerFolder;            // INSTFOL: the folder between Program Files and the game's
    std::vector<std::string> keyFiles;  // KEYFILE candidates, the likeliest first
    std::vector<std::string> notes;     // what was passed over, and why (UTF-8, for the user)
    std::string readmeFile;             // INSTREADMEFL; empty: readme.txt
};

// The update's readme when the folder holds the game's own readme.txt already.
extern const char kUpdateReadmeName[];

// Reads the top level of an installed game's folder. False, with the reason, when it is no folder.
bool ReadGameFolder(const std::filesystem::path& game, GameFacts& facts, std::string& error);

// A UTF-8 text as a settings value: spaces become "|". False when the updater could not read it
// back as written: empty, starting with "-" (the mark of an unused setting), holding a control
// character or "|", longer than the 127 bytes a setting keeps, or without a code page 932 form.
bool ToSettingsValue(const std::string& utf8, std::string& value);

// The line of the starter readme that the maker replaces with what the update changes (UTF-8).
extern const char kStarterReadmePlaceholder[];

// The three files, as the updater reads them: code page 932 text with CR LF line ends.
std::string StarterSettingsFile(const GameFacts& facts);
std::string StarterReadme(const GameFacts& facts);
// The title picture's pixels and the picture as an RCT file (TC00).
RgbImage StarterPicture();
bool StarterPictureFile(std::string& rct, std::string& error);

// UTF-8 lines (LF) as code page 932 with CR LF. Every text given is the tool's own or checked by
// ToSettingsValue, so it always has a code page 932 form.
std::string ToCp932Lines(const std::string& utf8);

#endif
