#include "tools/module-sim/PseudoTerminal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>

namespace qam::sim {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    m_master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!m_master.IsOpen()) {
        ThrowErrno("posix_openpt");
    }
    if (::grantpt(m_master.Get()) != 0 || ::unlockpt(m_master.Get()) != 0) {
        ThrowErrno("unlockpt");
    }
    char name[PATH_MAX] = {};
    if (::ptsname_r(m_master.Get(), name, sizeof name) != 0) {
        ThrowErrno("ptsname_r");
    }
    m_path = name;
    const int flags = ::fcntl(m_master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(m_master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        ThrowErrno("fcntl O_NONBLOCK");
    }
    m_slave.Reset(::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!m_slave.IsOpen()) {
        ThrowErrno("open " + m_path);
    }
    termios settings{};
    if (::tcgetattr(m_slave.Get(), &settings) != 0) {
        ThrowErrno("tcgetattr");
    }
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B115200);
    ::cfsetospeed(&settings, B115200);
    if (::tcsetattr(m_slave.Get(), TCSANOW, &settings) != 0) {
        ThrowErrno("tcsetattr");
    }
}

int PseudoTerminal::UnreadByClient() const {
    // The terminal side's input queue is shared by every descriptor on it, ours included.
    int count = 0;
    return m_slave.IsOpen() && ::ioctl(m_slave.Get(), FIONREAD, &count) == 0 ? count : 0;
}

void PseudoTerminal::Close() {
    m_master.Reset();
    m_slave.Reset();
}

std::string MakePortLink(const std::string& directory, int port, const std::string& target) {
    const std::string link = directory + "/com" + std::to_string(port);
    struct stat existing {};
    if (::lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            throw std::system_error(EEXIST, std::generic_category(), link + " exists and is no symlink");
        }
        if (::unlink(link.c_str()) != 0) {
            ThrowErrno("unlink " + link);
        }
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        ThrowErrno("symlink " + link);
    }
    return link;
}

} // namespace qam::sim
