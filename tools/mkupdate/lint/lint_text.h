// What lint's rules ask of a text: case, near-miss names, encodings, physical lines, patterns.
#ifndef MKUPDATE_LINT_TEXT_H
#define MKUPDATE_LINT_TEXT_H

#include <string>
#include <vector>

// Where lint takes the product to be installed, in the rules and in the explanation.
inline constexpr char kSampleInstallPath[] = "C:\\Program Files\\Game";

std::string Upper(std::string text);
// Code page 932 text lower-cased by whole characters (a second byte is never touched).
std::string Lower(std::string text);
// The closest of the candidates when it is close enough to be a slip of the keyboard, or one
// that the word is the start of; else empty.
std::string Suggest(const std::string& word, const std::vector<std::string>& candidates);
// An optional sign and at least one digit, nothing else.
bool IsWellFormedInteger(const std::string& value);
// Physical lines after text-mode translation (without the line feed), for length and encoding;
// *cutByCtrlZ tells whether a byte 0x1A hid more than line ends.
std::vector<std::string> PhysicalLines(const std::string& bytes, bool* cutByCtrlZ);
bool ContainsSeparator(const std::string& text);
// Code page 932 text in double quotes, as UTF-8 for the message.
std::string Quoted(const std::string& cp932);
// What is wrong with a text's encoding for the updater, or empty: a byte-order mark, UTF-8, or
// bytes that are not code page 932. `argument`: the file as the mkupdate convert command it
// suggests names it (with its folder); empty: the shown name.
std::string EncodingProblem(const std::string& bytes, const std::string& shownName, const std::string& argument = "");
// A removal line whose name part has no fixed character ("*", "*.*", "?*") at the top of the
// game's folder deletes every file there.
bool WipesGameFolder(const std::string& pattern);
// A folder part without a drive or a leading separator is taken from the current folder.
bool NamesRelativeFolder(const std::string& path);

#endif
