#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qam::cli {

// A file opened for reading and writing (created when missing) under an exclusive lock, which
// waits for another process's lock to go (LockedFile_posix.cpp: flock, LockedFile_win32.cpp:
// LockFileEx). Each call false (or nothing) on failure, with the system's reason in Error().
class CLockedFile {
public:
    explicit CLockedFile(const std::string& path);
    ~CLockedFile(); // releases the lock
    CLockedFile(const CLockedFile&) = delete;
    CLockedFile& operator=(const CLockedFile&) = delete;

    bool Ready() const;
    std::optional<std::int64_t> Size();
    // Up to `count` bytes from `at`: fewer at the file's end.
    std::optional<std::string> Read(std::int64_t at, std::size_t count);
    // All of `bytes` at `at`.
    bool Write(std::int64_t at, std::string_view bytes);
    bool CutTo(std::int64_t size);
    // To the disk.
    bool Flush();
    std::string Error() const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace qam::cli
