#pragma once

// Ids of the main window's dialog template, its controls and resources.
#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_UPDATE 1000
#define IDC_DEFAULT_SETTINGS 1001
#define IDC_STATUS_UPPER 1002
#define IDC_SELECT_FILE 1003
#define IDC_PROGRESS 1004
#define IDC_STATUS_LOWER 1005
#define IDC_SEARCH_MODULE 1006
#define IDC_KEEP_SETTINGS 1072
