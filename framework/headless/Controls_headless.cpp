#include "framework/PaintDC.h"
#include "framework/ToolTipCtrl.h"
#include "framework/headless/Desktop.h"

namespace {
constexpr const char* tooltipClass = "tooltips_class32";
}

CToolTipCtrl::~CToolTipCtrl() {
    DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style) {
    headless::Desktop& desktop = headless::Desktop::Instance();
    DestroyWindow();
    m_hWnd = desktop.AddWindow(0, tooltipClass);
    headless::Window& window = desktop.WindowOf(m_hWnd);
    window.owner = parent != nullptr ? parent->m_hWnd : nullptr;
    window.style = style;
    window.visible = false;
    return TRUE;
}

BOOL CToolTipCtrl::AddTool(const CWnd& window, const char* text, const RECT& rect, UINT_PTR id) {
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    headless::Desktop::Instance().WindowOf(m_hWnd).tools.push_back(headless::Tool{window.m_hWnd, id, rect, text});
    return TRUE;
}

void CToolTipCtrl::DestroyWindow() {
    headless::Desktop& desktop = headless::Desktop::Instance();
    // The desktop may have been reset under a control that outlived its test.
    if (m_hWnd != nullptr && desktop.IsWindow(m_hWnd)) {
        desktop.DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

struct CPaintDC::Paint {};

CPaintDC::CPaintDC(const CWnd& window) : m_window(window.m_hWnd) {
    m_hDC = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0xDC));
}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) const {
    headless::Desktop::Instance().DrawnIcons().push_back(headless::DrawnIcon{m_window, x, y, icon});
    return TRUE;
}
