#pragma once

#include "cli/EventView.h"
#include "framework/Wnd.h"
#include "framework/headless/Desktop.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qam::cli {

// The windowless side of the window's operations: the main window and its controls in memory,
// and everything they show turned into events. Status texts and the progress bar become status
// and progress events; a message box becomes a box event and is answered as the command's flags
// say, the safe answer by default. One per process; it installs itself as the desktop's host.
class CConsoleHost final : public headless::Host {
public:
    explicit CConsoleHost(CEventSink& sink);
    ~CConsoleHost() override;
    CConsoleHost(const CConsoleHost&) = delete;
    CConsoleHost& operator=(const CConsoleHost&) = delete;

    const CWnd& Dialog() const { return m_dialog; }
    CWnd& ProgressBar() { return m_progressBar; }
    CWnd& StatusLine() { return m_statusLine; }

    // While quiet, status texts are kept but not told (the searches of a port that waits for a module).
    void SetQuiet(bool quiet) { m_quiet = quiet; }
    // The port the events name.
    void SetPort(std::string port) { m_port = std::move(port); }
    const std::string& Port() const { return m_port; }
    // Status texts that name the port `com` ("COM 1", a private link) name it `shownAs` instead.
    void ShowComAs(std::string com, std::string shownAs) {
        m_privateCom = std::move(com);
        m_shownAs = std::move(shownAs);
    }
    // The answer to the command's one question (the update's "continue without a backup?", the
    // factory defaults' "reset the module?"): No unless the command's flag says Yes.
    void SetYesAnswer(bool yes) { m_yes = yes; }
    // The update's "Saved Settings" question: No unless --use-saved-settings says Yes.
    void SetSavedSettingsAnswer(bool yes) { m_useSaved = yes; }
    // The number of bytes each section's block send carries, in the file's order.
    void SetSectionLengths(std::vector<std::int64_t> lengths) { m_sectionLengths = std::move(lengths); }

    // Forgets what an earlier run showed.
    void BeginRun();
    // How far the run came: the first step that changes the module, the reset, the restore.
    bool ReachedClear() const { return m_reachedClear; }
    bool ReachedReset() const { return m_reachedReset; }
    bool ReachedRestore() const { return m_reachedRestore; }
    // The text of the last box (a command's report is its last box) and the last status texts.
    const std::string& LastBoxText() const { return m_lastBox; }
    const std::string& LastUpperText() const { return m_lastUpper; }
    const std::string& LastLowerText() const { return m_lastLower; }

    void Emit(Event event);

    int ShowBox(HWND owner, const char* text, const char* caption, UINT type) override;
    void TextSet(HWND window, const std::string& text) override;
    std::optional<LRESULT> Sent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void KeepAwake(bool awake) override;

private:
    CEventSink& m_sink;
    CWnd m_dialog;
    CWnd m_progressBar;
    CWnd m_statusLine;
    std::string m_port;
    std::string m_privateCom;
    std::string m_shownAs;
    bool m_yes = false;
    bool m_useSaved = false;
    bool m_quiet = false;
    std::vector<std::int64_t> m_sectionLengths;
    int m_section = -1;
    bool m_transfer = false;
    int m_percent = -1;
    bool m_reachedClear = false;
    bool m_reachedReset = false;
    bool m_reachedRestore = false;
    std::string m_lastBox;
    std::string m_lastUpper;
    std::string m_lastLower;
};

} // namespace qam::cli
