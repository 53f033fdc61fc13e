#include "framework/qt/Windows_qt.h"

#include "framework/Backend.h"
#include "framework/Icon.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/MessageWait.h"
#include "framework/PaintDC.h"
#include "framework/Wnd.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMessageBox>
#include <QStyle>

#include <cstdint>

// A minimised window is drawn by the window manager from the window's icon; the program never
// paints one, so there is no device context to hand out.
struct CPaintDC::Paint {};

CPaintDC::CPaintDC(const CWnd& window) : m_window(window.m_hWnd) {}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int, int, HICON) const {
    return FALSE;
}

namespace fw {

namespace {

constexpr UINT MB_TYPEMASK = 0x0000000FL;
constexpr UINT MB_ICONMASK = 0x000000F0L;

QMessageBox::Icon BoxIcon(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

HICON LoadAppIcon(UINT id) {
    // The handle is the resource's id: the window loads the icon when it is given one.
    return qt::IconResource(id).isEmpty() ? nullptr
                                          : reinterpret_cast<HICON>(static_cast<std::uintptr_t>(id));
}

int GetSystemMetrics(int index) {
    if (index == SM_CXICON || index == SM_CYICON) {
        return QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
    }
    return 0;
}

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    const QMessageBox::StandardButtons buttons =
        (type & MB_TYPEMASK) == MB_YESNO ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(BoxIcon(type), qt::FromAnsi(caption), qt::FromAnsi(text), buttons, qt::WidgetOf(owner));
    box.setTextFormat(Qt::PlainText);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

bool DispatchOneWaitingMessage() {
    // Qt dispatches everything waiting in one pass (painting, the progress bar, ...) and never
    // blocks here; the window is disabled meanwhile, so no input reaches a command.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher != nullptr && dispatcher->processEvents(QEventLoop::AllEvents);
}

void PumpWaitingMessages() {
    DispatchOneWaitingMessage();
}

namespace backend {

void ShowWaitCursor(bool wait) {
    // Over the dialogs' windows only, as the Win32 dialog keeps it: a box of a command shows the
    // arrow over itself. Set only on a change: transfers ask for it at every piece.
    qt::ForEachDialogWidget([wait](QWidget& window) {
        const bool showing =
            window.testAttribute(Qt::WA_SetCursor) && window.cursor().shape() == Qt::WaitCursor;
        if (wait && !showing) {
            window.setCursor(Qt::WaitCursor);
        } else if (!wait && showing) {
            window.unsetCursor();
        }
    });
}

} // namespace backend

} // namespace fw
