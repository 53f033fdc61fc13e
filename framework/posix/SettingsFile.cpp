// The registry of the Linux programs: the values of the program's one key live in a settings file,
// "<config directory>/qamupdate.conf", one "Name=value" line each. Texts are kept as they were set;
// numbers are decimal 32-bit integers. The file is read when the key is created or opened and
// written whole when a key opened with write access is closed (a temporary file, then a rename),
// so that a crash never leaves half a file.
//
// The file is the user's: only a regular file of at most 64 KiB is read (opened without blocking,
// so a FIFO cannot hold the start); a file or directory the user may not write is read and never
// written; a symbolic link is followed and its target replaced; lines that are no value of the
// program's (comments, other names) are written back as they were.
#include "framework/RegKey.h"
#include "framework/posix/ConfigDirectory.h"
#include "framework/posix/WholeTransfer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kFileName = "/qamupdate.conf";
constexpr const char* kHeader = "# qamupdate settings";
// A settings file is a few lines: anything larger is not one.
constexpr std::size_t kMostBytes = 64 * 1024;

struct OpenKey {
    std::string path; // the file itself, a link's target resolved
    bool writable = false;
    bool changed = false;
    mode_t mode = 0600;
    std::vector<std::string> lines; // in file order, the ones that are no value as well
};

std::map<std::uintptr_t, OpenKey>& OpenKeys() {
    static std::map<std::uintptr_t, OpenKey> keys;
    return keys;
}

OpenKey* Find(HKEY key) {
    const auto found = OpenKeys().find(reinterpret_cast<std::uintptr_t>(key));
    return found == OpenKeys().end() ? nullptr : &found->second;
}

// The line holding value `name`: "Name=value", names compared without case as the registry's are;
// a comment or a line without "=" is none.
std::vector<std::string>::iterator ValueLine(std::vector<std::string>& lines, const char* name) {
    const std::size_t length = std::strlen(name);
    return std::find_if(lines.begin(), lines.end(), [name, length](const std::string& line) {
        return line.size() > length && line[length] == '=' && line[0] != '#' &&
               ::strncasecmp(line.c_str(), name, length) == 0;
    });
}

// The value of an open key: ERROR_SUCCESS with `value` set, or why there is none.
LONG Lookup(HKEY handle, const char* name, std::string& value) {
    OpenKey* key = Find(handle);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const auto line = ValueLine(key->lines, name);
    if (line == key->lines.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    value = line->substr(std::strlen(name) + 1);
    return ERROR_SUCCESS;
}

struct CloseFd {
    void operator()(const int* fd) const { ::close(*fd); }
};

// The lines and mode of key.path, a regular file of at most kMostBytes; false for anything else or
// a failed read.
bool Load(OpenKey& key) {
    int fd = ::open(key.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const std::unique_ptr<int, CloseFd> closer(&fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > kMostBytes) {
        return false;
    }
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    if (!fw::posix::ReadWhole(fd, text.data(), text.size())) {
        return false;
    }
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        key.lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    key.mode = status.st_mode & 07777;
    return true;
}

// Whether the user may change path: the system's answer, and for a file or directory without its
// owner's write bit no, so that a read-only file keeps its values even for root.
bool MayWrite(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && (status.st_mode & S_IWUSR) != 0 &&
           ::access(path.c_str(), W_OK) == 0;
}

bool WriteWhole(const std::string& path, const std::vector<std::string>& lines, mode_t mode) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written =
        ::fchmod(fd, mode) == 0 && fw::posix::WriteWhole(fd, text.data(), text.size()) && ::fsync(fd) == 0;
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

// The existing settings file as an open key, through a symbolic link to its target: written only
// when asked for and where the user may write both the file and its directory.
std::optional<OpenKey> OpenExisting(const std::string& path, REGSAM access) {
    char target[PATH_MAX];
    if (::realpath(path.c_str(), target) == nullptr) {
        return std::nullopt;
    }
    OpenKey key;
    key.path = target;
    if (!Load(key)) {
        return std::nullopt;
    }
    key.writable = (access & KEY_WRITE) == KEY_WRITE && MayWrite(key.path) &&
                   MayWrite(key.path.substr(0, std::max<std::size_t>(key.path.rfind('/'), 1)));
    return key;
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
    const std::string path = *directory + kFileName;
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        // Anything but a readable regular file of a settings file's size can be neither created nor opened.
        auto key = OpenExisting(path, access);
        if (!key) {
            return ERROR_ACCESS_DENIED;
        }
        m_hKey = Hold(std::move(*key));
        *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    const std::vector<std::string> lines{kHeader};
    if (!MakeDirectories(*directory) || !WriteWhole(path, lines, 0600)) {
        return ERROR_ACCESS_DENIED;
    }
    m_hKey = Hold(OpenKey{path, (access & KEY_WRITE) == KEY_WRITE, false, 0600, lines});
    *disposition = REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LONG CRegKey::Open(HKEY, const char*, REGSAM access) {
    Close();
    const auto directory = fw::posix::ConfigDirectory();
    if (!directory) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto key = OpenExisting(*directory + kFileName, access);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    m_hKey = Hold(std::move(*key));
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryValue(const char* name, DWORD* type, void* data, DWORD* size) const {
    std::string value;
    if (const LONG found = Lookup(m_hKey, name, value); found != ERROR_SUCCESS) {
        return found;
    }
    if (type != nullptr) {
        *type = REG_SZ;
    }
    const auto length = static_cast<DWORD>(value.size());
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
    std::memcpy(data, value.data(), length);
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryDWORDValue(const char* name, DWORD& number) const {
    std::string value;
    if (const LONG found = Lookup(m_hKey, name, value); found != ERROR_SUCCESS) {
        return found;
    }
    const auto parsed = Number(value);
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
    const auto line = ValueLine(key->lines, name);
    if (line != key->lines.end()) {
        // The name as the file spells it.
        line->replace(std::strlen(name) + 1, std::string::npos, text);
    } else {
        key->lines.push_back(std::string(name) + "=" + text);
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
    if (key.changed && !WriteWhole(key.path, key.lines, key.mode)) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}
