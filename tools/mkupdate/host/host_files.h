// What the builder needs from the host system: file names and texts as code page 932 bytes and back,
// last-write times as FILETIME values, and the folder the mkupdate program lies in. Linux uses
// iconv and stat; Windows the wide file API and WideCharToMultiByte.
#ifndef MKUPDATE_HOST_FILES_H
#define MKUPDATE_HOST_FILES_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

// One name component in code page 932. False, with the reason in `error`, when the name has no
// exact code page 932 form or cannot be a Windows file name.
bool NameToCp932(const std::filesystem::path& component, std::string& cp932, std::string& error);

// Any UTF-8 text (the lines of a generated settings file or readme) in code page 932. False when
// a character has no exact code page 932 form.
bool TextToCp932(const std::string& utf8, std::string& cp932);

// A backslash-separated code page 932 relative path as a host path under `base`. False when the
// name breaks a rule of package names (it could then leave `base`) or a component has no host
// form.
bool Cp932ToHostPath(const std::filesystem::path& base, const std::string& cp932, std::filesystem::path& path);

// Creates a file that does not exist yet, for writing; none when anything (a file, a folder, a
// link) already has the name, so nothing is ever written through a planted link.
std::FILE* CreateNewFile(const std::filesystem::path& path);

// True when `path` itself is a link, not followed: a symbolic link, or on Windows a reparse point
// that leads somewhere else (a symbolic link, a junction, a mount point: IsLinkReparseTag). A
// file or folder kept as a reparse point in place (compressed by compact.exe, a OneDrive
// placeholder) is no link: a maker's game in a synced folder builds. std::filesystem cannot be
// asked: MinGW's reports no link at all, so a walk there would write through links and follow
// link loops.
bool IsLink(const std::filesystem::path& path);

// An anonymous temporary file for data too large to hold in memory, open for writing and reading
// back; the system deletes it when it is closed or the process ends, even by a kill. Null when
// none can be made.
std::FILE* CreateSpillFile();

// True for an existing file that may not be written (the updater stops at such a file).
bool IsReadOnlyFile(const std::filesystem::path& path);

// While set, an interrupt (Ctrl+C, SIGINT, SIGTERM, SIGHUP) deletes this file before the process
// ends; KeepOnInterrupt forgets it.
void RemoveOnInterrupt(const std::filesystem::path& path);
void KeepOnInterrupt();
// Deletes that file now (a command that cannot go on, out of memory) and forgets it.
void RemoveUnfinishedFile();

// Code page 932 bytes as UTF-8 for the terminal (undecodable bytes as \xNN).
std::string Cp932ToUtf8(const std::string& text);
// A name for a terminal: UTF-8, with control bytes (ESC, CR, ...) shown as \xHH, so a hostile
// name cannot move the cursor or rewrite what was printed before it.
std::string DisplayName(const std::string& cp932);

// Control bytes (ESC, CR, ...) as \xHH, so a hostile name cannot move the cursor or rewrite
// what a terminal showed before it.
std::string EscapeControls(const std::string& text);

// The host path for messages, as UTF-8, control bytes escaped.
std::string PathForDisplay(const std::filesystem::path& path);

// The path as one argument of a command the user can paste into a shell (cmd.exe on Windows, a
// POSIX shell elsewhere): as it is when it needs no quoting, else quoted; control bytes escaped.
std::string PathAsArgument(const std::filesystem::path& path);

// A host file's last-write time as 100 ns intervals since 1601 (FILETIME). False when it cannot
// be read.
bool ReadHostFileTime(const std::filesystem::path& path, uint64_t& fileTime);
bool WriteLastWriteTime(const std::filesystem::path& path, uint64_t fileTime);

// The folder holding the running mkupdate program (empty when unknown).
std::filesystem::path ProgramFolder();

// True when the stream is a terminal (progress lines are shown only there).
bool IsTerminal(std::FILE* stream);

#endif
