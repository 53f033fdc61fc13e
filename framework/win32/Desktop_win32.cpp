#include "framework/win32/Windows.h"

#include "framework/Backend.h"
#include "framework/Icon.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/PaintDC.h"
#include "framework/Wnd.h"

#include <memory>

struct CPaintDC::Paint {
    PAINTSTRUCT paint{};
};

CPaintDC::CPaintDC(const CWnd& window) : m_window(window.m_hWnd), m_paint(std::make_unique<Paint>()) {
    m_hDC = ::BeginPaint(m_window, &m_paint->paint);
}

CPaintDC::~CPaintDC() {
    if (m_hDC != nullptr) {
        ::EndPaint(m_window, &m_paint->paint);
    }
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) const {
    return m_hDC == nullptr ? FALSE : ::DrawIcon(m_hDC, x, y, icon);
}

namespace fw {

HICON LoadAppIcon(UINT id) {
    return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

int GetSystemMetrics(int index) {
    return ::GetSystemMetrics(index);
}

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
