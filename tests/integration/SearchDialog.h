#pragma once

#include "common/Resource.h"
#include "framework/Wnd.h"
#include "framework/headless/Desktop.h"

#include <array>
#include <string>
#include <vector>

// The main window as the module search sees it, on the headless desktop: the dialog and the
// controls the search writes to. The real dialog comes from ui/; the search needs only a CWnd
// with these children.
namespace qam::test {

class SearchDialog {
public:
    static constexpr std::array<int, 8> CONTROLS{IDC_UPDATE,      IDC_DEFAULT_SETTINGS, IDC_STATUS_UPPER,
                                                 IDC_SELECT_FILE, IDC_PROGRESS,         IDC_STATUS_LOWER,
                                                 IDC_SEARCH_MODULE, IDC_KEEP_SETTINGS};

    SearchDialog() {
        headless::Desktop& desktop = headless::Desktop::Instance();
        desktop.Reset();
        m_dialog = desktop.AddWindow(IDD_UPDATER_DIALOG, "#32770");
        for (int id : CONTROLS) {
            desktop.AddWindow(id, ClassOf(id), m_dialog);
        }
    }
    ~SearchDialog() { headless::Desktop::Instance().Reset(); }
    SearchDialog(const SearchDialog&) = delete;
    SearchDialog& operator=(const SearchDialog&) = delete;

    CWnd Wnd() const { return CWnd(m_dialog); }

    headless::Window& Control(int id) const {
        return headless::Desktop::Instance().WindowOf(headless::Desktop::Instance().FindChild(m_dialog, id));
    }
    const std::vector<std::string>& Texts(int id) const { return Control(id).texts; }
    bool Enabled(int id) const { return Control(id).enabled; }

    // The buttons the search enables, all set one way so that a scan must change them.
    void SetButtons(bool enabled) const {
        for (int id : {IDC_SELECT_FILE, IDC_DEFAULT_SETTINGS, IDC_KEEP_SETTINGS}) {
            Control(id).enabled = enabled;
        }
    }
    void ClearTexts() const {
        for (int id : CONTROLS) {
            Control(id).texts.clear();
        }
    }

private:
    static const char* ClassOf(int id) {
        switch (id) {
        case IDC_STATUS_UPPER:
        case IDC_STATUS_LOWER:
            return "Static";
        case IDC_PROGRESS:
            return "msctls_progress32";
        default:
            return "Button";
        }
    }

    HWND m_dialog = nullptr;
};

} // namespace qam::test
