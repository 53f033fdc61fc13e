#include "framework/win32/Windows.h"

#include "framework/Backend.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/Wnd.h"

#include <string>

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

namespace fw {

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(owner, text, caption, type);
}

void PumpWaitingMessages() {
    // Deliberately no TranslateMessage/IsDialogMessage: only painting and the controls' own
    // messages are meant to run while a transfer holds the thread.
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: put it back for the loop that runs the thread, and stop here.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        ::DispatchMessageA(&message);
    }
}

namespace backend {

void ShowWaitCursor(bool wait) {
    ::SetCursor(::LoadCursorA(nullptr, wait ? IDC_WAIT : IDC_ARROW));
}

} // namespace backend

} // namespace fw
