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

// True when the test program runs under Wine (its ntdll exports wine_get_version).
bool RunningUnderWine();
// The CPU time, user and kernel, the process has used so far, in milliseconds.
long long ProcessCpuMilliseconds();
// The open descriptors as the host sees them (GetProcessHandleCount answers 0 under Wine); -1: unknown.
int OpenDescriptorCount();

} // namespace qam::test
