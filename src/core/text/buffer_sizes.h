// The updater's fixed buffer sizes, each under one name. Every limit the player can meet
// (a path longer than 259 bytes, a settings line longer than 511) follows from these, so they
// change here or nowhere.
#ifndef UPDATER_TEXT_BUFFER_SIZES_H
#define UPDATER_TEXT_BUFFER_SIZES_H

// A path or a name: 259 bytes and the terminator (Windows' MAX_PATH). Entry names in the package,
// the game folder, destination paths and the owner window's caption all fit it.
#define PATH_BUFFER_SIZE 260

// The current folder remembered while another is entered for a moment: room for a path twice
// over, so an unusually long current folder is still restored whole.
#define CURRENT_FOLDER_SIZE (PATH_BUFFER_SIZE * 2)

// A line of text: a settings line, an action list entry, a registry key path or value, a message.
#define TEXT_BUFFER_SIZE 512

// One extraction block and one progress unit: the stub inflates and writes this many bytes at a
// time, and the progress bar moves by one step per block.
#define BLOCK_SIZE 131072

#endif
