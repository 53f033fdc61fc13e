#pragma once

// What the end-to-end harnesses share: QamUpdate.exe started and ended by its handle, its windows
// found and read from outside as an operator sees them, waits with a hang guard, screenshots.
#include "framework/win32/Windows.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace qam::e2e {

constexpr const char* kProgram = "ui\\QamUpdate.exe";
constexpr const char* kRegistryKey = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";
// Hang guards only: each wait normally ends within a second or two.
constexpr auto kGuard = std::chrono::seconds(120);
constexpr DWORD kExitGuardMs = 90000;

struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The program under test, ended by its handle if a test leaves it running.
class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_process != nullptr; }
    DWORD Id() const { return m_id; }
    // The exit code once the program has ended, or STILL_ACTIVE.
    DWORD WaitForExit() const;

private:
    Handle m_process;
    DWORD m_id = 0;
};

std::string Text(HWND window);
std::string ClassName(HWND window);

// Polls until the condition holds or the guard runs out; true when it held.
bool WaitFor(const std::function<bool()>& condition);

// A visible dialog window of the program with this caption (empty: any), or null.
HWND FindDialog(const Program& program, const std::string& caption = {});
// The same once it is on the screen; null when the guard ran out first.
HWND WaitForDialog(const Program& program, const std::string& caption = {});

// Returns once the window's thread takes messages again: a command that does not serve the queue
// (the search) has ended by then. False when the guard ran out first.
bool WaitUntilServing(HWND window);

// The window and a margin around it as the screen shows it, as a 24-bit bottom-up BMP.
bool SaveScreenshot(HWND window, const char* path);

} // namespace qam::e2e
