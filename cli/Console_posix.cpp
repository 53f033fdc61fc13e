#include "cli/Console.h"

#include "framework/posix/WholeTransfer.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qam::cli::console {

namespace {

constexpr int DEFAULT_WIDTH = 80;

std::atomic<int> interrupts{0};
const char* interruptNotice = nullptr;

void OnInterrupt(int) {
    interrupts.fetch_add(1);
    if (interruptNotice != nullptr) {
        const ssize_t written = ::write(STDERR_FILENO, interruptNotice, std::strlen(interruptNotice));
        static_cast<void>(written);
    }
}

} // namespace

bool OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int OutputWidth() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : DEFAULT_WIDTH;
}

void CatchInterrupts(const char* notice) {
    interruptNotice = notice;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

int InterruptCount() {
    return interrupts.load();
}

void IgnoreInterrupts() {
    std::signal(SIGINT, SIG_IGN);
}

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

void KeepAwake(bool) {
    // Linux has no call of a program's own for it; a desktop's inhibitor is the session's business.
}

bool ReadInput(std::span<std::uint8_t> destination) {
    return fw::posix::ReadWhole(STDIN_FILENO, destination.data(), destination.size());
}

bool InputEnded() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 0) <= 0) {
        return false;
    }
    // Nothing but the end is ever sent after the image; a byte that comes anyway is taken and ignored.
    char byte = 0;
    return (input.revents & (POLLIN | POLLHUP)) != 0 && ::read(STDIN_FILENO, &byte, 1) <= 0;
}

std::string ProgramPath() {
    std::vector<char> path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length)) : std::string();
}

} // namespace qam::cli::console
