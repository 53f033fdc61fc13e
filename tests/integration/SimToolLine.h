#pragma once

#include "tools/module-sim/Scenario.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

// The tool's side of a simulator line as the simulator's own tests see it: the terminal opened
// raw, bytes written and read with generous hang guards; and a temporary directory for links.
namespace qam::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: only there so that a broken simulator fails the test instead of hanging it.
constexpr auto kHangGuard = 10s;

class SimToolLine {
public:
    explicit SimToolLine(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (m_fd >= 0) {
            termios settings{};
            ::tcgetattr(m_fd, &settings);
            ::cfmakeraw(&settings);
            ::tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~SimToolLine() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    SimToolLine(const SimToolLine&) = delete;
    SimToolLine& operator=(const SimToolLine&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    // True when every byte went out before the guard ran out.
    bool Write(const sim::Bytes& bytes) {
        std::size_t done = 0;
        const Clock::time_point end = Clock::now() + kHangGuard;
        while (done < bytes.size() && Clock::now() < end) {
            const ssize_t written = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (written > 0) {
                done += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            pollfd out{m_fd, POLLOUT, 0};
            ::poll(&out, 1, 100);
        }
        return done == bytes.size();
    }
    bool Write(std::string_view text) { return Write(sim::ToBytes(text)); }

    // Reads until `count` bytes came, the line was lost, or nothing came for `quiet`.
    sim::Bytes Read(std::size_t count, std::chrono::milliseconds quiet = 2000ms) {
        sim::Bytes out;
        const Clock::time_point end = Clock::now() + kHangGuard;
        while (out.size() < count && Clock::now() < end) {
            pollfd in{m_fd, POLLIN, 0};
            const int ready = ::poll(&in, 1, static_cast<int>(quiet.count()));
            if (ready <= 0) {
                break;
            }
            std::uint8_t buffer[4096];
            const ssize_t got = ::read(m_fd, buffer, std::min(sizeof buffer, count - out.size()));
            if (got <= 0) {
                if (got < 0 && errno == EAGAIN) {
                    continue;
                }
                break;
            }
            out.insert(out.end(), buffer, buffer + got);
        }
        return out;
    }

    sim::Bytes Exchange(std::string_view command, std::size_t replyLength,
                        std::chrono::milliseconds quiet = 2000ms) {
        EXPECT_TRUE(Write(command)) << command;
        return Read(replyLength, quiet);
    }

private:
    int m_fd;
};

// A directory under /tmp, removed with everything left in it (links and plain files only).
class SimTempDir {
public:
    SimTempDir() {
        std::string pattern = "/tmp/qam-simtest-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~SimTempDir() {
        if (m_path.empty()) {
            return;
        }
        if (DIR* dir = ::opendir(m_path.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    ::unlink((m_path + "/" + name).c_str());
                }
            }
            ::closedir(dir);
        }
        ::rmdir(m_path.c_str());
    }
    SimTempDir(const SimTempDir&) = delete;
    SimTempDir& operator=(const SimTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string ReadLink(const std::string& link) {
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length < 0 ? std::string() : std::string(target, static_cast<std::size_t>(length));
}

inline bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0 || !ReadLink(path).empty();
}

inline sim::Bytes LengthWordBytes(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

inline std::vector<std::string> SimTraceLines(const std::vector<sim::TraceEntry>& trace) {
    std::vector<std::string> lines;
    for (const sim::TraceEntry& entry : trace) {
        lines.push_back(std::to_string(entry.exchange) + " " + sim::Describe(entry));
    }
    return lines;
}

} // namespace qam::test
