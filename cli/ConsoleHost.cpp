#include "cli/ConsoleHost.h"

#include "cli/Console.h"
#include "common/Resource.h"
#include "update/UpdateSequence.h"

namespace qam::cli {

namespace {

constexpr const char* DIALOG_CLASS = "#32770";
constexpr int CONTROLS[] = {IDC_UPDATE,   IDC_DEFAULT_SETTINGS, IDC_STATUS_UPPER,  IDC_SELECT_FILE,
                            IDC_PROGRESS, IDC_STATUS_LOWER,     IDC_SEARCH_MODULE, IDC_KEEP_SETTINGS};
constexpr UINT BUTTONS_MASK = 0x0F;
constexpr int FULL = 100;

} // namespace

CConsoleHost::CConsoleHost(CEventSink& sink) : m_sink(sink) {
    headless::Desktop& desktop = headless::Desktop::Instance();
    desktop.Reset();
    m_dialog = CWnd(desktop.AddWindow(0, DIALOG_CLASS));
    for (const int id : CONTROLS) {
        desktop.AddWindow(id, "", m_dialog.m_hWnd);
    }
    m_progressBar = m_dialog.GetDlgItem(IDC_PROGRESS);
    m_statusLine = m_dialog.GetDlgItem(IDC_STATUS_LOWER);
    desktop.SetHost(this);
}

CConsoleHost::~CConsoleHost() {
    headless::Desktop::Instance().SetHost(nullptr);
}

void CConsoleHost::BeginRun() {
    m_section = -1;
    m_transfer = false;
    m_reachedClear = m_reachedReset = m_reachedRestore = false;
    m_lastBox.clear();
}

void CConsoleHost::Emit(Event event) {
    m_sink.Emit(event);
}

int CConsoleHost::ShowBox(HWND, const char* text, const char* caption, UINT type) {
    const bool question = (type & BUTTONS_MASK) == MB_YESNO;
    const bool yes = std::string_view(caption) == update::SAVED_SETTINGS_CAPTION ? m_useSaved : m_yes;
    const int answer = question ? (yes ? IDYES : IDNO) : IDOK;
    Event event = MakeEvent(EVENT_BOX, m_port, text);
    event.caption = caption;
    event.answer = answer == IDYES ? "Yes" : answer == IDNO ? "No" : "OK";
    m_lastBox = text;
    m_sink.Emit(event);
    return answer;
}

void CConsoleHost::TextSet(HWND window, const std::string& shown) {
    const int id = headless::Desktop::Instance().WindowOf(window).controlId;
    if (id != IDC_STATUS_UPPER && id != IDC_STATUS_LOWER) {
        return;
    }
    std::string text = shown;
    if (const std::size_t at = m_privateCom.empty() ? std::string::npos : text.find(m_privateCom);
        at != std::string::npos) {
        text.replace(at, m_privateCom.size(), m_shownAs);
    }
    (id == IDC_STATUS_UPPER ? m_lastUpper : m_lastLower) = text;
    if (id == IDC_STATUS_LOWER) {
        m_reachedClear = m_reachedClear || text == update::TEXT_CLEAR_SETTINGS;
        m_reachedReset = m_reachedReset || text == update::TEXT_RESET;
        m_reachedRestore = m_reachedRestore || text == update::TEXT_RESTORE;
    }
    if (!text.empty() && !m_quiet) {
        m_sink.Emit(MakeEvent(EVENT_STATUS, m_port, text));
    }
}

std::optional<LRESULT> CConsoleHost::Sent(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (window != m_progressBar.m_hWnd) {
        return std::nullopt;
    }
    // Each block send starts the bar over (its range first); it is over when the bar is full, and
    // the download's last reset of the bar is no progress.
    if (message == PBM_SETRANGE) {
        ++m_section;
        m_transfer = true;
        m_percent = -1;
    } else if (message == PBM_SETPOS && m_transfer && static_cast<int>(wParam) != m_percent) {
        m_percent = static_cast<int>(wParam);
        const bool known = m_section >= 0 && static_cast<std::size_t>(m_section) < m_sectionLengths.size();
        Event event = MakeEvent(EVENT_PROGRESS, m_port);
        event.percent = m_percent;
        event.total = known ? m_sectionLengths[static_cast<std::size_t>(m_section)] : 0;
        event.done = event.total * m_percent / FULL;
        m_transfer = m_percent < FULL;
        m_sink.Emit(event);
    }
    return std::nullopt;
}

void CConsoleHost::KeepAwake(bool awake) {
    console::KeepAwake(awake);
}

} // namespace qam::cli
