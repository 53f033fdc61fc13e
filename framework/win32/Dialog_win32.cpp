#include "framework/win32/Windows.h"

#include "framework/Dialog.h"
#include "framework/WaitCursor.h"

#include <vector>

namespace {

// An in-memory DLGTEMPLATEEX: words in the platform's byte order, texts as UTF-16 (the template's
// texts are ASCII), every item starting on a DWORD boundary.
class TemplateWriter {
public:
    void Word(WORD value) { m_words.push_back(value); }
    void Short(short value) { m_words.push_back(static_cast<WORD>(value)); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(const char* text) {
        for (const char* c = text; *c != '\0'; ++c) {
            Word(static_cast<unsigned char>(*c));
        }
        Word(0);
    }
    void AlignToDword() {
        if (m_words.size() % 2 != 0) {
            Word(0);
        }
    }
    const WORD* Data() const { return m_words.data(); }

private:
    std::vector<WORD> m_words;
};

TemplateWriter BuildTemplate(const fw::DialogTemplate& dialog) {
    TemplateWriter t;
    t.Word(1);      // dlgVer
    t.Word(0xFFFF); // signature: the extended template
    t.Dword(0);     // helpID
    t.Dword(dialog.exStyle);
    t.Dword(dialog.style | DS_SETFONT);
    t.Word(static_cast<WORD>(dialog.items.size()));
    t.Short(dialog.x);
    t.Short(dialog.y);
    t.Short(dialog.cx);
    t.Short(dialog.cy);
    t.Word(0); // no menu
    t.Word(0); // the dialog class
    t.Text(dialog.caption);
    t.Word(dialog.pointSize);
    t.Word(FW_NORMAL);
    t.Word(static_cast<WORD>(DEFAULT_CHARSET << 8)); // italic 0, then the character set
    t.Text(dialog.fontName);
    for (const fw::DialogItem& item : dialog.items) {
        t.AlignToDword();
        t.Dword(0); // helpID
        t.Dword(item.exStyle);
        t.Dword(item.style | WS_CHILD);
        t.Short(item.x);
        t.Short(item.y);
        t.Short(item.cx);
        t.Short(item.cy);
        t.Dword(static_cast<DWORD>(item.id));
        t.Text(item.className);
        t.Text(item.text);
        t.Word(0); // no creation data
    }
    return t;
}

// The framework centres a dialog that its initialisation did not move.
void CentreOnWorkArea(HWND window) {
    RECT work{};
    RECT rect{};
    if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !::GetWindowRect(window, &rect)) {
        return;
    }
    const int x = work.left + ((work.right - work.left) - (rect.right - rect.left)) / 2;
    const int y = work.top + ((work.bottom - work.top) - (rect.bottom - rect.top)) / 2;
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Messages whose answer is the procedure's own return value rather than DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return true;
    default:
        return false;
    }
}

// While a command runs, the pointer over the window keeps the wait cursor: the platform would put
// the class's arrow back at every mouse move that a transfer's draining of the queue dispatches.
// Not while a box of the command's is up: that one waits for the operator.
bool KeepsWaitCursor(HWND window) {
    return fw::WaitCursorCount() > 0 && ::GetLastActivePopup(window) == window;
}

// Hands every message to the CDialog that created the window; nothing thrown gets past here.
INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
    } else {
        dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    }
    if (dialog == nullptr) {
        return FALSE;
    }
    if (message == WM_SETCURSOR && KeepsWaitCursor(window)) {
        fw::RestoreWaitCursor();
        ::SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    try {
        RECT before{};
        if (message == WM_INITDIALOG) {
            ::GetWindowRect(window, &before);
        }
        LRESULT result = 0;
        if (!dialog->OnWndMsg(message, wParam, lParam, result)) {
            return FALSE;
        }
        if (message == WM_INITDIALOG) {
            RECT after{};
            ::GetWindowRect(window, &after);
            if (after.left == before.left && after.top == before.top) {
                CentreOnWorkArea(window);
            }
        }
        if (AnswersDirectly(message)) {
            return static_cast<INT_PTR>(result);
        }
        ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

} // namespace

INT_PTR CDialog::DoModal() {
    const TemplateWriter bytes = BuildTemplate(m_template);
    HWND owner = m_parent != nullptr ? m_parent->m_hWnd : nullptr;
    m_ended = false;
    m_result = IDCANCEL;

    const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
    if (disableOwner) {
        ::EnableWindow(owner, FALSE);
    }
    HWND window = ::CreateDialogIndirectParamA(::GetModuleHandleA(nullptr),
                                               reinterpret_cast<LPCDLGTEMPLATEA>(bytes.Data()), owner,
                                               &DialogProcedure, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        if (disableOwner) {
            ::EnableWindow(owner, TRUE);
        }
        return -1;
    }

    // The modal loop of our own: PreTranslateMessage sees every message first.
    MSG message;
    while (!m_ended) {
        const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) {
            break;
        }
        if (got == 0) {
            // Someone asked the program to quit: leave the request for the loop outside.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!PreTranslateMessage(&message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }

    if (disableOwner) {
        ::EnableWindow(owner, TRUE);
    }
    ::DestroyWindow(window);
    m_hWnd = nullptr;
    return m_result;
}

BOOL CDialog::PreTranslateMessage(MSG* message) {
    return m_hWnd != nullptr && ::IsDialogMessageA(m_hWnd, message) ? TRUE : FALSE;
}
