#include "ui/UpdaterDialog.h"

#include "common/Resource.h"
#include "framework/FileDialog.h"
#include "framework/SleepGuard.h"
#include "framework/WaitCursor.h"
#include "update/UpdateSequence.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* TEXT_READY = "ready";
constexpr const char* TEXT_UPDATE_SUCCESSFUL = "Update Successful";
constexpr const char* TEXT_UPDATE_FAILED = "Update Failed";

constexpr const char* FILE_DIALOG_TITLE = "Select File For Download ...";
constexpr const char* FILE_DIALOG_FILTER = "Update-Files (.qam)|*.qam||";
constexpr DWORD FILE_DIALOG_FLAGS = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
constexpr const char* FILE_TYPE = ".qam";
constexpr std::size_t FILE_TYPE_LENGTH = 4;
constexpr std::size_t LAST_DIRECTORY_TEXT = 260;

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
constexpr char RESET_ANSWER[] = "NUVs";

constexpr int RESET_READ_CONSTANT = 10000;

} // namespace

CUpdaterDialog::CommandRun::CommandRun(CUpdaterDialog& dialog) : m_dialog(dialog) {
    ++m_dialog.m_commandsRunning;
}

CUpdaterDialog::CommandRun::~CommandRun() {
    --m_dialog.m_commandsRunning;
}

void CUpdaterDialog::RunUpdate() {
    // The window serves messages inside the transfers and the reset wait; a close request met
    // there must not close the port under a flash write.
    CommandRun running(*this);
    CSleepGuard awake;
    const qam::update::UpdateOutcome outcome = qam::update::RunUpdateSequence(
        qam::update::UpdateContext{m_link, m_proxy, m_search, *this, m_updateFilePath, m_keepSettings});

    EnableWindow(TRUE);
    ReportError(outcome.result, outcome.reply);
    SetDlgItemText(IDC_STATUS_LOWER, outcome.result == RESULT_OK ? TEXT_UPDATE_SUCCESSFUL : TEXT_UPDATE_FAILED);
    m_link.Close();
    fw::EndWaitCursor();
}

void CUpdaterDialog::ResetToDefaults() {
    CommandRun running(*this);
    CWaitCursor waitCursor;
    SetDlgItemText(IDC_STATUS_LOWER, TEXT_CLEARING);
    RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW);
    EnableWindow(FALSE);
    SetCommandTimeouts(m_link, RESET_READ_CONSTANT);

    std::array<char, 16> reply{};
    ResultCode code = m_link.ExecuteCommand(CPRM, COMMAND_LENGTH, reply.data(), REPLY_LENGTH, true);
    if (code == RESULT_OK) {
        SetDlgItemText(IDC_STATUS_LOWER, "");
        if (MessageBox(RESET_QUESTION, RESET_CAPTION, MB_YESNO) == IDYES) {
            SetDlgItemText(IDC_STATUS_LOWER, TEXT_RESETTING);
            code = m_link.ExecuteCommand(RST0, COMMAND_LENGTH, reply.data(), REPLY_LENGTH, false);
            // The module may answer the reset with "NUVs" as well as with "OK\r\n".
            if (code == ERR_BAD_RESPONSE && std::memcmp(reply.data(), RESET_ANSWER, REPLY_LENGTH) == 0) {
                code = RESULT_OK;
            }
            m_lastResetReply = reply;
        }
    }

    EnableWindow(TRUE);
    ReportError(code, reply);
    SetDlgItemText(IDC_STATUS_LOWER, code == RESULT_OK ? TEXT_DEFAULTS_SET : TEXT_SETTINGS_UNKNOWN);
}

void CUpdaterDialog::SelectUpdateFile() {
    CFileDialog dialog(TRUE, nullptr, nullptr, FILE_DIALOG_FLAGS, FILE_DIALOG_FILTER, this);
    dialog.m_ofn.title = FILE_DIALOG_TITLE;
    dialog.m_ofn.initialDir = m_lastDirectory.data();

    m_updateFilePath.clear();
    m_fileSelected = 0;

    if (dialog.DoModal() == IDOK) {
        const std::string path = dialog.GetPathName();
        // The directory is remembered for any chosen file, before its name is tested.
        m_lastDirectory.fill('\0');
        std::copy_n(path.begin(), std::min(path.size(), LAST_DIRECTORY_TEXT), m_lastDirectory.begin());
        if (char* separator = std::strrchr(m_lastDirectory.data(), '\\'); separator != nullptr) {
            *separator = '\0';
        }
        ResultCode code = ERR_FILE_TYPE;
        if (path.size() >= FILE_TYPE_LENGTH && path.compare(path.size() - FILE_TYPE_LENGTH, FILE_TYPE_LENGTH, FILE_TYPE) == 0) {
            m_updateFilePath = path;
            m_fileSelected = 1;
            code = RESULT_OK;
        }
        ReportError(code);
    }

    GetDlgItem(IDC_UPDATE).EnableWindow(m_fileSelected != 0 && m_search.moduleFound != 0 ? TRUE : FALSE);
    SetDlgItemText(IDC_STATUS_LOWER, TEXT_READY);
}

BOOL CUpdaterDialog::CloseRefused() const {
    return m_commandsRunning > 0 ? TRUE : FALSE;
}

LRESULT CUpdaterDialog::OnQueryEndSession(WPARAM, LPARAM) {
    // Windows would end the program after a yes; while a command runs it must wait.
    return CloseRefused() ? FALSE : TRUE;
}
