// The registry of the Linux programs: the values of the program's one key live in a settings file,
// "<config directory>/qamupdate.conf", one "Name=value" line each. Texts are kept as they were set;
// numbers are decimal 32-bit integers. The file is read when the key is created or opened and
// written whole when a key opened with write access is closed (a temporary file, then a rename),
// so that a crash never leaves half a file.
#include "framework/RegKey.h"
#include "framework/posix/ConfigDirectory.h"
#include "framework/posix/WholeTransfer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kFileName = "/qamupdate.conf";

struct OpenKey {
    std::string path;
    bool writable = false;
    bool changed = false;
    std::vector<std::pair<std::string, std::string>> values; // in file order
};

std::map<std::uintptr_t, OpenKey>& OpenKeys() {
    static std::map<std::uintptr_t, OpenKey> keys;
    return keys;
}

OpenKey* Find(HKEY key) {
    const auto found = OpenKeys().find(reinterpret_cast<std::uintptr_t>(key));
    return found == OpenKeys().end() ? nullptr : &found->second;
}

// Value names compare without case, as the registry's do.
bool SameName(const std::string& a, const char* b) {
    return ::strcasecmp(a.c_str(), b) == 0;
}

const std::string* Value(const OpenKey& key, const char* name) {
    const auto found = std::find_if(key.values.begin(), key.values.end(),
                                    [name](const auto& value) { return SameName(value.first, name); });
    return found == key.values.end() ? nullptr : &found->second;
}

// The value of an open key: ERROR_SUCCESS with `value` set, or why there is none.
LONG Lookup(HKEY handle, const char* name, const std::string*& value) {
    const OpenKey* key = Find(handle);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    value = Value(*key, name);
    return value == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

// The file's lines; a line without "=" (a comment, say) is no value.
std::optional<std::vector<std::pair<std::string, std::string>>> Load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::vector<std::pair<std::string, std::string>> values;
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0 && line[0] != '#') {
            values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    if (file.bad()) {
        return std::nullopt;
    }
    return values;
}

bool WriteWhole(const std::string& path, const std::vector<std::pair<std::string, std::string>>& values) {
    std::string text = "# qamupdate settings\n";
    for (const auto& [name, value] : values) {
        text += name + "=" + value + "\n";
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = fw::posix::WriteWhole(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool MakeDirectories(const std::string& directory) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat status {};
    return ::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

HKEY Hold(OpenKey key) {
    static std::uintptr_t next = 0x100;
    const std::uintptr_t handle = next++;
    OpenKeys().emplace(handle, std::move(key));
    return reinterpret_cast<HKEY>(handle);
}

// A decimal 32-bit integer and nothing else.
std::optional<std::int32_t> Number(const std::string& text) {
    std::int32_t number = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, number);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return number;
}

} // namespace

LONG CRegKey::Create(HKEY, const char*, const char*, DWORD, REGSAM access, DWORD* disposition) {
    Close();
    const auto directory = fw::posix::ConfigDirectory();
    if (!directory) {
        return ERROR_FILE_NOT_FOUND;
    }
    OpenKey key{*directory + kFileName, (access & KEY_WRITE) == KEY_WRITE, false, {}};
    struct stat status {};
    if (::stat(key.path.c_str(), &status) == 0) {
        auto values = Load(key.path);
        if (!values || !S_ISREG(status.st_mode)) {
            return ERROR_ACCESS_DENIED;
        }
        key.values = std::move(*values);
        *disposition = REG_OPENED_EXISTING_KEY;
    } else {
        if (!MakeDirectories(*directory) || !WriteWhole(key.path, {})) {
            return ERROR_ACCESS_DENIED;
        }
        *disposition = REG_CREATED_NEW_KEY;
    }
    m_hKey = Hold(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRegKey::Open(HKEY, const char*, REGSAM access) {
    Close();
    const auto directory = fw::posix::ConfigDirectory();
    if (!directory) {
        return ERROR_FILE_NOT_FOUND;
    }
    OpenKey key{*directory + kFileName, (access & KEY_WRITE) == KEY_WRITE, false, {}};
    auto values = Load(key.path);
    if (!values) {
        return ERROR_FILE_NOT_FOUND;
    }
    key.values = std::move(*values);
    m_hKey = Hold(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryValue(const char* name, DWORD* type, void* data, DWORD* size) const {
    const std::string* value = nullptr;
    if (const LONG found = Lookup(m_hKey, name, value); found != ERROR_SUCCESS) {
        return found;
    }
    if (type != nullptr) {
        *type = REG_SZ;
    }
    const auto length = static_cast<DWORD>(value->size());
    const DWORD room = size != nullptr ? *size : 0;
    if (size != nullptr) {
        *size = length;
    }
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (length > room) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->data(), length);
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryDWORDValue(const char* name, DWORD& number) const {
    const std::string* value = nullptr;
    if (const LONG found = Lookup(m_hKey, name, value); found != ERROR_SUCCESS) {
        return found;
    }
    const auto parsed = Number(*value);
    if (!parsed) {
        return ERROR_INVALID_DATA;
    }
    number = static_cast<DWORD>(*parsed);
    return ERROR_SUCCESS;
}

LONG CRegKey::SetValue(const char* name, DWORD type, const void* data, DWORD size) const {
    OpenKey* key = Find(m_hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!key->writable) {
        return ERROR_ACCESS_DENIED;
    }
    std::string text;
    if (type == REG_SZ) {
        const auto* bytes = static_cast<const char*>(data);
        text.assign(bytes, ::strnlen(bytes, size));
        // One line a value: a text with a line break could not be read back.
        if (text.find_first_of("\r\n") != std::string::npos) {
            return ERROR_INVALID_PARAMETER;
        }
    } else if (type == REG_DWORD && size == sizeof(std::uint32_t)) {
        std::uint32_t number = 0;
        std::memcpy(&number, data, sizeof number);
        text = std::to_string(static_cast<std::int32_t>(number));
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    const auto found = std::find_if(key->values.begin(), key->values.end(),
                                    [name](const auto& value) { return SameName(value.first, name); });
    if (found != key->values.end()) {
        found->second = std::move(text);
    } else {
        key->values.emplace_back(name, std::move(text));
    }
    key->changed = true;
    return ERROR_SUCCESS;
}

LONG CRegKey::Close() {
    if (m_hKey == nullptr) {
        return ERROR_SUCCESS;
    }
    const auto found = OpenKeys().find(reinterpret_cast<std::uintptr_t>(m_hKey));
    m_hKey = nullptr;
    if (found == OpenKeys().end()) {
        return ERROR_INVALID_HANDLE;
    }
    const OpenKey key = std::move(found->second);
    OpenKeys().erase(found);
    if (key.changed && !WriteWhole(key.path, key.values)) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}
