#include "framework/qt/Windows_qt.h"

#include "framework/Dialog.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QProgressBar>

#include <algorithm>
#include <cstdint>
#include <map>

namespace fw::qt {

namespace {

// Handles are numbers counted up from here and never reused, so a stale one finds nothing.
std::map<std::uintptr_t, Window>& Windows() {
    static std::map<std::uintptr_t, Window> windows;
    return windows;
}

HWND Add(Window window) {
    static std::uintptr_t next = 0x10;
    QWidget* widget = window.widget;
    const std::uintptr_t handle = next++;
    Windows().emplace(handle, std::move(window));
    // Every window anchored to a widget goes with it, as child windows go with their parent.
    QObject::connect(widget, &QObject::destroyed, [handle] { Windows().erase(handle); });
    return reinterpret_cast<HWND>(handle);
}

// What a control does with a message nobody else answered, as its window class would.
LRESULT ControlProcedure(QWidget& widget, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETICON: {
        const QString resource = IconResource(static_cast<UINT>(lParam));
        widget.setWindowIcon(resource.isEmpty() ? QIcon() : QIcon(resource));
        return 0;
    }
    case PBM_SETRANGE:
        if (auto* bar = qobject_cast<QProgressBar*>(&widget)) {
            const LRESULT previous = MAKELPARAM(bar->minimum(), bar->maximum());
            bar->setRange(LOWORD(lParam), HIWORD(lParam));
            return previous;
        }
        return 0;
    case PBM_SETPOS:
        if (auto* bar = qobject_cast<QProgressBar*>(&widget)) {
            const LRESULT previous = bar->value();
            bar->setValue(static_cast<int>(wParam));
            return previous;
        }
        return 0;
    case BM_SETCHECK:
        if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
            button->setChecked(wParam == BST_CHECKED);
        }
        return 0;
    case BM_GETCHECK: {
        const auto* button = qobject_cast<QAbstractButton*>(&widget);
        return button != nullptr && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
    }
    default:
        return 0;
    }
}

// The entry of widget's own window (not of a tooltip control it owns).
auto EntryOf(const QWidget* widget) {
    return std::find_if(Windows().begin(), Windows().end(), [widget](const auto& entry) {
        return entry.second.widget == widget && !entry.second.toolTips;
    });
}

const Window* WindowOfWidget(const QWidget* widget) {
    const auto found = EntryOf(widget);
    return found == Windows().end() ? nullptr : &found->second;
}

bool IsInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::ToolTip:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

// Keeps input from the widgets of a window whose input is disabled, before they see it.
class InputBlocker final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (!IsInput(event->type()) || !target->isWidgetType()) {
            return false;
        }
        const Window* window = WindowOfWidget(static_cast<QWidget*>(target)->window());
        return window != nullptr && !window->inputEnabled;
    }
};

LRESULT ToolTipProcedure(ToolTips& toolTips, UINT message, WPARAM wParam) {
    if (message == TTM_ACTIVATE) {
        toolTips.active = wParam != 0;
        for (const auto& [widget, text] : toolTips.tools) {
            if (widget != nullptr) {
                widget->setToolTip(toolTips.active ? text : QString());
            }
        }
    }
    // TTM_RELAYEVENT needs nothing: Qt follows the mouse over a widget with a tip by itself.
    return 0;
}

} // namespace

HWND HandleOf(QWidget* widget) {
    if (widget == nullptr) {
        return nullptr;
    }
    if (const auto found = EntryOf(widget); found != Windows().end()) {
        return reinterpret_cast<HWND>(found->first);
    }
    Window window;
    window.widget = widget;
    return Add(std::move(window));
}

HWND AddToolTipWindow(QWidget* owner) {
    if (owner == nullptr) {
        return nullptr;
    }
    Window window;
    window.widget = owner;
    window.toolTips = std::make_unique<ToolTips>();
    return Add(std::move(window));
}

void RemoveWindow(HWND handle) {
    Windows().erase(reinterpret_cast<std::uintptr_t>(handle));
}

Window* Find(HWND handle) {
    const auto found = Windows().find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == Windows().end() || found->second.widget == nullptr) {
        return nullptr;
    }
    return &found->second;
}

QWidget* WidgetOf(HWND handle) {
    const Window* window = Find(handle);
    return window == nullptr || window->toolTips ? nullptr : window->widget.data();
}

void SetInputEnabled(QWidget& window, bool enabled) {
    Find(HandleOf(&window))->inputEnabled = enabled;
    static QPointer<InputBlocker> blocker;
    if (blocker == nullptr) {
        // Owned by the application, which it filters.
        blocker = new InputBlocker(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(blocker);
    }
}

bool InputEnabled(const QWidget& window) {
    const Window* entry = WindowOfWidget(&window);
    return entry == nullptr || entry->inputEnabled;
}

void ForEachDialogWidget(const std::function<void(QWidget&)>& visit) {
    for (const auto& [handle, window] : Windows()) {
        if (window.dialog != nullptr && window.widget != nullptr) {
            visit(*window.widget);
        }
    }
}

void Post(HWND handle, std::function<void()> call) {
    if (Window* window = Find(handle); window != nullptr && !window->painted) {
        window->postedBeforePaint.push_back(std::move(call));
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

void ReleasePosted(HWND handle) {
    Window* window = Find(handle);
    if (window == nullptr || window->painted) {
        return;
    }
    window->painted = true;
    for (std::function<void()>& call : std::exchange(window->postedBeforePaint, {})) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
    }
}

LRESULT Send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return 0;
    }
    if (window->toolTips) {
        return ToolTipProcedure(*window->toolTips, message, wParam);
    }
    if (CDialog* dialog = window->dialog) {
        // Copied: the handler may end the dialog, and the entry go with its window.
        const auto afterMessage = window->afterMessage;
        LRESULT result = 0;
        bool handled = false;
        try {
            handled = dialog->OnWndMsg(message, wParam, lParam, result);
        } catch (...) {
            handled = true;
            result = 0;
        }
        if (afterMessage) {
            afterMessage();
        }
        if (handled) {
            return result;
        }
        window = Find(handle);
        if (window == nullptr) {
            return 0;
        }
    }
    return ControlProcedure(*window->widget, message, wParam, lParam);
}

QString FromAnsi(const char* text) {
    return text == nullptr ? QString() : QString::fromLocal8Bit(text);
}

std::string ToAnsi(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString IconResource(UINT id) {
    const QString resource = QStringLiteral(":/icon/%1").arg(id);
    return QFile::exists(resource) ? resource : QString();
}

} // namespace fw::qt
