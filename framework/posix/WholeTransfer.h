#pragma once

#include <cerrno>
#include <cstddef>

#include <unistd.h>

namespace fw::posix {

// Moves all size bytes with read(2) or write(2), again after a signal; false on an error or when
// the other end closes first.
template <typename Byte, typename Call> bool TransferWhole(Call call, int fd, Byte* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t moved = call(fd, bytes + done, size - done);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

inline bool ReadWhole(int fd, void* bytes, std::size_t size) {
    return TransferWhole(::read, fd, static_cast<char*>(bytes), size);
}

inline bool WriteWhole(int fd, const void* bytes, std::size_t size) {
    return TransferWhole(::write, fd, static_cast<const char*>(bytes), size);
}

} // namespace fw::posix
