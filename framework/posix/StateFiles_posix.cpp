#include "framework/StateFiles.h"

#include "framework/posix/WholeTransfer.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace fw {

namespace {

constexpr const char* TEMPORARY_SUFFIX = ".tmp";

} // namespace

bool WriteFileWhole(const std::string& path, std::string_view content) {
    const std::string temporary = path + TEMPORARY_SUFFIX;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const bool written = posix::WriteWhole(fd, content.data(), content.size()) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace fw
