#include "framework/win32/Windows.h"

#include "cli/Console.h"

#include <atomic>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>

namespace qam::cli::console {

namespace {

constexpr int DEFAULT_WIDTH = 80;

std::atomic<int> interrupts{0};
const char* interruptNotice = nullptr;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE; // a closed console or a log-off: not covered, the system ends the program
    }
    interrupts.fetch_add(1);
    if (interruptNotice != nullptr) {
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), interruptNotice,
                    static_cast<DWORD>(std::strlen(interruptNotice)), &written, nullptr);
    }
    return TRUE;
}

// A station's unit: Ctrl+C and Ctrl+Break reach every process of the console, whatever its process
// group; both are the station's business. A closed console is not: the system ends the unit.
BOOL WINAPI IgnoreControl(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

} // namespace

bool OutputIsTerminal() {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(output, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

int OutputWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return DEFAULT_WIDTH;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void CatchInterrupts(const char* notice) {
    interruptNotice = notice;
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

int InterruptCount() {
    return interrupts.load();
}

void IgnoreInterrupts() {
    ::SetConsoleCtrlHandler(IgnoreControl, TRUE);
}

void IgnoreBrokenPipe() {
    // Windows has no such signal: a write to a closed pipe fails with ERROR_NO_DATA.
}

void KeepAwake(bool awake) {
    ::SetThreadExecutionState(awake ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
}

bool ReadInput(std::span<std::uint8_t> destination) {
    _setmode(_fileno(stdin), _O_BINARY);
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    std::size_t done = 0;
    while (done < destination.size()) {
        DWORD got = 0;
        if (!::ReadFile(input, destination.data() + done, static_cast<DWORD>(destination.size() - done), &got,
                        nullptr) ||
            got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

bool InputEnded() {
    DWORD waiting = 0;
    if (::PeekNamedPipe(::GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &waiting, nullptr)) {
        return false;
    }
    return ::GetLastError() == ERROR_BROKEN_PIPE;
}

std::string ProgramPath() {
    std::vector<char> path(32768, '\0');
    const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::string(path.data(), length);
}

} // namespace qam::cli::console
