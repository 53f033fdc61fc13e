#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What a shared suite may need to know about where it runs.
namespace qam::test {

// A fresh directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path m_path;
};

// True when the test program runs under Wine (its ntdll exports wine_get_version). Cases that
// hold on Windows but not under Wine (exclusive opening of a COM port) skip with that reason.
bool RunningUnderWine();

// The CPU time the process has used so far, user and kernel, in milliseconds: a run that waits
// must not spin.
long long ProcessCpuMilliseconds();

// The process's open descriptors as the host sees them (/proc/self/fd; under Wine through
// Z:\proc\self\fd, since GetProcessHandleCount answers 0 there); -1 when they cannot be counted.
int OpenDescriptorCount();

} // namespace qam::test
