#include "framework/Wnd.h"

const CRuntimeClass CWnd::classCWnd{"CWnd", &CObject::classCObject};

const CRuntimeClass* CWnd::GetRuntimeClass() const {
    return &classCWnd;
}
