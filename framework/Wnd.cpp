#include "framework/Wnd.h"

#include "framework/MessageBox.h"

const CRuntimeClass CWnd::classCWnd{"CWnd", &CObject::classCObject};

const CRuntimeClass* CWnd::GetRuntimeClass() const {
    return &classCWnd;
}

void CWnd::SetDlgItemText(int id, const char* text) const {
    GetDlgItem(id).SetWindowText(text);
}

void CWnd::CheckDlgButton(int id, UINT check) const {
    GetDlgItem(id).SendMessage(BM_SETCHECK, check);
}

UINT CWnd::IsDlgButtonChecked(int id) const {
    return static_cast<UINT>(GetDlgItem(id).SendMessage(BM_GETCHECK));
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) const {
    return fw::MessageBox(m_hWnd, text, caption, type);
}

HICON CWnd::SetIcon(HICON icon, BOOL big) const {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, static_cast<WPARAM>(big), reinterpret_cast<LPARAM>(icon)));
}
