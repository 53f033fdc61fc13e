#include "update/FactoryDefaults.h"

#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"
#include "link/ComDevice.h"
#include "update/ErrorReport.h"

#include <cstring>

namespace qam::update {

namespace {

constexpr const char* TEXT_CLEARING = "Clearing FLASH Area...";
constexpr const char* TEXT_RESETTING = "Reseting Module ...";
constexpr const char* TEXT_DEFAULTS_SET = "All Settings Set To Default!";
constexpr const char* TEXT_SETTINGS_UNKNOWN = "Error: Settings Unknown";
constexpr const char* RESET_QUESTION = "Do You Want To Reset The Modul ?";
constexpr const char* RESET_CAPTION = "Start New Firmware";

constexpr char CPRM[] = "CPRM";
constexpr char RST0[] = "RST0";
constexpr int COMMAND_LENGTH = 4;
constexpr int REPLY_LENGTH = 4;
// The module may answer the reset with "NUVs" as well as with "OK\r\n".
constexpr char RESET_ANSWER[] = "NUVs";

constexpr int CLEAR_READ_CONSTANT = 10000;

ResultCode ClearAndReset(CComDevice& link, const CWnd& dialog, ResetReply& reply,
                         ResetReply& lastResetReply) {
    SetCommandTimeouts(link, CLEAR_READ_CONSTANT);
    const ResultCode cleared = link.ExecuteCommand(CPRM, COMMAND_LENGTH, reply.data(), REPLY_LENGTH, true);
    if (cleared != RESULT_OK) {
        return cleared;
    }
    dialog.SetDlgItemText(IDC_STATUS_LOWER, "");
    if (dialog.MessageBox(RESET_QUESTION, RESET_CAPTION, MB_YESNO) != IDYES) {
        return RESULT_OK; // the settings are erased; the module is not reset
    }
    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_RESETTING);
    // A short reply must not show the "OK\r\n" of "CPRM" behind it.
    reply.fill('\0');
    ResultCode reset = link.ExecuteCommand(RST0, COMMAND_LENGTH, reply.data(), REPLY_LENGTH, false);
    if (reset == ERR_BAD_RESPONSE && std::memcmp(reply.data(), RESET_ANSWER, REPLY_LENGTH) == 0) {
        reset = RESULT_OK;
    }
    lastResetReply = reply;
    return reset;
}

} // namespace

ResultCode ResetToDefaults(CComDevice& link, const CWnd& dialog, ResetReply& lastResetReply) {
    CWaitCursor waitCursor;
    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_CLEARING);
    // On the screen before the port is used: the exchanges do not serve the window.
    dialog.RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW);
    dialog.EnableWindow(FALSE);

    ResetReply reply{};
    const ResultCode code = GuardedResult([&] { return ClearAndReset(link, dialog, reply, lastResetReply); });

    dialog.EnableWindow(TRUE);
    ReportError(dialog, code, reply);
    dialog.SetDlgItemText(IDC_STATUS_LOWER, code == RESULT_OK ? TEXT_DEFAULTS_SET : TEXT_SETTINGS_UNKNOWN);
    return code;
}

} // namespace qam::update
