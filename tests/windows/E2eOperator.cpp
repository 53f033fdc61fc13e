#include "tests/windows/E2eOperator.h"

#include <array>
#include <fstream>
#include <thread>
#include <vector>

namespace qam::e2e {

Program::Program() {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = kProgram;
    if (::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &info)) {
        m_process.reset(info.hProcess);
        ::CloseHandle(info.hThread);
        m_id = info.dwProcessId;
    }
}

Program::~Program() {
    if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_process.get(), 1);
        ::WaitForSingleObject(m_process.get(), kExitGuardMs);
    }
}

DWORD Program::WaitForExit() const {
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(m_process.get(), kExitGuardMs) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(m_process.get(), &code);
    }
    return code;
}

std::string Text(HWND window) {
    std::array<char, 512> text{};
    const int length = ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    return std::string(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string ClassName(HWND window) {
    std::array<char, 64> name{};
    const int length = ::GetClassNameA(window, name.data(), static_cast<int>(name.size()));
    return std::string(name.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + kGuard;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

namespace {

struct DialogSearch {
    DWORD process;
    std::string caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == search->process && ClassName(window) == "#32770" && ::IsWindowVisible(window) &&
        (search->caption.empty() || Text(window) == search->caption)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindDialog(const Program& program, const std::string& caption) {
    DialogSearch search{program.Id(), caption, nullptr};
    ::EnumWindows(&MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(const Program& program, const std::string& caption) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(program, caption)) != nullptr; });
    return found;
}

bool WaitUntilServing(HWND window) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kExitGuardMs, &ignored) != 0;
}

bool SaveScreenshot(HWND window, const char* path) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    const int margin = 8;
    const int width = rect.right - rect.left + 2 * margin;
    const int height = rect.bottom - rect.top + 2 * margin;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left - margin, rect.top - margin, SRCCOPY);
    ::SelectObject(memory, previous);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    std::vector<char> pixels(stride * static_cast<std::size_t>(height));
    const int rows = ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (rows != height) {
        return false;
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

} // namespace qam::e2e
