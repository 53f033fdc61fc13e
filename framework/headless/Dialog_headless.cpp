#include "framework/Dialog.h"
#include "framework/headless/Desktop.h"

namespace {

constexpr const char* dialogClass = "#32770";

// Dialog units to pixels with the base units of an 8-point "MS Sans Serif" (6 by 13).
LONG PixelsX(short units) {
    return units * 6 / 4;
}

LONG PixelsY(short units) {
    return units * 13 / 8;
}

} // namespace

INT_PTR CDialog::DoModal() {
    headless::Desktop& desktop = headless::Desktop::Instance();
    m_ended = false;
    m_result = IDCANCEL;

    HWND dialog = desktop.AddWindow(0, dialogClass);
    {
        headless::Window& window = desktop.WindowOf(dialog);
        window.text = m_template.caption;
        window.style = m_template.style;
        window.visible = false;
        window.enabled = (m_template.style & WS_DISABLED) == 0;
        window.rect = RECT{0, 0, PixelsX(m_template.cx), PixelsY(m_template.cy)};
        window.owner = m_parent != nullptr ? m_parent->m_hWnd : nullptr;
    }
    for (const fw::DialogItem& item : m_template.items) {
        HWND control = desktop.AddWindow(item.id, item.className, dialog);
        headless::Window& window = desktop.WindowOf(control);
        window.text = item.text;
        window.style = item.style | WS_CHILD;
        window.visible = (item.style & WS_VISIBLE) != 0;
        window.enabled = (item.style & WS_DISABLED) == 0;
        window.rect = RECT{0, 0, PixelsX(item.cx), PixelsY(item.cy)};
    }
    desktop.WindowOf(dialog).procedure = [this, dialog](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        LRESULT result = 0;
        if (OnWndMsg(message, wParam, lParam, result)) {
            return result;
        }
        return headless::Desktop::Instance().DefaultProcedure(dialog, message, wParam, lParam);
    };
    m_hWnd = dialog;

    desktop.Send(dialog, WM_INITDIALOG, 0, 0);
    if ((m_template.style & WS_VISIBLE) != 0) {
        desktop.WindowOf(dialog).visible = true;
    }

    while (!m_ended) {
        if (auto next = desktop.TakePosted()) {
            if (next->work) {
                next->work();
            } else if (!PreTranslateMessage(&next->msg)) {
                desktop.Send(next->msg.hwnd, next->msg.message, next->msg.wParam, next->msg.lParam);
            }
            continue;
        }
        if (!desktop.RunOperatorStep()) {
            desktop.Fail("the dialog waits for the operator, but no step is left");
            m_result = -1;
            break;
        }
    }

    desktop.DestroyWindow(dialog);
    m_hWnd = nullptr;
    return m_result;
}

BOOL CDialog::PreTranslateMessage(MSG* message) {
    if (m_hWnd == nullptr || message->message != WM_KEYDOWN) {
        return FALSE;
    }
    headless::Desktop& desktop = headless::Desktop::Instance();
    const bool ours = message->hwnd == m_hWnd ||
                      (desktop.IsWindow(message->hwnd) && desktop.WindowOf(message->hwnd).parent == m_hWnd);
    // The dialog manager's keyboard: Escape is the cancel command.
    if (ours && message->wParam == VK_ESCAPE) {
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(IDCANCEL).m_hWnd));
        return TRUE;
    }
    return FALSE;
}
