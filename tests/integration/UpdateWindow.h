#pragma once

// What the suites of the window's update, file selection and factory-defaults commands share: the
// main window on the headless desktop against the simulator, found by its start-up search, the
// clock of the reset wait driven by the test, update files written with the writer, and readable
// forms of what the window showed.

#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "framework/headless/Host.h"
#include "tests/integration/LinkFixture.h"
#include "tests/integration/SimTrace.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"
#include "tests/unit/WindowHarness.h"
#include "update/UpdateFileWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qam::test {

inline headless::Box WindowBox(const CWnd& dialog, const std::string& text, const std::string& caption, UINT type,
                               int answer) {
    return headless::Box{dialog.m_hWnd, text, caption, type, answer};
}
inline headless::Box ReportBox(const CWnd& dialog, const std::string& text) {
    return WindowBox(dialog, text, "ERROR", MB_ICONERROR | MB_OK, IDOK);
}
inline headless::Box ExchangeBox(const std::string& text) {
    return headless::Box{nullptr, text, "Execute Command", MB_OK | MB_ICONERROR, IDOK};
}

inline sim::Fault FaultOn(sim::FaultKind kind, const std::string& command, int occurrence = 1) {
    sim::Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.occurrence = occurrence;
    return fault;
}

// A body that shows a shift or a mix-up of sections: byte i is (i * 7 + seed) modulo 256.
inline update::Bytes SectionData(std::size_t length, std::uint8_t seed) {
    update::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    return bytes;
}

// Three sections, each scrambled: what a real update file holds.
inline update::UpdateFileParts ThreeSections(std::size_t fpga = 600, std::size_t code = 900, std::size_t data = 300) {
    update::UpdateFileParts parts;
    parts.date = {0x20, 0x26, 0x12, 0x06, 0x22, 0x15, 0x00, 0x01};
    parts.bitFileName = "fpga.bit";
    parts.dumpFileName = "app.dmp";
    parts.fpga = update::SectionInput{SectionData(fpga, 1), true, std::nullopt};
    parts.appCode = update::SectionInput{SectionData(code, 2), true, std::nullopt};
    parts.appData = update::SectionInput{SectionData(data, 3), true, std::nullopt};
    return parts;
}

// Data offsets 4 to L - 1: what a section sends and its flash area holds.
inline sim::Bytes SentPart(const update::Bytes& data) {
    return sim::Bytes(data.begin() + 4, data.end());
}

class UpdateWindowTest : public WindowTest {
protected:
    // Each second of the reset wait takes this much real time, so that the simulator's restart
    // (kRestartMs) is over when the window searches again.
    static constexpr std::chrono::milliseconds kSecondTakes{25};
    static constexpr int kRestartMs = 100;
    static constexpr std::int64_t kClockStart = 1'000'000;

    void SetUp() override {
        WindowTest::SetUp();
        headless::Host::Instance().Reset();
        // The clock moves a second when the window waits for it, and one every thousand readings:
        // a wait that polled instead of sleeping would still end, after thousands of readings.
        m_seconds = kClockStart;
        m_readings = 0;
        Desktop().SetClock([this] {
            if (++m_readings % 1000 == 0) {
                ++m_seconds;
            }
            return m_seconds;
        });
        LetEachWaitedSecondPass();
        std::random_device seed;
        m_dir = std::filesystem::temp_directory_path() /
                ("qam-update-window-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        m_sim.reset();
        headless::Host::Instance().Reset();
        ScaleTimeoutConstants(1, 1);
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        WindowTest::TearDown();
    }

public:
    static sim::Scenario Module() {
        sim::Scenario scenario;
        scenario.restartMs = kRestartMs;
        scenario.channels[0].settings = Pattern(40);
        scenario.channels[0].bls = sim::Bytes{0xB0, 0x01, 0x02};
        scenario.channels[0].filter = sim::Bytes(1024, 0);
        scenario.channels[0].filter[0] = 0x05;
        scenario.channels[0].filter[1023] = 0x80;
        scenario.channels[1].settings = Pattern(24);
        scenario.channels[1].bls = sim::Bytes{0xB1};
        scenario.channels[1].filter = sim::Bytes(1024, 0);
        scenario.channels[1].filter[7] = 0x10;
        return scenario;
    }

protected:
    // Between the runs of one case: no module, a fresh desktop and host, the clock at its start.
    // The clock then moves only when the window waits for a second.
    void ResetForNextRun() {
        m_sim.reset();
        Desktop().Reset();
        Desktop().SetFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
        Desktop().SetClock([this] { return m_seconds; });
        headless::Host::Instance().Reset();
        LetEachWaitedSecondPass();
        m_seconds = kClockStart;
    }

    // The module and a registry that makes the start-up search find it at once.
    void StartModule(const sim::Scenario& scenario) {
        m_sim = StartSimulator(scenario);
        Registry().Put(kRegistryKey, "LastCOM", headless::RegistryValue::Dword(4));
        Registry().Put(kRegistryKey, "PrefCOM", headless::RegistryValue::Dword(static_cast<DWORD>(m_sim->Port())));
    }

    std::string WriteFile(const std::string& name, const update::Bytes& bytes) const {
        const std::string path = (m_dir / name).string();
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string WriteUpdateFile(const update::UpdateFileParts& parts = ThreeSections(), const std::string& name = "fw.qam") const {
        return WriteFile(name, update::BuildUpdateFile(parts));
    }

    // Operator steps: choose the file in the open-file dialog; press Update.
    static void Choose(const CWnd& dialog, const std::string& path) {
        headless::Host::Instance().ScriptFileDialog(path);
        Desktop().Click(dialog.GetDlgItem(IDC_SELECT_FILE).m_hWnd);
    }
    static void PressUpdate(const CWnd& dialog) { Desktop().Click(dialog.GetDlgItem(IDC_UPDATE).m_hWnd); }

    static std::vector<std::string> Lower(const CWnd& dialog) { return Control(dialog, IDC_STATUS_LOWER).texts; }
    static std::string LowerNow(const CWnd& dialog) { return Control(dialog, IDC_STATUS_LOWER).text; }

    // The commands the module received from the exchange after `from` on: the first unit of each.
    std::vector<std::string> CommandsAfter(std::size_t from) const {
        std::vector<std::string> commands;
        int last = 0;
        const std::vector<sim::TraceEntry> trace = m_sim->Trace();
        for (std::size_t i = from; i < trace.size(); ++i) {
            if (trace[i].direction == sim::Direction::ToModule && trace[i].exchange != last) {
                commands.emplace_back(trace[i].bytes.begin(), trace[i].bytes.end());
                last = trace[i].exchange;
            }
        }
        return commands;
    }
    std::size_t TraceSize() const { return m_sim->Trace().size(); }

    // The end of every command: window enabled, port closed, wait cursor gone.
    static void ExpectFinished(const CUpdaterDialog& dialog) {
        EXPECT_TRUE(WindowOf(dialog).enabled);
        EXPECT_FALSE(dialog.m_link.IsOpen());
        EXPECT_EQ(fw::WaitCursorCount(), 0);
        EXPECT_FALSE(Desktop().CursorHistory().empty() || Desktop().CursorHistory().back());
    }

    std::unique_ptr<SimulatorControl> m_sim;
    std::int64_t m_seconds = kClockStart;
    std::int64_t m_readings = 0;
    std::filesystem::path m_dir;

private:
    void LetEachWaitedSecondPass() {
        headless::Host::Instance().SetNextSecond([this] {
            std::this_thread::sleep_for(kSecondTakes);
            ++m_seconds;
        });
    }
};

} // namespace qam::test
