#pragma once

// What the suites share: faults, traces as readable lines, a temporary directory, small update
// files, the window's stored values as the platform keeps them, and the main window on the test
// desktop against the simulator.

#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/TestTimeouts.h"
#include "tools/module-sim/Scenario.h"
#include "update/UpdateFileWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CUpdaterDialog;

namespace qam::test {

// A fault on the occurrence-th command that begins with `command`, or on exchange n.
sim::Fault FaultOn(sim::FaultKind kind, const std::string& command, int occurrence = 1);
sim::Fault FaultAt(sim::FaultKind kind, int exchange);

// What the tool sent, from entry `from` on: one line a unit, printable bytes as they are, others as
// \\xHH; a unit longer than 8 bytes (section data) as "[N bytes]".
std::vector<std::string> SentLines(const std::vector<sim::TraceEntry>& trace, std::size_t from = 0);
// The first unit of every exchange the module received, from entry `from` on.
std::vector<std::string> Commands(const std::vector<sim::TraceEntry>& trace, std::size_t from = 0);

// A section's data as it is to be sent: byte i is i * 7 + seed.
update::Bytes SectionData(std::size_t length, std::uint8_t seed);
// FPGA, application code and data sections of these lengths, stored as they are sent.
update::UpdateFileParts ThreeSections(std::size_t fpga = 20, std::size_t code = 24, std::size_t data = 16);

// The window's stored values as the platform keeps them: the registry key, or on Linux the
// settings file (XDG_CONFIG_HOME points into a directory of the test program's own).
void ForgetSettings();
void StoreSetting(const char* name, const std::string& text);
void StoreSetting(const char* name, std::uint32_t number);
std::optional<std::string> StoredSetting(const char* name); // a number as its decimal text

// The main window on the test desktop, against the simulator.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static TestDesktop& Desk() { return TestDesktop::Instance(); }
    // The module, and stored values that make the start-up search find it at once.
    void StartModule(const sim::Scenario& scenario);
    // Runs the window: each step when the window has nothing else to do, then Close.
    static void Run(CUpdaterDialog& dialog, std::vector<std::function<void()>> steps);
    static HWND Item(const CWnd& dialog, int id) { return dialog.GetDlgItem(id).m_hWnd; }
    static headless::Window& Control(const CWnd& dialog, int id);
    static std::vector<std::string> Lower() { return Desk().Texts(IDC_STATUS_LOWER); }
    // Operator steps: choose a file in the open-file dialog; press a button.
    static void Choose(const CWnd& dialog, const std::string& path);
    static void Press(const CWnd& dialog, int id) { Desk().Click(Item(dialog, id)); }
    // The hidden default Settings button's command, as the window sends it.
    static void PostDefaults(const CWnd& dialog);
    // The end of every command: window enabled, wait cursor gone, computer allowed to sleep.
    static void ExpectFinished(const CWnd& dialog);

    std::unique_ptr<SimulatorControl> m_sim;
    TempDir m_dir;
};

} // namespace qam::test
