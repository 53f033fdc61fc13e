#pragma once

#include "framework/WinTypes.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The headless backend's registry: keys and values in memory, the program's calls recorded, and
// failures a test can inject. Key paths are full ("HKEY_LOCAL_MACHINE\\System\\...") and, as on
// Windows, key and value names compare without case.
namespace headless {

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;

    static RegistryValue String(const std::string& text, bool terminated = true);
    static RegistryValue Dword(DWORD value);

    bool operator==(const RegistryValue&) const = default;
};

struct RegistryWrite {
    std::string key;
    std::string name;
    RegistryValue value;

    bool operator==(const RegistryWrite&) const = default;
};

class Registry {
public:
    static constexpr const char* localMachine = "HKEY_LOCAL_MACHINE";

    void Reset();

    void AddKey(const std::string& path);
    bool HasKey(const std::string& path) const;
    // Test set-up: not recorded among the writes.
    void Put(const std::string& path, const std::string& name, RegistryValue value);
    void Remove(const std::string& path, const std::string& name);
    std::optional<RegistryValue> Value(const std::string& path, const std::string& name) const;

    // Every value the program set, in order.
    const std::vector<RegistryWrite>& Writes() const { return m_writes; }
    // Keys the program holds open now.
    int OpenHandles() const { return static_cast<int>(m_open.size()); }

    // Injected failures: RegCreateKeyExA fails (the key can be neither created nor opened);
    // RegOpenKeyExA fails for any access that includes writing.
    bool m_failCreate = false;
    bool m_failOpenForWrite = false;

    LONG CreateKey(HKEY parent, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition);
    LONG OpenKey(HKEY parent, const char* subKey, REGSAM access, HKEY* result);
    LONG QueryValue(HKEY key, const char* name, DWORD* type, void* data, DWORD* size) const;
    LONG SetValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size);
    LONG CloseKey(HKEY key);

private:
    struct OpenKeyRecord {
        std::string path;
        REGSAM access;
    };

    std::optional<std::string> PathOf(HKEY parent, const char* subKey) const;
    HKEY Hold(const std::string& path, REGSAM access);

    std::map<std::string, std::map<std::string, RegistryValue>> m_keys; // by folded path, folded name
    std::map<std::uintptr_t, OpenKeyRecord> m_open;
    std::uintptr_t m_nextHandle = 0x100;
    std::vector<RegistryWrite> m_writes;
};

} // namespace headless
