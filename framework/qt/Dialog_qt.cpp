#include "framework/qt/Windows_qt.h"

#include "framework/Dialog.h"
#include "framework/WaitCursor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string_view>

namespace {

// The fonts that stand in for a template's on Linux. DejaVu Sans is there wherever fontconfig is
// (Debian's fontconfig-config depends on it); at 8 points it is as high as MS Sans Serif (13 px at
// 96 dpi), only wider, and the dialog units follow its width.
constexpr std::pair<std::string_view, const char*> FONT_STAND_INS[] = {
    {"MS Sans Serif", "DejaVu Sans"},
};

constexpr int POINTS_PER_INCH = 72;
// How long the calls posted to a dialog wait for its first paint at most.
constexpr int UNPAINTED_RELEASE_MS = 2000;
// The letters whose extent gives a dialog font's average character width.
constexpr const char* ALPHABET = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Windows' MulDiv: number * numerator / denominator rounded to the nearest, halves away from zero.
int MulDiv(int number, int numerator, int denominator) {
    const std::int64_t product = std::int64_t{number} * numerator;
    const std::int64_t half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

// The template's font as Windows creates it: the point size becomes a whole pixel height.
QFont DialogFont(const fw::DialogTemplate& dialog) {
    const char* family = dialog.fontName;
    for (const auto& [name, standIn] : FONT_STAND_INS) {
        if (name == dialog.fontName) {
            family = standIn;
        }
    }
    QFont font(QString::fromLatin1(family));
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int dpi = screen != nullptr ? qRound(screen->logicalDotsPerInchY()) : 96;
    font.setPixelSize(MulDiv(dialog.pointSize, dpi, POINTS_PER_INCH));
    return font;
}

// Dialog units to pixels: horizontal units are a quarter of the font's average character width,
// vertical ones an eighth of its height, both measured as Windows measures them.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        m_baseX = (metrics.horizontalAdvance(QString::fromLatin1(ALPHABET)) / 26 + 1) / 2;
        m_baseY = metrics.height();
    }
    int X(int units) const { return MulDiv(units, m_baseX, 4); }
    int Y(int units) const { return MulDiv(units, m_baseY, 8); }

private:
    int m_baseX = 0;
    int m_baseY = 0;
};

// The dialog's window: the title bar's close box and Escape are its close request, the cancel
// command, which the dialog answers; Qt would otherwise hide the window itself.
// Its first paint lets the calls posted to it go (fw::qt::Post).
class DialogWindow final : public QDialog {
public:
    explicit DialogWindow(Qt::WindowFlags flags) : QDialog(nullptr, flags) {}

    void reject() override {
        fw::qt::Send(fw::qt::HandleOf(this), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QDialog::paintEvent(event);
        fw::qt::ReleasePosted(fw::qt::HandleOf(this));
    }

    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        reject();
    }
};

Qt::WindowFlags WindowFlags(const fw::DialogTemplate& dialog) {
    // Shown in the task bar: a window of its own rather than a dialog of another.
    Qt::WindowFlags flags = (dialog.exStyle & WS_EX_APPWINDOW) != 0 ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint;
    if ((dialog.style & WS_CAPTION) == WS_CAPTION) {
        flags |= Qt::WindowTitleHint;
    }
    if ((dialog.style & WS_SYSMENU) != 0) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if ((dialog.style & WS_MINIMIZEBOX) != 0) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    return flags;
}

Qt::Alignment StaticAlignment(DWORD style) {
    Qt::Alignment alignment = (style & SS_CENTER) != 0 ? Qt::AlignHCenter : Qt::AlignLeft;
    return alignment | ((style & SS_CENTERIMAGE) != 0 ? Qt::AlignVCenter : Qt::AlignTop);
}

