#pragma once

#include "framework/WinTypes.h"

// An open registry key, closed by the destructor. The calls are Win32's (RegCreateKeyExA,
// RegOpenKeyExA, RegQueryValueExA, RegSetValueExA, RegCloseKey) and answer their error codes. On
// Linux the one key of the program is a settings file (framework/posix/SettingsFile.cpp).
class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Creates or opens parent\subKey; disposition: REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    LONG Create(HKEY parent, const char* subKey, const char* className, DWORD options, REGSAM access,
                DWORD* disposition);
    LONG Open(HKEY parent, const char* subKey, REGSAM access);
    // As RegQueryValueExA, whatever the value's type: size is in, the buffer's size; out, the value's size.
    LONG QueryValue(const char* name, DWORD* type, void* data, DWORD* size) const;
    // A 32-bit number; a value of any other type or size is a failed read (as ATL's CRegKey has it).
    LONG QueryDWORDValue(const char* name, DWORD& value) const;
    LONG SetValue(const char* name, DWORD type, const void* data, DWORD size) const;
    LONG Close();

    HKEY m_hKey = nullptr;
};
