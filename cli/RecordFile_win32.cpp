#include "framework/win32/Windows.h"

#include "cli/RecordFile.h"

#include <string>

namespace qam::cli {

namespace {

class LockedFile {
public:
    explicit LockedFile(const std::string& path)
        : m_file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        // Waits for another unit's append, which is one write and a flush.
        m_locked = m_file != INVALID_HANDLE_VALUE &&
                   ::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &m_lock) != FALSE;
    }
    ~LockedFile() {
        if (m_locked) {
            ::UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &m_lock);
        }
        if (m_file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_file);
        }
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool Ready() const { return m_locked; }
    HANDLE Get() const { return m_file; }

private:
    HANDLE m_file;
    OVERLAPPED m_lock{};
    bool m_locked = false;
};

bool Fail(std::string& problem, const char* what) {
    problem = std::string(what) + " (error " + std::to_string(::GetLastError()) + ")";
    return false;
}

bool MoveTo(HANDLE file, LONGLONG position) {
    LARGE_INTEGER to{};
    to.QuadPart = position;
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

} // namespace

bool AppendUnderLock(const std::string& path, std::string_view header, std::string_view text,
                     std::string& problem) {
    const LockedFile file(path);
    if (!file.Ready()) {
        return Fail(problem, "cannot open and lock it");
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) {
        return Fail(problem, "cannot read its size");
    }
    std::string bytes(text);
    if (size.QuadPart == 0) {
        bytes.insert(0, header);
    } else if (!header.empty()) {
        std::string head(header.size(), '\0');
        DWORD read = 0;
        if (!MoveTo(file.Get(), 0) ||
            !::ReadFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr) ||
            read != head.size() || head != header) {
            problem = "it begins with another header";
            return false;
        }
    }
    if (bytes.empty()) {
        return true;
    }
    DWORD written = 0;
    if (!MoveTo(file.Get(), size.QuadPart) ||
        !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        const bool failed = Fail(problem, "cannot write the line whole");
        // Half a line would spoil the record.
        if (MoveTo(file.Get(), size.QuadPart)) {
            ::SetEndOfFile(file.Get());
        }
        return failed;
    }
    if (!::FlushFileBuffers(file.Get())) {
        return Fail(problem, "cannot flush it to disk");
    }
    return true;
}

} // namespace qam::cli
