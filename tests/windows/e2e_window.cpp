// End to end: QamUpdate.exe under Wine, driven from outside as an operator would, through its
// windows only (find the window, read the control texts, post clicks), against the simulator on
// its COM port. scripts/e2e-window runs the phases in order: FirstStart, then SecondStart.
#include "framework/win32/Windows.h"

#include "common/Resource.h"
#include "tests/support/SimulatorControl.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

constexpr const char* kProgram = "ui\\QamUpdate.exe";
constexpr const char* kScreenshot = "e2e-window.bmp";
constexpr const char* kKey = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";
constexpr const char* kTitlePrefix = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V ";
// Hang guards only: each wait normally ends within a second or two.
constexpr auto kGuard = std::chrono::seconds(90);
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
    Program() {
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
    ~Program() {
        if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_process.get(), 1);
            ::WaitForSingleObject(m_process.get(), kExitGuardMs);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_process != nullptr; }
    DWORD Id() const { return m_id; }
    // The exit code once the program has ended, or STILL_ACTIVE.
    DWORD WaitForExit() const {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(m_process.get(), kExitGuardMs) == WAIT_OBJECT_0) {
            ::GetExitCodeProcess(m_process.get(), &code);
        }
        return code;
    }

private:
    Handle m_process;
    DWORD m_id = 0;
};

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

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == search->process && ClassName(window) == "#32770" && ::IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The program's main window once it is on the screen, or null.
HWND WaitForWindow(const Program& program) {
    const auto end = std::chrono::steady_clock::now() + kGuard;
    while (std::chrono::steady_clock::now() < end) {
        Search search{program.Id(), nullptr};
        ::EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

// Every distinct text the upper status line showed, polled until the search has ended.
std::vector<std::string> WatchSearch(HWND window) {
    std::vector<std::string> seen;
    const HWND upper = ::GetDlgItem(window, IDC_STATUS_UPPER);
    const auto end = std::chrono::steady_clock::now() + kGuard;
    while (std::chrono::steady_clock::now() < end) {
        const std::string text = Text(upper);
        if (seen.empty() || seen.back() != text) {
            seen.push_back(text);
        }
        if (text.rfind("Device on COM", 0) == 0 || text == "no Device found !") {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return seen;
}

// The title the program must show, from the FileVersion of its own VERSIONINFO.
std::string TitleFromVersionInfo() {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(kProgram, &handle);
    std::vector<char> block(size);
    void* text = nullptr;
    UINT length = 0;
    int major = -1;
    int minor = -1;
    int patch = -1;
    if (size == 0 || !::GetFileVersionInfoA(kProgram, handle, size, block.data()) ||
        !::VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &text, &length) ||
        std::sscanf(static_cast<const char*>(text), "%d,%d,%d", &major, &minor, &patch) != 3) {
        return "no version information";
    }
    std::array<char, 128> title{};
    std::snprintf(title.data(), title.size(), "%s%d.%d%d", kTitlePrefix, major, minor, patch);
    return title.data();
}

// The search does not serve messages, so the window paints only once it is back in its loop: a
// message sent to it returns from there; the repaint asked for then has run by the next one.
void WaitUntilPainted(HWND window) {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kExitGuardMs, &ignored);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kExitGuardMs, &ignored);
    }
}

// The window and a margin around it, as a 24-bit bottom-up BMP.
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

struct Value {
    DWORD type = REG_NONE;
    std::vector<char> data;
};

// Read back as the program's own calls read it (RegQueryValueExA), not through Wine's reg tool.
bool QueryValue(const char* name, Value& value) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return false;
    }
    const Key key(raw);
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    value.data.resize(size);
    return ::RegQueryValueExA(key.get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()),
                              &size) == ERROR_SUCCESS;
}

std::string Found(int port) {
    return "Device on COM " + std::to_string(port) + "\nDSP : NUV 1.16 A   PLD : PLD 2.03 B";
}

