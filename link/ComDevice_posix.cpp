#include "framework/posix/ConfigDirectory.h"
#include "link/Port.h"
#include "link/PortList.h"
#include "link/PortsDirectory.h"
#include "link/PosixLineSettings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qam::link {

namespace {

using Clock = std::chrono::steady_clock;

// The user may link com<n> to a serial device here; without a configuration directory there is none.
std::string& PortsDirectoryValue() {
    static std::string directory = [] {
        const auto config = fw::posix::ConfigDirectory();
        return config ? *config + "/ports" : std::string();
    }();
    return directory;
}

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // The result of close(2): 0 on success.
    int Reset() {
        if (m_fd < 0) {
            return 0;
        }
        return ::close(std::exchange(m_fd, -1));
    }

private:
    int m_fd = -1;
};

// A time-out value as Windows takes it: an unsigned 32-bit count of milliseconds.
std::int64_t Unsigned(int value) {
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(value));
}

constexpr std::int64_t kMaxDword = 0xFFFFFFFF;

// poll(2) wants whole milliseconds; rounding up means a wait never ends before its deadline and
// so never turns into a busy loop around it.
int PollMilliseconds(Clock::duration left) {
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<std::int64_t>(ms, 1 << 30));
}

enum class Transfer { Moved, WouldBlock, Lost };

struct Step {
    Transfer what;
    int count;
};

Step ReadSome(int fd, std::uint8_t* buffer, int count) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, static_cast<std::size_t>(count));
        if (got > 0) {
            return {Transfer::Moved, static_cast<int>(got)};
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return {Transfer::WouldBlock, 0};
        }
        return {Transfer::Lost, 0}; // end of file (hung up), EIO, or the descriptor is gone
    }
}

