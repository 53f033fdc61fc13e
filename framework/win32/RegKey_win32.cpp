#include "framework/win32/Windows.h"

#include "framework/RegKey.h"

#include <cstdint>

LONG CRegKey::Create(HKEY parent, const char* subKey, const char* className, DWORD options, REGSAM access,
                     DWORD* disposition) {
    Close();
    return ::RegCreateKeyExA(parent, subKey, 0, const_cast<char*>(className), options, access, nullptr,
                             &m_hKey, disposition);
}

LONG CRegKey::Open(HKEY parent, const char* subKey, REGSAM access) {
    Close();
    return ::RegOpenKeyExA(parent, subKey, 0, access, &m_hKey);
}

LONG CRegKey::QueryValue(const char* name, DWORD* type, void* data, DWORD* size) const {
    return ::RegQueryValueExA(m_hKey, name, nullptr, type, static_cast<BYTE*>(data), size);
}

LONG CRegKey::QueryDWORDValue(const char* name, DWORD& value) const {
    DWORD type = REG_NONE;
    std::uint32_t number = 0;
    DWORD size = sizeof number;
    const LONG result = QueryValue(name, &type, &number, &size);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (type != REG_DWORD || size != sizeof number) {
        return ERROR_INVALID_DATA;
    }
    value = number;
    return ERROR_SUCCESS;
}

LONG CRegKey::SetValue(const char* name, DWORD type, const void* data, DWORD size) const {
    return ::RegSetValueExA(m_hKey, name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegKey::Close() {
    if (m_hKey == nullptr) {
        return ERROR_SUCCESS;
    }
    const LONG result = ::RegCloseKey(m_hKey);
    m_hKey = nullptr;
    return result;
}