// The widget for one item of the template, or null for a class this backend does not know.
QWidget* CreateControl(const fw::DialogItem& item, QWidget& parent) {
    const std::string_view className = item.className;
    const QString text = fw::qt::FromAnsi(item.text);
    if (className == "Button" && (item.style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        return new QCheckBox(text, &parent);
    }
    if (className == "Button") {
        auto* button = new QPushButton(text, &parent);
        // As the dialog manager does: the focused push button is the one Enter presses.
        button->setAutoDefault(true);
        button->setDefault((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        return button;
    }
    if (className == "Static") {
        auto* label = new QLabel(text, &parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(StaticAlignment(item.style));
        label->setWordWrap(true);
        if ((item.style & SS_SUNKEN) != 0) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        }
        return label;
    }
    if (className == "msctls_progress32") {
        auto* bar = new QProgressBar(&parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        // The bar alone, as the common control draws it.
        bar->setTextVisible(false);
        bar->setWindowTitle(text);
        return bar;
    }
    return nullptr;
}

// The window of a dialog template: the controls in template order, which is also their tab order,
// each named by its id so that GetDlgItem (and Qt's own findChild) finds it. Null when an item is
// of a class the backend does not know, as Windows fails such a dialog.
std::unique_ptr<QDialog> CreateDialogWindow(const fw::DialogTemplate& dialog) {
    auto window = std::make_unique<DialogWindow>(WindowFlags(dialog));
    const QFont font = DialogFont(dialog);
    const DialogUnits units(font);
    window->setFont(font);
    window->setWindowTitle(fw::qt::FromAnsi(dialog.caption));
    window->setFixedSize(units.X(dialog.cx), units.Y(dialog.cy));
    QWidget* previous = nullptr;
    for (const fw::DialogItem& item : dialog.items) {
        QWidget* control = CreateControl(item, *window);
        if (control == nullptr) {
            return nullptr;
        }
        control->setObjectName(QString::number(item.id));
        control->setGeometry(units.X(item.x), units.Y(item.y), units.X(item.cx), units.Y(item.cy));
        control->setHidden((item.style & WS_VISIBLE) == 0);
        control->setEnabled((item.style & WS_DISABLED) == 0);
        if (control->focusPolicy() != Qt::NoFocus && (item.style & WS_TABSTOP) == 0) {
            control->setFocusPolicy(Qt::ClickFocus);
        }
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, control);
        }
        previous = control;
    }
    return window;
}

// The button notifications: a click reaches the dialog as WM_COMMAND with the control's id.
void ConnectButtons(QDialog& window, HWND dialogWindow) {
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
        const int id = button->objectName().toInt();
        QObject::connect(button, &QAbstractButton::clicked, button, [dialogWindow, id, button] {
            fw::qt::Send(dialogWindow, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(fw::qt::HandleOf(button)));
        });
    }
}

// Where the dialog manager puts the focus when the initialisation leaves it to the platform.
void FocusFirstTabStop(const QDialog& window) {
    for (QWidget* control : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if ((control->focusPolicy() & Qt::TabFocus) != 0 && control->isVisibleTo(&window) &&
            control->isEnabledTo(&window)) {
            control->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

} // namespace

INT_PTR CDialog::DoModal() {
    m_ended = false;
    m_result = IDCANCEL;
    std::unique_ptr<QDialog> window = CreateDialogWindow(m_template);
    if (!window) {
        return -1;
    }
    if (QWidget* owner = fw::qt::WidgetOf(m_parent != nullptr ? m_parent->m_hWnd : nullptr)) {
        window->setParent(owner, window->windowFlags());
        window->setWindowModality(Qt::ApplicationModal);
    }
    QEventLoop loop;
    m_hWnd = fw::qt::HandleOf(window.get());
    fw::qt::Window* entry = fw::qt::Find(m_hWnd);
    entry->dialog = this;
    entry->afterMessage = [this, &loop] {
        if (m_ended) {
            loop.quit();
        }
    };
    ConnectButtons(*window, m_hWnd);
    // What the initialisation posts (the search) runs once the window is on the screen; a window the
    // desktop never shows gets it all the same after a while.
    entry->painted = false;
    QTimer::singleShot(UNPAINTED_RELEASE_MS, window.get(),
                       [handle = m_hWnd] { fw::qt::ReleasePosted(handle); });
    if (fw::WaitCursorCount() > 0) {
        window->setCursor(Qt::WaitCursor);
    }

    // QDialog centres itself when shown unless the initialisation moved it (WA_Moved), as the
    // framework centres a dialog.
    const bool focusFirst = fw::qt::Send(m_hWnd, WM_INITDIALOG) != FALSE;
    if (!m_ended) {
        window->show();
        if (focusFirst) {
            FocusFirstTabStop(*window);
        }
        // One pass: it ends when the dialog does, or when the application is told to quit (then
        // the dialog ends with it, as the Win32 loop ends on WM_QUIT).
        loop.exec();
    }

    window.reset();
    m_hWnd = nullptr;
    return m_result;
}

BOOL CDialog::PreTranslateMessage(MSG*) {
    // Qt delivers input to its widgets itself and shows their tips without a relay; no message of
    // this backend passes through here.
    return FALSE;
}
