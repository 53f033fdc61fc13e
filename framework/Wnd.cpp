#include "framework/Wnd.h"

const CRuntimeClass CWnd::classCWnd{"CWnd", &CObject::classCObject};

const CRuntimeClass* CWnd::GetRuntimeClass() const {
    return &classCWnd;
}

void CWnd::SetDlgItemText(int id, const char* text) const {
    GetDlgItem(id).SetWindowText(text);
}
