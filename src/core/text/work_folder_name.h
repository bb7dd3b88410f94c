// The name of the private work folder, made from the millisecond tick count alone.
#ifndef UPDATER_TEXT_WORK_FOLDER_NAME_H
#define UPDATER_TEXT_WORK_FOLDER_NAME_H

#include <stdint.h>

#define WORK_FOLDER_PREFIX "VaruVIRazudarIdezor_"

// "VaruVIRazudarIdezor_" and at most 11 characters of number, with the terminator.
#define WORK_FOLDER_NAME_SIZE 32

// name = "VaruVIRazudarIdezor_%09d" of the tick taken as a signed 32-bit number, so a tick of
// 2^31 or more prints with its minus sign inside the nine places.
void FormatWorkFolderName(uint32_t tick, char* name);

#endif
