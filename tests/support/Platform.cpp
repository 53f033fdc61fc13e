#ifdef _WIN32
#include "framework/win32/Windows.h"
#endif

#include "tests/support/Platform.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace qam::test {

TempDir::TempDir() {
    std::random_device seed;
    m_path = std::filesystem::temp_directory_path() /
             ("qam-test-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::filesystem::path path = m_path / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

#ifdef _WIN32

constexpr const char* kDescriptors = "Z:\\proc\\self\\fd"; // the host's, as Wine shows them

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

long long ProcessCpuMilliseconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<long long>((ticks(kernel) + ticks(user)) / 10000);
}

#else

constexpr const char* kDescriptors = "/proc/self/fd";

bool RunningUnderWine() {
    return false;
}

long long ProcessCpuMilliseconds() {
    return static_cast<long long>(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

#endif

int OpenDescriptorCount() {
    std::error_code error;
    const std::filesystem::directory_iterator descriptors(kDescriptors, error);
    return error ? -1 : static_cast<int>(std::distance(descriptors, {}));
}

} // namespace qam::test
