// The update run started by the main window's update button: locate the game, copy the
// package in, write the INI and registry values, remove the listed files, end dialog, readme.
#ifndef UPDATER_UPDATE_UPDATE_RUN_H
#define UPDATER_UPDATE_UPDATE_RUN_H

// 0: complete, the target folder is current. -1: abandoned after the abort notice.
int RunUpdate(void);

#endif
