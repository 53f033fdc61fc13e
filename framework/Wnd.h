#pragma once

#include "framework/Object.h"
#include "framework/WinTypes.h"

#include <string>

// A non-owning wrapper of a window handle. A CWnd without a window (m_hWnd null) is valid:
// messages sent to it go nowhere and answer 0.
class CWnd : public CObject {
public:
    CWnd() = default;
    explicit CWnd(HWND window) : m_hWnd(window) {}
    ~CWnd() override = default;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCWnd;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Synchronous, as Win32's SendMessage.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // Replaces the window's whole text.
    void SetWindowText(const char* text) const;
    std::string GetWindowText() const;

    BOOL EnableWindow(BOOL enable = TRUE) const;
    BOOL IsWindowEnabled() const;

    // The child control with this id; a CWnd without a window when there is none.
    CWnd GetDlgItem(int id) const;
    void SetDlgItemText(int id, const char* text) const;

    HWND m_hWnd = nullptr;
};
