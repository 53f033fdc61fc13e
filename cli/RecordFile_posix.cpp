#include "cli/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qam::cli {

namespace {

class LockedFile {
public:
    explicit LockedFile(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        // Waits for another unit's append, which is one write and a flush.
        m_locked = m_fd >= 0 && ::flock(m_fd, LOCK_EX) == 0;
    }
    ~LockedFile() {
        if (m_fd >= 0) {
            ::close(m_fd); // releases the lock
        }
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool Ready() const { return m_locked; }
    int Get() const { return m_fd; }

private:
    int m_fd;
    bool m_locked = false;
};

bool Fail(std::string& problem, const char* what) {
    problem = std::string(what) + ": " + std::strerror(errno);
    return false;
}

} // namespace

bool AppendUnderLock(const std::string& path, std::string_view header, std::string_view text,
                     std::string& problem) {
    const LockedFile file(path);
    if (!file.Ready()) {
        return Fail(problem, "cannot open and lock it");
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        return Fail(problem, "cannot read its size");
    }
    const off_t size = status.st_size;
    std::string bytes(text);
    if (size == 0) {
        bytes.insert(0, header);
    } else if (!header.empty()) {
        std::string head(header.size(), '\0');
        if (::pread(file.Get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) ||
            head != header) {
            problem = "it begins with another header";
            return false;
        }
    }
    if (bytes.empty()) {
        return true;
    }
    const ssize_t written = ::pwrite(file.Get(), bytes.data(), bytes.size(), size);
    if (written != static_cast<ssize_t>(bytes.size())) {
        const int error = errno;
        const int truncated = ::ftruncate(file.Get(), size); // half a line would spoil the record
        static_cast<void>(truncated);
        errno = written < 0 ? error : ENOSPC;
        return Fail(problem, "cannot write the line whole");
    }
    if (::fsync(file.Get()) != 0) {
        return Fail(problem, "cannot flush it to disk");
    }
    return true;
}

} // namespace qam::cli
