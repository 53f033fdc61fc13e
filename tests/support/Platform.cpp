#ifdef _WIN32
#include "framework/win32/Windows.h"
#else
#include <sys/resource.h>
#endif

#include "tests/support/Platform.h"

#include <cstring>
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

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

long long ProcessCpuMilliseconds() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<long long>((ticks(kernel) + ticks(user)) / 10000);
}

int OpenDescriptorCount() {
    WIN32_FIND_DATAA entry;
    const HANDLE find = ::FindFirstFileA("Z:\\proc\\self\\fd\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    do {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0) {
            ++count;
        }
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return count;
}

#else

bool RunningUnderWine() {
    return false;
}

long long ProcessCpuMilliseconds() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;
    }
    const auto ms = [](const timeval& t) {
        return static_cast<long long>(t.tv_sec) * 1000 + t.tv_usec / 1000;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

int OpenDescriptorCount() {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

#endif

} // namespace qam::test
