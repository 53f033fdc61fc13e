#include "module/ModuleProxy.h"

const CRuntimeClass CModuleProxy::classCModuleProxy{"CModuleProxy", &CWnd::classCWnd};

const CRuntimeClass* CModuleProxy::GetRuntimeClass() const {
    return &classCModuleProxy;
}
