#include "ui/UpdaterDialog.h"

#include "common/Resource.h"
#include "framework/Icon.h"
#include "framework/PaintDC.h"
#include "framework/RegKey.h"
#include "module/SearchSettings.h"
#include "ui/UpdaterDialogTemplate.h"
#include "update/ErrorReport.h"

#include <cstring>

namespace {

constexpr const char* LAST_DIRECTORY_VALUE = "LastNUVDir";

// What the scan uses when the key was just created or cannot be had.
constexpr int NEW_KEY_PORT_COUNT = 4;
constexpr int DEFAULT_PREFERRED_PORT = 1;

constexpr int NOT_SEARCHED_YET = -2;

struct ToolTip {
    std::uint32_t id;
    const char* text;
};

constexpr ToolTip TOOL_TIPS[] = {
    {IDC_SEARCH_MODULE, "search QAM-Module on COM-ports"},
    {IDC_DEFAULT_SETTINGS, "clear current settings, use factory defaults"},
    {IDCANCEL, "shut down communication, close application"},
    {IDC_SELECT_FILE, "select firmware file for update"},
    {IDC_UPDATE, "download selected firmware"},
    {IDC_KEEP_SETTINGS, "apply current settings to new firmware"},
};

} // namespace

const CRuntimeClass CUpdaterDialog::classCUpdaterDialog{"CUpdaterDialog", &CDialog::classCDialog};

namespace {
constexpr fw::MessageMapEntry UPDATER_ENTRIES[] = {
    fw::OnMessage<&CUpdaterDialog::OnPaint>(WM_PAINT),
    fw::OnMessage<&CUpdaterDialog::OnQueryDragIcon>(WM_QUERYDRAGICON),
    fw::OnCommand<&CUpdaterDialog::RunUpdate>(IDC_UPDATE),
    fw::OnCommand<&CUpdaterDialog::ResetToDefaults>(IDC_DEFAULT_SETTINGS),
    fw::OnCommand<&CUpdaterDialog::SelectUpdateFile>(IDC_SELECT_FILE),
    fw::OnCommand<&CUpdaterDialog::OnSearchModule>(IDC_SEARCH_MODULE),
    fw::OnCommand<&CUpdaterDialog::OnKeepSettings>(IDC_KEEP_SETTINGS),
    fw::OnMessage<&CUpdaterDialog::OnQueryEndSession>(WM_QUERYENDSESSION),
};
} // namespace

const fw::MessageMap CUpdaterDialog::messageMap{&CDialog::messageMap, UPDATER_ENTRIES};

CUpdaterDialog::CUpdaterDialog() : CDialog(qam::ui::UpdaterDialogTemplate()) {
    m_icon = fw::LoadAppIcon(IDR_MAINFRAME);
}

CUpdaterDialog::~CUpdaterDialog() = default;

const CRuntimeClass* CUpdaterDialog::GetRuntimeClass() const {
    return &classCUpdaterDialog;
}

const fw::MessageMap* CUpdaterDialog::GetMessageMap() const {
    return &messageMap;
}

void CUpdaterDialog::DoDataExchange(CDataExchange* exchange) {
    CDialog::DoDataExchange(exchange);
}

BOOL CUpdaterDialog::PreTranslateMessage(MSG* message) {
    m_toolTip.RelayEvent(message);
    return CDialog::PreTranslateMessage(message);
}

