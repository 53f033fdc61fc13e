#include "framework/win32/Windows.h"

#include "framework/Wnd.h"

#include <string>

// Every CWnd member of the Win32 backend: one-line wrappers of the window functions.
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    // A CWnd without a window is valid and answers 0, as on the headless backend.
    if (m_hWnd == nullptr) {
        return 0;
    }
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const char* text) const {
    if (m_hWnd != nullptr) {
        ::SetWindowTextA(m_hWnd, text);
    }
}

std::string CWnd::GetWindowText() const {
    if (m_hWnd == nullptr) {
        return {};
    }
    const int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(m_hWnd, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

BOOL CWnd::EnableWindow(BOOL enable) const {
    return m_hWnd == nullptr ? FALSE : ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const {
    return m_hWnd == nullptr ? FALSE : ::IsWindowEnabled(m_hWnd);
}

CWnd CWnd::GetDlgItem(int id) const {
    return CWnd(m_hWnd == nullptr ? nullptr : ::GetDlgItem(m_hWnd, id));
}

BOOL CWnd::IsIconic() const {
    return m_hWnd == nullptr ? FALSE : ::IsIconic(m_hWnd);
}

void CWnd::UpdateWindow() const {
    if (m_hWnd != nullptr) {
        ::UpdateWindow(m_hWnd);
    }
}

BOOL CWnd::RedrawWindow(UINT flags) const {
    return m_hWnd == nullptr ? FALSE : ::RedrawWindow(m_hWnd, nullptr, nullptr, flags);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd == nullptr ? FALSE : ::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::GetClientRect(RECT* rect) const {
    if (m_hWnd == nullptr || !::GetClientRect(m_hWnd, rect)) {
        *rect = RECT{};
    }
}
