#include "framework/win32/Windows.h"

#include "cli/LockedFile.h"

namespace qam::cli {

class CLockedFile::Impl {
public:
    HANDLE file = INVALID_HANDLE_VALUE;
    OVERLAPPED lock{};
    bool locked = false;
    DWORD error = 0;

    bool Failed() {
        error = ::GetLastError();
        return false;
    }
    bool MoveTo(std::int64_t position) {
        LARGE_INTEGER to{};
        to.QuadPart = position;
        return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE || Failed();
    }
};

CLockedFile::CLockedFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
    m_impl->file =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_impl->locked =
        (m_impl->file != INVALID_HANDLE_VALUE &&
         ::LockFileEx(m_impl->file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &m_impl->lock)) ||
        m_impl->Failed();
}

CLockedFile::~CLockedFile() {
    if (m_impl->locked) {
        ::UnlockFileEx(m_impl->file, 0, MAXDWORD, MAXDWORD, &m_impl->lock);
    }
    if (m_impl->file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_impl->file);
    }
}

bool CLockedFile::Ready() const {
    return m_impl->locked;
}

std::optional<std::int64_t> CLockedFile::Size() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(m_impl->file, &size)) {
        m_impl->Failed();
        return std::nullopt;
    }
    return size.QuadPart;
}

std::optional<std::string> CLockedFile::Read(std::int64_t at, std::size_t count) {
    std::string bytes(count, '\0');
    DWORD got = 0;
    if (!m_impl->MoveTo(at) ||
        !::ReadFile(m_impl->file, bytes.data(), static_cast<DWORD>(count), &got, nullptr)) {
        m_impl->Failed();
        return std::nullopt;
    }
    bytes.resize(got);
    return bytes;
}

bool CLockedFile::Write(std::int64_t at, std::string_view bytes) {
    DWORD written = 0;
    if (!m_impl->MoveTo(at) ||
        !::WriteFile(m_impl->file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return m_impl->Failed();
    }
    if (written != bytes.size()) {
        m_impl->error = ERROR_DISK_FULL;
        return false;
    }
    return true;
}

bool CLockedFile::CutTo(std::int64_t size) {
    return (m_impl->MoveTo(size) && ::SetEndOfFile(m_impl->file)) || m_impl->Failed();
}

bool CLockedFile::Flush() {
    return ::FlushFileBuffers(m_impl->file) != FALSE || m_impl->Failed();
}

std::string CLockedFile::Error() const {
    return "error " + std::to_string(m_impl->error);
}

} // namespace qam::cli
