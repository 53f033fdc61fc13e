#include "ui/UpdaterDialog.h"

#include "common/Resource.h"
#include "framework/FileDialog.h"
#include "framework/Path.h"
#include "update/FactoryDefaults.h"
#include "update/UpdateSequence.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* TEXT_READY = "ready";

constexpr const char* FILE_DIALOG_TITLE = "Select File For Download ...";
constexpr const char* FILE_DIALOG_FILTER = "Update-Files (.qam)|*.qam||";
constexpr DWORD FILE_DIALOG_FLAGS = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
constexpr const char* FILE_TYPE = ".qam";
constexpr std::size_t FILE_TYPE_LENGTH = 4;

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
    qam::update::RunUpdate(
        qam::update::UpdateContext{m_link, m_proxy, m_search, *this, m_updateFilePath, m_keepSettings});
}

void CUpdaterDialog::ResetToDefaults() {
    CommandRun running(*this);
    qam::update::ResetToDefaults(m_link, *this, m_lastResetReply);
}

void CUpdaterDialog::SelectUpdateFile() {
    CFileDialog dialog(nullptr, nullptr, FILE_DIALOG_FLAGS, FILE_DIALOG_FILTER, this);
    dialog.m_ofn.title = FILE_DIALOG_TITLE;
    dialog.m_ofn.initialDir = m_lastDirectory.data();

    m_updateFilePath.clear();
    m_fileSelected = 0;

    if (dialog.DoModal() == IDOK) {
        const std::string path = dialog.GetPathName();
        // The directory is remembered for any chosen file, before its name is tested.
        m_lastDirectory.fill('\0');
        std::copy_n(path.begin(), std::min(path.size(), LAST_DIRECTORY_TEXT), m_lastDirectory.begin());
        if (char* separator = std::strrchr(m_lastDirectory.data(), fw::DIRECTORY_SEPARATOR);
            separator != nullptr) {
            *separator = '\0';
        }
        ResultCode code = ERR_FILE_TYPE;
        if (path.size() >= FILE_TYPE_LENGTH &&
            path.compare(path.size() - FILE_TYPE_LENGTH, FILE_TYPE_LENGTH, FILE_TYPE) == 0) {
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
