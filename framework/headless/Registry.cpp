#include "framework/headless/Registry.h"

#include "framework/RegKey.h"
#include "framework/headless/Desktop.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace headless {

namespace {

constexpr REGSAM KEY_QUERY_VALUE_BIT = 0x0001;
constexpr REGSAM KEY_SET_VALUE_BIT = 0x0002;

std::string Folded(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

RegistryValue RegistryValue::String(const std::string& text, bool terminated) {
    RegistryValue value{REG_SZ, std::vector<std::uint8_t>(text.begin(), text.end())};
    if (terminated) {
        value.data.push_back(0);
    }
    return value;
}

RegistryValue RegistryValue::Dword(DWORD number) {
    RegistryValue value{REG_DWORD, std::vector<std::uint8_t>(4)};
    for (int i = 0; i < 4; ++i) {
        value.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(number >> (8 * i));
    }
    return value;
}

void Registry::Reset() {
    m_keys.clear();
    m_open.clear();
    m_writes.clear();
    m_failCreate = false;
    m_failOpenForWrite = false;
}

void Registry::AddKey(const std::string& path) {
    m_keys[Folded(path)];
}

bool Registry::HasKey(const std::string& path) const {
    return m_keys.count(Folded(path)) != 0;
}

void Registry::Put(const std::string& path, const std::string& name, RegistryValue value) {
    m_keys[Folded(path)][Folded(name)] = std::move(value);
}

void Registry::Remove(const std::string& path, const std::string& name) {
    auto key = m_keys.find(Folded(path));
    if (key != m_keys.end()) {
        key->second.erase(Folded(name));
    }
}

std::optional<RegistryValue> Registry::Value(const std::string& path, const std::string& name) const {
    auto key = m_keys.find(Folded(path));
    if (key == m_keys.end()) {
        return std::nullopt;
    }
    auto value = key->second.find(Folded(name));
    if (value == key->second.end()) {
        return std::nullopt;
    }
    return value->second;
}

std::optional<std::string> Registry::PathOf(HKEY parent, const char* subKey) const {
    std::string path;
    if (parent == HKEY_LOCAL_MACHINE) {
        path = localMachine;
    } else {
        auto open = m_open.find(reinterpret_cast<std::uintptr_t>(parent));
        if (open == m_open.end()) {
            return std::nullopt;
        }
        path = open->second.path;
    }
    if (subKey != nullptr && *subKey != '\0') {
        path += '\\';
        path += subKey;
    }
    return path;
}

HKEY Registry::Hold(const std::string& path, REGSAM access) {
    const std::uintptr_t handle = m_nextHandle++;
    m_open[handle] = OpenKeyRecord{path, access};
    return reinterpret_cast<HKEY>(handle);
}

LONG Registry::CreateKey(HKEY parent, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition) {
    const auto path = PathOf(parent, subKey);
    if (!path) {
        return ERROR_INVALID_HANDLE;
    }
    if (m_failCreate) {
        return ERROR_ACCESS_DENIED;
    }
    const bool existed = HasKey(*path);
    // Every missing key on the way is created too, as RegCreateKeyExA does.
    for (std::size_t at = path->find('\\'); at != std::string::npos; at = path->find('\\', at + 1)) {
        AddKey(path->substr(0, at));
    }
    AddKey(*path);
    if (disposition != nullptr) {
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *result = Hold(*path, access);
    return ERROR_SUCCESS;
}

LONG Registry::OpenKey(HKEY parent, const char* subKey, REGSAM access, HKEY* result) {
    const auto path = PathOf(parent, subKey);
    if (!path) {
        return ERROR_INVALID_HANDLE;
    }
    if (m_failOpenForWrite && (access & KEY_SET_VALUE_BIT) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (!HasKey(*path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = Hold(*path, access);
    return ERROR_SUCCESS;
}

LONG Registry::QueryValue(HKEY key, const char* name, DWORD* type, void* data, DWORD* size) const {
    auto open = m_open.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m_open.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if ((open->second.access & KEY_QUERY_VALUE_BIT) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const auto value = Value(open->second.path, name == nullptr ? "" : name);
    if (!value) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    const auto length = static_cast<DWORD>(value->data.size());
    if (data != nullptr) {
        if (size == nullptr) {
            return ERROR_INVALID_HANDLE;
        }
        if (*size < length) {
            *size = length;
            return ERROR_MORE_DATA;
        }
        std::copy(value->data.begin(), value->data.end(), static_cast<std::uint8_t*>(data));
    }
    if (size != nullptr) {
        *size = length;
    }
    return ERROR_SUCCESS;
}

LONG Registry::SetValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    auto open = m_open.find(reinterpret_cast<std::uintptr_t>(key));
    if (open == m_open.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if ((open->second.access & KEY_SET_VALUE_BIT) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    RegistryValue value{type, std::vector<std::uint8_t>(bytes, bytes + size)};
    const std::string valueName = name == nullptr ? "" : name;
    m_writes.push_back(RegistryWrite{open->second.path, valueName, value});
    Put(open->second.path, valueName, std::move(value));
    return ERROR_SUCCESS;
}

LONG Registry::CloseKey(HKEY key) {
    return m_open.erase(reinterpret_cast<std::uintptr_t>(key)) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace headless

LONG CRegKey::Create(HKEY parent, const char* subKey, const char*, DWORD, REGSAM access, DWORD* disposition) {
    Close();
    return headless::Desktop::Instance().GetRegistry().CreateKey(parent, subKey, access, &m_hKey, disposition);
}

LONG CRegKey::Open(HKEY parent, const char* subKey, REGSAM access) {
    Close();
    return headless::Desktop::Instance().GetRegistry().OpenKey(parent, subKey, access, &m_hKey);
}

LONG CRegKey::QueryValue(const char* name, DWORD* type, void* data, DWORD* size) const {
    return headless::Desktop::Instance().GetRegistry().QueryValue(m_hKey, name, type, data, size);
}

LONG CRegKey::SetValue(const char* name, DWORD type, const void* data, DWORD size) const {
    return headless::Desktop::Instance().GetRegistry().SetValue(m_hKey, name, type, data, size);
}

LONG CRegKey::Close() {
    if (m_hKey == nullptr) {
        return ERROR_SUCCESS;
    }
    const LONG result = headless::Desktop::Instance().GetRegistry().CloseKey(m_hKey);
    m_hKey = nullptr;
    return result;
}
