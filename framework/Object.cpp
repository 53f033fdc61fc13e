#include "framework/Object.h"

const CRuntimeClass CObject::classCObject{"CObject", nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

void CObject::Serialize(CArchive&) {}
