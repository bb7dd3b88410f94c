// The rules one package entry's name must keep to be written safely on Windows: code page 932,
// no control or forbidden characters, inside the destination folder, no device names.
#ifndef UPDATER_TEXT_ENTRY_NAME_RULES_H
#define UPDATER_TEXT_ENTRY_NAME_RULES_H

#include <stddef.h>

// Why a name may not be carried by a package entry; ENTRY_NAME_OK when it may.
enum EntryNameFault {
    ENTRY_NAME_OK = 0,
    ENTRY_NAME_EMPTY,              // no name, or an empty component ("a\\\\b")
    ENTRY_NAME_NOT_CP932,          // see FindInvalidCp932
    ENTRY_NAME_CONTROL_BYTE,       // a byte below 0x20, or 0x7F
    ENTRY_NAME_FORBIDDEN,          // one of * ? < > | " /, which no Windows file name holds
    ENTRY_NAME_LEAVES_FOLDER,      // a drive, a colon, a leading backslash or a ".." component
    ENTRY_NAME_TRAILING_DOT,       // a component ending in a dot or a space: Windows drops them
    ENTRY_NAME_DEVICE,             // a component named like a device: CON, nul.txt, com1.dat
    ENTRY_NAME_FOLDER_FORM,        // a folder that does not end in a backslash, or a file that does
    ENTRY_NAME_UNASSIGNED,         // a double-byte character code page 932 does not assign
    ENTRY_NAME_RESERVED,           // a name the updater writes for itself: see UPDATE_JOURNAL_NAME
};

// The updater's own record of an update in progress, in the game folder, and the form of the
// working folders files wait in before they take their place ("~upd" four hexadecimal digits
// ".tmp"). A package may carry neither: the next run would take such a name for its own.
#define UPDATE_JOURNAL_NAME "~updater.journal"
#define UPDATE_TEMPORARY_PREFIX "~upd"
#define UPDATE_TEMPORARY_SUFFIX ".tmp"
#define UPDATE_TEMPORARY_NAME_LENGTH 12
// A file waits in a working folder of that form inside its own folder, under a name of at most
// eight hexadecimal digits: what the receiving folder's path must leave of the 259 bytes.
#define UPDATE_WAITING_NAME_DIGITS 8
#define UPDATE_RECEIVING_ROOM (1 + UPDATE_TEMPORARY_NAME_LENGTH + 1 + UPDATE_WAITING_NAME_DIGITS)
// The file that marks a working folder as the updater's own (a player may well name a folder of
// hers like one), within the room of a waiting name; and its whole contents.
#define UPDATE_MARK_NAME "~updmark"
#define UPDATE_MARK_TEXT "~updater working folder\r\n"
// Where a record that cannot be read is set aside, so that it never blocks an update; a number
// follows when that name is taken.
#define UPDATE_JOURNAL_ASIDE_NAME UPDATE_JOURNAL_NAME ".unread"

// True for a name of the form the updater gives its working folders (any case).
bool IsUpdateTemporaryName(const char* component, size_t length);

// Checks everything a single name can break; duplicates and a file named like a folder need the
// whole list of names, so the tools check those.
int CheckEntryName(const char* name, bool folder);

// The fault in a few English words, for the tools' messages.
const char* DescribeEntryNameFault(int fault);

#endif
