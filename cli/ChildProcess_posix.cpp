#include "cli/ChildProcess.h"

#include "framework/posix/WholeTransfer.h"

#include <cerrno>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qam::cli {

class CChildProcess::Impl {
public:
    ~Impl() {
        CloseInput();
        Close(m_output);
        Wait();
    }

    static void Close(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    void CloseInput() { Close(m_input); }

    int Wait() {
        if (m_pid <= 0) {
            return m_status;
        }
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = 0;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_status;
    }

    pid_t m_pid = 0;
    int m_input = -1;
    int m_output = -1;
    int m_status = -1;
};

CChildProcess::CChildProcess() : m_impl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess() = default;

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    // Close-on-exec everywhere, so that no unit inherits another's pipe and keeps it from ending.
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int started = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(output[1]);
    if (started != 0) {
        ::close(input[1]);
        ::close(output[0]);
        return false;
    }
    m_impl->m_pid = pid;
    m_impl->m_input = input[1];
    m_impl->m_output = output[0];
    return true;
}

bool CChildProcess::WriteInput(std::span<const std::uint8_t> bytes) {
    return fw::posix::WriteWhole(m_impl->m_input, bytes.data(), bytes.size());
}

void CChildProcess::CloseInput() {
    m_impl->CloseInput();
}

std::size_t CChildProcess::ReadOutput(std::span<char> buffer) {
    for (;;) {
        const ssize_t got = ::read(m_impl->m_output, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
}

int CChildProcess::Wait() {
    return m_impl->Wait();
}

} // namespace qam::cli
