#include "ui/UpdaterDialogTemplate.h"

#include "common/Resource.h"

namespace qam::ui {

namespace {

constexpr DWORD PUSH_BUTTON = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD DEFAULT_BUTTON = WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;

// Template order is the tab order.
constexpr fw::DialogItem ITEMS[] = {
    {IDC_UPDATE, "Button", "&Update", 167, 49, 55, 14, PUSH_BUTTON | WS_DISABLED, 0},
    {IDCANCEL, "Button", "&Close", 248, 49, 55, 14, PUSH_BUTTON, 0},
    {IDC_STATUS_UPPER, "Static", "1\n2", 5, 7, 298, 17, WS_VISIBLE | WS_GROUP | SS_CENTER | SS_SUNKEN, 0},
    {IDC_SELECT_FILE, "Button", "&Select File ...", 86, 49, 55, 14, DEFAULT_BUTTON | WS_DISABLED, 0},
    {IDC_STATUS_LOWER, "Static", "", 5, 83, 298, 10,
     WS_VISIBLE | WS_GROUP | SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN, 0},
    {IDC_PROGRESS, "msctls_progress32", "Progress1", 5, 32, 298, 10, WS_VISIBLE | WS_BORDER | PBS_SMOOTH, 0},
    // Created hidden; no part of the tool shows them.
    {IDC_DEFAULT_SETTINGS, "Button", "&default Settings", 85, 66, 55, 14,
     WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 0},
    {IDC_SEARCH_MODULE, "Button", "Search &Module", 5, 49, 55, 14, DEFAULT_BUTTON, 0},
    {IDC_KEEP_SETTINGS, "Button", "&keep current Settings", 167, 68, 83, 10, WS_TABSTOP | BS_AUTOCHECKBOX, 0},
};

// At (0, 0) so that the framework centres it when it opens.
constexpr fw::DialogTemplate UPDATER_DIALOG{
    IDD_UPDATER_DIALOG,
    "Firmware Update Tool 8PSK-QAM-Modul",
    0,
    0,
    308,
    95,
    DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
    WS_EX_APPWINDOW,
    "MS Sans Serif",
    8,
    ITEMS,
};

} // namespace

const fw::DialogTemplate& UpdaterDialogTemplate() {
    return UPDATER_DIALOG;
}

} // namespace qam::ui