Step WriteSome(int fd, const std::uint8_t* buffer, int count) {
    for (;;) {
        const ssize_t put = ::write(fd, buffer, static_cast<std::size_t>(count));
        if (put > 0) {
            return {Transfer::Moved, static_cast<int>(put)};
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put == 0 || (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
            return {Transfer::WouldBlock, 0};
        }
        return {Transfer::Lost, 0};
    }
}

// What poll(2) says of the line: readable/writable, hung up or failed, or nothing within the wait.
struct Readiness {
    bool ready = false;
    bool lost = false;
};

Readiness Wait(int fd, short events, int milliseconds) {
    pollfd entry{fd, events, 0};
    const int n = ::poll(&entry, 1, milliseconds);
    if (n < 0) {
        return {false, errno != EINTR && errno != EAGAIN};
    }
    return {(entry.revents & events) != 0, (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0};
}

class PosixPort final : public CComDevice::Port {
public:
    bool IsOpen() const override { return m_fd.Valid(); }

    bool Open(int port, int baudRate, int parity, int xonXoff) override {
        Close();
        speed_t speed{};
        if (!posix::BaudRateSpeed(baudRate, speed)) {
            return false;
        }
        const std::string path = ComDevicePath(port);
        if (path.empty()) {
            return false;
        }
        FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.Valid() || !::isatty(fd.Get())) {
            return false;
        }
        // flock holds between programs even for root, whom TIOCEXCL does not keep out.
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd.Get(), TIOCEXCL) != 0) {
            return false;
        }
        termios current{};
        if (::tcgetattr(fd.Get(), &current) != 0) {
            ::ioctl(fd.Get(), TIOCNXCL);
            return false;
        }
        const termios wanted = posix::LineSettings(current, speed, parity, xonXoff);
        if (!ApplyLineSettings(fd.Get(), wanted) || !DropModemLines(fd.Get())) {
            ::ioctl(fd.Get(), TIOCNXCL);
            return false;
        }
        // The driver's queue sizes have no POSIX counterpart, and nothing waits on port events.
        m_fd = std::move(fd);
        return true;
    }

    bool SetTimeouts(const Timeouts& timeouts) override {
        if (!IsOpen()) {
            return false;
        }
        m_timeouts = timeouts;
        return true;
    }

    bool Purge() override { return IsOpen() && ::tcflush(m_fd.Get(), TCIOFLUSH) == 0; }

    IoResult Read(void* buffer, int count) override {
        if (!IsOpen() || buffer == nullptr || count <= 0) {
            return {};
        }
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        const std::int64_t interval = Unsigned(m_timeouts.readInterval);
        const std::int64_t multiplier = Unsigned(m_timeouts.readMultiplier);
        const std::int64_t constant = Unsigned(m_timeouts.readConstant);

        const Clock::time_point start = Clock::now();
        Step first = ReadSome(m_fd.Get(), bytes, count);
        if (first.what == Transfer::WouldBlock && Wait(m_fd.Get(), POLLIN, 0).lost) {
            first.what = Transfer::Lost;
        }
        if (first.what == Transfer::Lost) {
            return {0, true}; // as an unplugged adapter refuses the request
        }
        int done = first.count;

        // Windows' two special settings: return what is there at once, or wait only for the first byte.
        const bool immediate = interval == kMaxDword && multiplier == 0 && constant == 0;
        const bool firstByteOnly =
            interval == kMaxDword && multiplier == kMaxDword && constant > 0 && constant < kMaxDword;
        if (immediate || (firstByteOnly && done > 0)) {
            return {done, false};
        }

        std::optional<Clock::time_point> deadline;
        if (firstByteOnly) {
            deadline = start + std::chrono::milliseconds(constant);
        } else if (multiplier != 0 || constant != 0) {
            deadline = start + std::chrono::milliseconds(multiplier * count + constant);
        }
        const bool useInterval = interval != 0 && !firstByteOnly;
        Clock::time_point lastByte = Clock::now();

        while (done < count) {
            const Clock::time_point now = Clock::now();
            std::optional<Clock::time_point> until = deadline;
            if (useInterval && done > 0) {
                const Clock::time_point gapEnd = lastByte + std::chrono::milliseconds(interval);
                until = until ? std::min(*until, gapEnd) : gapEnd;
            }
            if (until && now >= *until) {
                break;
            }
            const Readiness readiness = Wait(m_fd.Get(), POLLIN, until ? PollMilliseconds(*until - now) : -1);
            if (readiness.ready || readiness.lost) {
                const Step step = ReadSome(m_fd.Get(), bytes + done, count - done);
                if (step.what == Transfer::Moved) {
                    done += step.count;
                    lastByte = Clock::now();
                    if (firstByteOnly) {
                        break;
                    }
                    continue;
                }
                if (step.what == Transfer::Lost || readiness.lost) {
                    break; // the line went away while we waited: end with what came
                }
            }
        }
        return {done, false};
    }

    IoResult Write(const void* buffer, int count) override {
        if (!IsOpen() || buffer == nullptr || count <= 0) {
            return {};
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        const std::int64_t multiplier = Unsigned(m_timeouts.writeMultiplier);
        const std::int64_t constant = Unsigned(m_timeouts.writeConstant);
        const Clock::time_point start = Clock::now();

        Step first = WriteSome(m_fd.Get(), bytes, count);
        if (first.what == Transfer::WouldBlock && Wait(m_fd.Get(), POLLOUT, 0).lost) {
            first.what = Transfer::Lost;
        }
        if (first.what == Transfer::Lost) {
            return {0, true};
        }
        int done = first.count;

        std::optional<Clock::time_point> deadline;
        if (multiplier != 0 || constant != 0) {
            deadline = start + std::chrono::milliseconds(multiplier * count + constant);
        }
        while (done < count) {
            const Clock::time_point now = Clock::now();
            if (deadline && now >= *deadline) {
                break;
            }
            const Readiness readiness =
                Wait(m_fd.Get(), POLLOUT, deadline ? PollMilliseconds(*deadline - now) : -1);
            if (readiness.lost) {
                break;
            }
            if (readiness.ready) {
                const Step step = WriteSome(m_fd.Get(), bytes + done, count - done);
                if (step.what == Transfer::Lost) {
                    break;
                }
                done += step.count;
            }
        }
        return {done, false};
    }

    int Close() override {
        if (!IsOpen()) {
            return 0;
        }
        ::ioctl(m_fd.Get(), TIOCNXCL);
        ::flock(m_fd.Get(), LOCK_UN);
        return m_fd.Reset() == 0 ? 1 : 0;
    }

private:
    static bool ApplyLineSettings(int fd, const termios& wanted) {
        if (::tcsetattr(fd, TCSANOW, &wanted) == 0) {
            return true;
        }
        if (errno != EINVAL) {
            return false;
        }
        // glibc reports EINVAL when the driver changed the character size or parity after applying
        // everything; a pseudo-terminal always does (it has no line to frame). The rest must hold.
        termios applied{};
        if (::tcgetattr(fd, &applied) != 0) {
            return false;
        }
        constexpr tcflag_t kDriverFramed = CSIZE | PARENB;
        return applied.c_iflag == wanted.c_iflag && applied.c_oflag == wanted.c_oflag &&
               applied.c_lflag == wanted.c_lflag &&
               (applied.c_cflag & ~kDriverFramed) == (wanted.c_cflag & ~kDriverFramed) &&
               cfgetospeed(&applied) == cfgetospeed(&wanted);
    }

    // DTR and RTS low, as the module's line has no modem control. A pseudo-terminal has no modem
    // lines at all, which is fine.
    static bool DropModemLines(int fd) {
        int lines = TIOCM_DTR | TIOCM_RTS;
        if (::ioctl(fd, TIOCMBIC, &lines) == 0) {
            return true;
        }
        return errno == ENOTTY || errno == EINVAL;
    }

    FileDescriptor m_fd;
    Timeouts m_timeouts{100, 50, 5000, 50, 500};
};

} // namespace

void SetPortsDirectory(std::string directory) {
    PortsDirectoryValue() = std::move(directory);
}

const std::string& PortsDirectory() {
    return PortsDirectoryValue();
}

std::unique_ptr<CComDevice::Port> CreatePlatformPort() {
    return std::make_unique<PosixPort>();
}

namespace posix {

bool BaudRateSpeed(int baudRate, speed_t& speed) {
    struct Rate {
        int baud;
        speed_t speed;
    };
    static constexpr Rate kRates[] = {
        {50, B50},           {75, B75},         {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000},
    };
    for (const Rate& rate : kRates) {
        if (rate.baud == baudRate) {
            speed = rate.speed;
            return true;
        }
    }
    return false;
}

termios LineSettings(const termios& current, speed_t speed, int parity, int xonXoff) {
    termios t = current;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | HUPCL | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    // As the Windows line record has it: any non-zero flag sends even parity, 1 also checks it.
    if (parity != 0) {
        t.c_cflag |= PARENB;
    }
    if (parity == 1) {
        t.c_iflag |= INPCK;
    }
    if (xonXoff != 0) {
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
    }
    t.c_cc[VMIN] = 1; // with 0, an empty non-blocking read answers 0 as at end of file
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return t;
}

} // namespace posix

} // namespace qam::link
