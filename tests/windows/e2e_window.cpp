// End to end: QamUpdate.exe under Wine, driven from outside as an operator would, through its
// windows only (find the window, read the control texts, post clicks), against the simulator on
// its COM port. scripts/e2e-window runs the phases in order: FirstStart, then SecondStart.
#include "framework/win32/Windows.h"

#include "common/Resource.h"
#include "tests/support/SimulatorControl.h"
#include "tests/windows/E2eOperator.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qam::e2e;

constexpr const char* kScreenshot = "e2e-window.bmp";
constexpr const char* kTitlePrefix = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V ";

// Every distinct text the upper status line showed, polled until the search has ended: its last
// text comes before the tuner query and the enabling of the buttons, so the watch ends only once
// the window serves messages again.
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
    EXPECT_TRUE(WaitUntilServing(window));
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

// After the search the window paints once it is back in its loop; the repaint asked for here has
// run by the next message it serves.
void WaitUntilPainted(HWND window) {
    WaitUntilServing(window);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        WaitUntilServing(window);
    }
}

struct Value {
    DWORD type = REG_NONE;
    std::vector<char> data;
};

// Read back as the program's own calls read it (RegQueryValueExA), not through Wine's reg tool.
bool QueryValue(const char* name, Value& value) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
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
    const LONG deleted = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegistryKey);
    ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);

    Program program;
    ASSERT_TRUE(program.Started()) << "cannot start " << kProgram;
    const HWND window = WaitForDialog(program);
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
    const HWND window = WaitForDialog(program);
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
