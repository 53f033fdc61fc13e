#include "cli/LockedFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qam::cli {

class CLockedFile::Impl {
public:
    int fd = -1;
    bool locked = false;
    int error = 0;

    bool Failed() {
        error = errno;
        return false;
    }
};

CLockedFile::CLockedFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
    m_impl->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    m_impl->locked = (m_impl->fd >= 0 && ::flock(m_impl->fd, LOCK_EX) == 0) || m_impl->Failed();
}

CLockedFile::~CLockedFile() {
    if (m_impl->fd >= 0) {
        ::close(m_impl->fd); // releases the lock
    }
}

bool CLockedFile::Ready() const {
    return m_impl->locked;
}

std::optional<std::int64_t> CLockedFile::Size() {
    struct stat status {};
    if (::fstat(m_impl->fd, &status) != 0) {
        m_impl->Failed();
        return std::nullopt;
    }
    return status.st_size;
}

std::optional<std::string> CLockedFile::Read(std::int64_t at, std::size_t count) {
    std::string bytes(count, '\0');
    const ssize_t got = ::pread(m_impl->fd, bytes.data(), count, at);
    if (got < 0) {
        m_impl->Failed();
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

bool CLockedFile::Write(std::int64_t at, std::string_view bytes) {
    const ssize_t written = ::pwrite(m_impl->fd, bytes.data(), bytes.size(), at);
    if (written == static_cast<ssize_t>(bytes.size())) {
        return true;
    }
    m_impl->error = written < 0 ? errno : ENOSPC;
    return false;
}

bool CLockedFile::CutTo(std::int64_t size) {
    return ::ftruncate(m_impl->fd, size) == 0 || m_impl->Failed();
}

bool CLockedFile::Flush() {
    return ::fsync(m_impl->fd) == 0 || m_impl->Failed();
}

std::string CLockedFile::Error() const {
    return std::strerror(m_impl->error);
}

} // namespace qam::cli
