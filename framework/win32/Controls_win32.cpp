#include "framework/win32/Windows.h"

#include "framework/ToolTipCtrl.h"

CToolTipCtrl::~CToolTipCtrl() {
    DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* parent) {
    DestroyWindow();
    m_hWnd = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               parent != nullptr ? parent->m_hWnd : nullptr, nullptr,
                               ::GetModuleHandleA(nullptr), nullptr);
    return m_hWnd != nullptr ? TRUE : FALSE;
}

BOOL CToolTipCtrl::AddTool(const CWnd& window, const char* text, const RECT& rect, UINT_PTR id) {
    // No TTF_IDISHWND: the tool is known by its id and covers rect of window; the dialog relays
    // the mouse messages (no TTF_SUBCLASS).
    TOOLINFOA info{};
    info.cbSize = sizeof info;
    info.uFlags = 0;
    info.hwnd = window.m_hWnd;
    info.uId = id;
    info.rect = rect;
    info.lpszText = const_cast<char*>(text);
    return SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)) != 0 ? TRUE : FALSE;
}

void CToolTipCtrl::DestroyWindow() {
    // The platform destroys it with its owner; only a live one is destroyed here.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        ::DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}
