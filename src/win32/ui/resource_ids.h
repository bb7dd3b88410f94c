// Control identifiers of the dialog templates, shared by the resource script and the code.
#ifndef UPDATER_UI_RESOURCE_IDS_H
#define UPDATER_UI_RESOURCE_IDS_H

// MAINDIALOG: action slots 0-7 are the buttons 1000-1007 (bottom up), slot 8 is 1008.

// SETUP
#define IDC_FOLDER_EDIT 1000
#define IDC_BROWSE 1021

// COPYINGDELUX
#define IDC_FILE_BAR 1010
#define IDC_FILE_NAME 1012
#define IDC_OVERALL_BAR 1019
#define IDC_ANIMATION 1020

// ENDINSTALL
#define IDC_README_CHECK 1007

#define ICON_APPLICATION 104

#endif
