#include "framework/win32/Windows.h"

#include "framework/Clock.h"
#include "framework/Icon.h"
#include "framework/PaintDC.h"
#include "framework/Wnd.h"

#include <ctime>

BOOL CWnd::ShowWindow(int command) const {
    return m_hWnd == nullptr ? FALSE : ::ShowWindow(m_hWnd, command);
}

BOOL CWnd::IsWindowVisible() const {
    return m_hWnd == nullptr ? FALSE : ::IsWindowVisible(m_hWnd);
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

std::int64_t CurrentTimeSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace fw