BOOL CUpdaterDialog::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_icon, FALSE);
    SetWindowText(m_title.c_str());

    std::size_t slot = 0;
    for (const ToolTip& tip : TOOL_TIPS) {
        m_toolTips[slot++] = ToolTipEntry{tip.id, tip.text};
    }
    m_toolTips[slot] = ToolTipEntry{0, {}};
    if (m_toolTip.GetSafeHwnd() == nullptr) {
        m_toolTip.Create(this);
    }
    for (const ToolTipEntry& entry : m_toolTips) {
        if (entry.id == 0) {
            break;
        }
        const CWnd control = GetDlgItem(static_cast<int>(entry.id));
        RECT rect{};
        control.GetClientRect(&rect);
        m_toolTip.AddTool(control, entry.text.c_str(), rect, entry.id);
    }
    m_toolTip.Activate(TRUE);

    m_progressBar = GetDlgItem(IDC_PROGRESS);
    m_statusLine = GetDlgItem(IDC_STATUS_LOWER);
    m_proxy.m_comDevice = &m_link;
    m_proxy.m_progressBar = &m_progressBar;
    m_proxy.m_statusLine = &m_statusLine;

    m_lastDirectory.fill('\0');
    m_search.portCount = NEW_KEY_PORT_COUNT;
    CRegKey key;
    DWORD disposition = 0;
    if (key.Create(HKEY_LOCAL_MACHINE, qam::module::SETTINGS_KEY, "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                   &disposition) == ERROR_SUCCESS) {
        if (disposition != REG_CREATED_NEW_KEY) {
            DWORD type = REG_NONE;
            DWORD size = LAST_DIRECTORY_TEXT;
            if (key.QueryValue(LAST_DIRECTORY_VALUE, &type, m_lastDirectory.data(), &size) == ERROR_SUCCESS) {
                // The text ends at the last byte returned; the field's extra byte keeps a full one
                // terminated.
                m_lastDirectory[size] = '\0';
            } else {
                m_lastDirectory.fill('\0');
            }
            qam::module::ReadSearchSettings(key, m_search);
        } else {
            m_search.preferredPort = DEFAULT_PREFERRED_PORT;
        }
        key.Close();
    } else {
        m_search.preferredPort = DEFAULT_PREFERRED_PORT;
    }

    m_search.settingsSupported = 0;
    m_search.moduleFound = 0;
    m_fileSelected = 0;
    m_keepSettings = 1;
    CheckDlgButton(IDC_KEEP_SETTINGS, BST_CHECKED);

    SetDlgItemText(IDC_STATUS_UPPER, "");
    SetDlgItemText(IDC_STATUS_LOWER, "");
    m_search.foundPort = NOT_SEARCHED_YET;

    UpdateWindow();
    // Posted, not called: the search runs once the window is on the screen.
    PostMessage(WM_COMMAND, MAKEWPARAM(IDC_SEARCH_MODULE, BN_CLICKED), 0);
    return TRUE;
}

void CUpdaterDialog::OnCancel() {
    // Met inside the update's transfers or reset wait, or the factory defaults' box: the window
    // stays and the command goes on.
    if (CloseRefused()) {
        return;
    }
    ShutDown();
}

int CUpdaterDialog::SearchModule() {
    return qam::module::SearchModule(m_link, m_proxy, m_search, *this);
}

int CUpdaterDialog::SyncModule() {
    return qam::module::SyncModule(m_link, *this);
}

void CUpdaterDialog::OnSearchModule() {
    SearchModule();
    GetDlgItem(IDC_UPDATE).EnableWindow(m_search.moduleFound != 0 && m_fileSelected != 0);
}

void CUpdaterDialog::OnKeepSettings() {
    m_keepSettings = IsDlgButtonChecked(IDC_KEEP_SETTINGS) == BST_CHECKED ? 1 : 0;
}

void CUpdaterDialog::ReportError(ResultCode code, std::span<const char> reply, const char* detail) {
    qam::update::ReportError(*this, code, reply, detail);
}

void CUpdaterDialog::ShutDown() {
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, qam::module::SETTINGS_KEY, KEY_WRITE) == ERROR_SUCCESS) {
        const auto length = static_cast<DWORD>(::strnlen(m_lastDirectory.data(), LAST_DIRECTORY_TEXT));
        key.SetValue(LAST_DIRECTORY_VALUE, REG_SZ, m_lastDirectory.data(), length);
        if (m_search.foundPort > 0) {
            const auto port = static_cast<std::uint32_t>(m_search.preferredPort);
            key.SetValue(qam::module::PREFERRED_PORT_VALUE, REG_DWORD, &port, sizeof port);
        }
        key.Close();
    }
    m_link.Close();
    EndDialog(IDCANCEL);
}

void CUpdaterDialog::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(*this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int iconWidth = fw::GetSystemMetrics(SM_CXICON);
    const int iconHeight = fw::GetSystemMetrics(SM_CYICON);
    RECT rect{};
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - iconWidth + 1) / 2;
    const int y = (rect.bottom - rect.top - iconHeight + 1) / 2;
    dc.DrawIcon(x, y, m_icon);
}

LRESULT CUpdaterDialog::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_icon);
}
