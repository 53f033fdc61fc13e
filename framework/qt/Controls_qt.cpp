#include "framework/qt/Windows_qt.h"

#include "framework/ToolTipCtrl.h"

CToolTipCtrl::~CToolTipCtrl() {
    DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* parent) {
    DestroyWindow();
    m_hWnd = fw::qt::AddToolTipWindow(fw::qt::WidgetOf(parent != nullptr ? parent->m_hWnd : nullptr));
    return m_hWnd != nullptr ? TRUE : FALSE;
}

BOOL CToolTipCtrl::AddTool(const CWnd& window, const char* text, const RECT&, UINT_PTR) {
    // Qt shows a tip over its widget's whole area, which is the client rectangle the program gives.
    fw::qt::Window* control = fw::qt::Find(m_hWnd);
    QWidget* widget = fw::qt::WidgetOf(window.m_hWnd);
    if (control == nullptr || widget == nullptr) {
        return FALSE;
    }
    const QString tip = fw::qt::FromAnsi(text);
    control->toolTips->tools.emplace_back(widget, tip);
    if (control->toolTips->active) {
        widget->setToolTip(tip);
    }
    return TRUE;
}

void CToolTipCtrl::DestroyWindow() {
    if (fw::qt::Find(m_hWnd) != nullptr) {
        Activate(FALSE);
        fw::qt::RemoveWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}
