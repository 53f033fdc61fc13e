#include "framework/qt/Windows_qt.h"

#include "framework/Wnd.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>

using fw::qt::WidgetOf;

// Every CWnd member of the Qt backend: one-line wrappers of the widget's own calls.
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return fw::qt::Send(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const char* text) const {
    QWidget* widget = WidgetOf(m_hWnd);
    if (widget == nullptr) {
        return;
    }
    const QString value = fw::qt::FromAnsi(text);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
        // A static control paints its new text at once, also while a command holds the thread
        // (the search's "Device on COM n" texts).
        label->repaint();
    } else {
        widget->setWindowTitle(value);
    }
}

std::string CWnd::GetWindowText() const {
    const QWidget* widget = WidgetOf(m_hWnd);
    if (widget == nullptr) {
        return {};
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return fw::qt::ToAnsi(button->text());
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return fw::qt::ToAnsi(label->text());
    }
    return fw::qt::ToAnsi(widget->windowTitle());
}

BOOL CWnd::EnableWindow(BOOL enable) const {
    QWidget* widget = WidgetOf(m_hWnd);
    if (widget == nullptr) {
        return FALSE;
    }
    const BOOL wasDisabled = IsWindowEnabled() ? FALSE : TRUE;
    if (widget->isWindow()) {
        fw::qt::SetInputEnabled(*widget, enable != FALSE);
    } else {
        widget->setEnabled(enable != FALSE);
    }
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    const QWidget* widget = WidgetOf(m_hWnd);
    if (widget == nullptr) {
        return FALSE;
    }
    return (widget->isWindow() ? fw::qt::InputEnabled(*widget) : widget->isEnabled()) ? TRUE : FALSE;
}

CWnd CWnd::GetDlgItem(int id) const {
    const QWidget* widget = WidgetOf(m_hWnd);
    if (widget == nullptr) {
        return CWnd();
    }
    return CWnd(
        fw::qt::HandleOf(widget->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly)));
}

BOOL CWnd::IsIconic() const {
    const QWidget* widget = WidgetOf(m_hWnd);
    return widget != nullptr && widget->isMinimized() ? TRUE : FALSE;
}

void CWnd::UpdateWindow() const {
    if (QWidget* widget = WidgetOf(m_hWnd)) {
        widget->repaint();
    }
}

BOOL CWnd::RedrawWindow(UINT flags) const {
    QWidget* widget = WidgetOf(m_hWnd);
    if (widget == nullptr) {
        return FALSE;
    }
    if ((flags & RDW_UPDATENOW) != 0) {
        widget->repaint();
    } else if ((flags & RDW_INVALIDATE) != 0) {
        widget->update();
    }
    return TRUE;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (QCoreApplication::instance() == nullptr || fw::qt::Find(m_hWnd) == nullptr) {
        return FALSE;
    }
    // A window gone by then receives nothing.
    const HWND window = m_hWnd;
    fw::qt::Post(window,
                 [window, message, wParam, lParam] { fw::qt::Send(window, message, wParam, lParam); });
    return TRUE;
}

void CWnd::GetClientRect(RECT* rect) const {
    const QWidget* widget = WidgetOf(m_hWnd);
    *rect = widget == nullptr ? RECT{} : RECT{0, 0, widget->width(), widget->height()};
}