class E2eWindow : public ::testing::Test {
protected:
    void SetUp() override {
        qam::sim::Scenario scenario;
        scenario.identification.dsp = "NUV 1.16 A01";
        scenario.identification.pld = "PLD 2.03 B00";
        m_sim = qam::test::StartSimulator(scenario);
        // Without a window manager Wine draws the frames itself only when told to: the title
        // bar then shows in the screenshot.
        HKEY raw = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &raw, nullptr) == ERROR_SUCCESS) {
            const Key key(raw);
            ::RegSetValueExA(key.get(), "Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        }
    }

    // What the module saw, one line per unit ("> VDSP", "< NUV 1.16 A01").
    std::vector<std::string> Exchanges() const {
        std::vector<std::string> lines;
        for (const qam::sim::TraceEntry& entry : m_sim->Trace()) {
            lines.push_back(qam::sim::Describe(entry));
        }
        return lines;
    }
    static std::vector<std::string> IdentifiedTrace() {
        return {"> VDSP", "< NUV 1.16 A01", "> VPLD", "< PLD 2.03 B00", "> VTUN", "< STV0299B"};
    }

    void CloseWith(HWND window, const Program& program) {
        ::PostMessageA(::GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
        EXPECT_EQ(program.WaitForExit(), 0u);
    }

    std::unique_ptr<qam::test::SimulatorControl> m_sim;
};

TEST_F(E2eWindow, FirstStartFindsTheModuleShowsItAndSavesItsPort) {
    const LONG deleted = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);

    Program program;
    ASSERT_TRUE(program.Started()) << "cannot start " << kProgram;
    const HWND window = WaitForWindow(program);
    ASSERT_NE(window, nullptr);

    const std::string expectedTitle = TitleFromVersionInfo();
    EXPECT_EQ(Text(window), expectedTitle);
    EXPECT_EQ(expectedTitle, std::string(kTitlePrefix) + QAM_EXPECTED_TITLE_VERSION);

    const std::vector<std::string> seen = WatchSearch(window);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), Found(m_sim->Port()));
    EXPECT_EQ(Text(::GetDlgItem(window, IDC_STATUS_LOWER)), "ready");
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(window, IDC_SELECT_FILE)));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE)));
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(window, IDC_SEARCH_MODULE)));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window, IDC_DEFAULT_SETTINGS)));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window, IDC_KEEP_SETTINGS)));
    EXPECT_EQ(Text(::GetDlgItem(window, IDC_SELECT_FILE)), "&Select File ...");
    WaitUntilPainted(window);
    EXPECT_TRUE(SaveScreenshot(window, kScreenshot));

    CloseWith(window, program);
    EXPECT_EQ(Exchanges(), IdentifiedTrace());

    Value preferred;
    ASSERT_TRUE(QueryValue("PrefCOM", preferred));
    EXPECT_EQ(preferred.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(preferred.data.size(), 4u);
    DWORD port = 0;
    std::memcpy(&port, preferred.data.data(), sizeof port);
    EXPECT_EQ(port, static_cast<DWORD>(m_sim->Port()));
    Value directory;
    ASSERT_TRUE(QueryValue("LastNUVDir", directory));
    EXPECT_EQ(directory.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(directory.data.data(), ::strnlen(directory.data.data(), directory.data.size())), "");
}

TEST_F(E2eWindow, SecondStartBeginsItsSearchAtTheSavedPort) {
    // Port 1 answers nothing now (scripts/e2e-window maps it): a search from port 1 would show it
    // for the whole of its time-out.
    Program program;
    ASSERT_TRUE(program.Started());
    const HWND window = WaitForWindow(program);
    ASSERT_NE(window, nullptr);
    const std::vector<std::string> seen = WatchSearch(window);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), Found(m_sim->Port())) << ::testing::PrintToString(seen);
    for (const std::string& text : seen) {
        EXPECT_EQ(text.find("searching Device on COM 1..."), std::string::npos) << text;
    }
    CloseWith(window, program);
    EXPECT_EQ(Exchanges(), IdentifiedTrace());
}

} // namespace
