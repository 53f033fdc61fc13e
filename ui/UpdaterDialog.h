#pragma once

#include "common/ResultCode.h"
#include "common/TunerType.h"
#include "framework/Dialog.h"
#include "framework/ToolTipCtrl.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"
#include "module/ModuleSearch.h"
#include "update/FactoryDefaults.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

// The main window: owns the one serial link, the module proxy, the tooltips, the state of the
// last search and of the chosen update file, and the values kept in the registry between runs.
class CUpdaterDialog : public CDialog {
public:
    CUpdaterDialog();
    ~CUpdaterDialog() override;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCUpdaterDialog;

    const fw::MessageMap* GetMessageMap() const override;
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL PreTranslateMessage(MSG* message) override;
    BOOL OnInitDialog() override;
    // The close request: Close, the title bar's close box, Escape.
    void OnCancel() override;

    // The module search and its resynchronisation (module/ModuleSearch.h does the work).
    int SearchModule();
    int SyncModule();

    // One "ERROR" box for a non-zero code; reply: the buffer the failed command read into.
    void ReportError(ResultCode code, std::span<const char> reply = {}, const char* detail = nullptr);
    // Saves the directory and, after a successful search, the preferred port; closes the link
    // and ends the window.
    void ShutDown();

    // The commands of the buttons.
    void OnSearchModule();
    void RunUpdate();
    void ResetToDefaults();
    void SelectUpdateFile();
    void OnKeepSettings();
    void OnPaint();
    LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
    // The system's shutdown query: refused while the update or the factory defaults run.
    LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
    // TRUE while the update or the factory defaults run: a close request then changes nothing.
    BOOL CloseRefused() const;

    // The last directory as the registry keeps it, and the field that holds it with its terminator.
    static constexpr std::size_t LAST_DIRECTORY_TEXT = 260;
    static constexpr std::size_t TOOLTIP_SLOTS = 8;

    struct ToolTipEntry {
        std::uint32_t id = 0;
        std::string text;
    };

    std::string m_title;
    HICON m_icon = nullptr;
    CComDevice m_link;
    std::array<char, LAST_DIRECTORY_TEXT + 1> m_lastDirectory{};
    // Port count, preferred port, found port, module found, settings supported, tuner type.
    SearchState m_search;
    qam::update::ResetReply m_lastResetReply{};
    std::string m_updateFilePath;
    CModuleProxy m_proxy;
    int m_keepSettings = 1;
    int m_fileSelected = 0;
    CToolTipCtrl m_toolTip;
    std::array<ToolTipEntry, TOOLTIP_SLOTS> m_toolTips;

    // The controls handed to the proxy, which keeps pointers to them.
    CWnd m_progressBar;
    CWnd m_statusLine;

    static const fw::MessageMap messageMap;

private:
    // Marks the run of a command that a close request must not interrupt.
    class CommandRun {
    public:
        explicit CommandRun(CUpdaterDialog& dialog);
        ~CommandRun();
        CommandRun(const CommandRun&) = delete;
        CommandRun& operator=(const CommandRun&) = delete;

    private:
        CUpdaterDialog& m_dialog;
    };

    int m_commandsRunning = 0;
};
