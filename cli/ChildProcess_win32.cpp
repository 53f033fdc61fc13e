#include "framework/win32/Windows.h"

#include "cli/ChildProcess.h"

namespace qam::cli {

namespace {

// One argument as the C runtime splits a command line: in quotes, a quote escaped by a
// backslash, backslashes doubled where a quote follows them.
std::string Quoted(const std::string& argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

void Close(HANDLE& handle) {
    if (handle != nullptr) {
        ::CloseHandle(handle);
        handle = nullptr;
    }
}

} // namespace

class CChildProcess::Impl {
public:
    ~Impl() {
        Close(m_input);
        Close(m_output);
        Wait();
        Close(m_process);
    }

    int Wait() {
        if (m_process == nullptr || m_ended) {
            return m_status;
        }
        ::WaitForSingleObject(m_process, INFINITE);
        DWORD code = 0;
        m_status = ::GetExitCodeProcess(m_process, &code) ? static_cast<int>(code) : -1;
        m_ended = true;
        return m_status;
    }

    HANDLE m_process = nullptr;
    HANDLE m_input = nullptr;
    HANDLE m_output = nullptr;
    bool m_ended = false;
    int m_status = -1;
};

CChildProcess::CChildProcess() : m_impl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess() = default;

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    if (!::CreatePipe(&childInput, &m_impl->m_input, &inheritable, 0)) {
        return false;
    }
    if (!::CreatePipe(&m_impl->m_output, &childOutput, &inheritable, 0)) {
        Close(childInput);
        return false;
    }
    // Our ends stay here; the units are started one after the other, each closing its ends at once.
    ::SetHandleInformation(m_impl->m_input, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(m_impl->m_output, HANDLE_FLAG_INHERIT, 0);
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetHandleInformation(error, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    std::string commandLine = Quoted(program);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += Quoted(argument);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process);
    Close(childInput);
    Close(childOutput);
    if (!started) {
        return false;
    }
    ::CloseHandle(process.hThread);
    m_impl->m_process = process.hProcess;
    return true;
}

bool CChildProcess::WriteInput(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        if (!::WriteFile(m_impl->m_input, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &put,
                         nullptr) ||
            put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

void CChildProcess::CloseInput() {
    Close(m_impl->m_input);
}

std::size_t CChildProcess::ReadOutput(std::span<char> buffer) {
    DWORD got = 0;
    if (!::ReadFile(m_impl->m_output, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        return 0;
    }
    return got;
}

int CChildProcess::Wait() {
    return m_impl->Wait();
}

} // namespace qam::cli
