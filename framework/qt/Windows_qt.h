#pragma once

// Inside the Qt backend only: what an HWND stands for. Every handle names an entry of one table, so
// that a handle whose widget has gone answers as a destroyed window does instead of pointing at
// freed memory, and a CWnd stays the non-owning wrapper it is on Windows.

#include "framework/WinTypes.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CDialog;

namespace fw::qt {

// The tools of a tooltip control: Qt shows a widget's tip by itself, so the control only hands its
// texts to the widgets while it is active.
struct ToolTips {
    bool active = false;
    std::vector<std::pair<QPointer<QWidget>, QString>> tools;
};

struct Window {
    // The window's widget; for a tooltip control, which has none, its owner's: the window lives as
    // long as that widget does.
    QPointer<QWidget> widget;
    // The dialog whose window this is: its messages go to CDialog::OnWndMsg.
    CDialog* dialog = nullptr;
    // Runs after every message the dialog received (the modal loop ends there once the dialog has).
    std::function<void()> afterMessage;
    std::unique_ptr<ToolTips> toolTips;
    // A top-level window's enabled state: see SetInputEnabled.
    bool inputEnabled = true;
    // Calls posted to a dialog whose window has not been painted yet wait for that first paint, so
    // that what they draw (the start-up search's status texts) reaches the screen.
    bool painted = true;
    std::vector<std::function<void()>> postedBeforePaint;
};

// The handle of widget, given out at its first use; null for no widget.
HWND HandleOf(QWidget* widget);
// A window of its own for a tooltip control owned by owner.
HWND AddToolTipWindow(QWidget* owner);
void RemoveWindow(HWND handle);
// The live window behind handle, or null.
Window* Find(HWND handle);
QWidget* WidgetOf(HWND handle);
// EnableWindow on a top-level window: Windows keeps input from a disabled window and its controls
// but draws them as they are (the status line stays readable during an update); Qt's own
// disabling would grey them all.
void SetInputEnabled(QWidget& window, bool enabled);
bool InputEnabled(const QWidget& window);
// Visits the window of every dialog running now (without allocating: transfers call it per piece).
void ForEachDialogWidget(const std::function<void(QWidget&)>& visit);

// As the platform delivers a message sent to a window: a dialog's to its CDialog first (nothing
// thrown gets past here), then a control's own behaviour.
LRESULT Send(HWND handle, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Queues call on the application behind everything waiting; for a dialog not painted yet, behind
// its first paint. ReleasePosted lets the held calls go.
void Post(HWND handle, std::function<void()> call);
void ReleasePosted(HWND handle);

// The program's texts are bytes in the system's encoding; Qt's are UTF-16.
QString FromAnsi(const char* text);
std::string ToAnsi(const QString& text);

// The icon resource with this id (":/icon/<id>" of the program's resources), null when there is none.
QString IconResource(UINT id);

} // namespace fw::qt
