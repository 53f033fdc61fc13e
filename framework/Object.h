#pragma once

class CObject;
class CArchive;

// The run-time class record of a framework class: its name and its base. No dynamic creation.
struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
};

// Root of the framework's classes. Virtual slots, in order: class query, destructor, serialisation.
class CObject {
public:
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive& archive);

    static const CRuntimeClass classCObject;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};
