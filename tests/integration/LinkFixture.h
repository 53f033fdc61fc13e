#pragma once

// What the shared link suites have in common: the simulator on its port, one open CComDevice, a
// progress bar on the headless desktop, and trace entries written as the wire reads.

#include "framework/Wnd.h"
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string_view>
#include <vector>

namespace qam::sim {

inline void PrintTo(const TraceEntry& entry, std::ostream* os) {
    *os << entry.exchange << " " << Describe(entry);
}

} // namespace qam::sim

namespace headless {

inline void PrintTo(const Message& message, std::ostream* os) {
    *os << "{message " << message.message << ", wParam " << message.wParam << ", lParam " << message.lParam << "}";
}

inline void PrintTo(const Box& box, std::ostream* os) {
    *os << "{\"" << box.text << "\", \"" << box.caption << "\", type " << box.type << "}";
}

} // namespace headless

namespace qam::test {

inline sim::TraceEntry ToModule(int exchange, sim::Bytes bytes) {
    return {exchange, sim::Direction::ToModule, std::move(bytes), {}};
}
inline sim::TraceEntry ToModule(int exchange, std::string_view text) {
    return ToModule(exchange, sim::ToBytes(text));
}
inline sim::TraceEntry FromModule(int exchange, sim::Bytes bytes) {
    return {exchange, sim::Direction::FromModule, std::move(bytes), {}};
}
inline sim::TraceEntry FromModule(int exchange, std::string_view text) {
    return FromModule(exchange, sim::ToBytes(text));
}

inline sim::Bytes LengthWord(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

// A recognisable block: byte i is i modulo 251, so that a shifted or repeated piece shows.
inline sim::Bytes Pattern(std::size_t length) {
    sim::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % 251);
    }
    return bytes;
}

inline headless::Box ErrorBox(const char* text, const char* caption) {
    return {nullptr, text, caption, MB_OK | MB_ICONERROR, IDOK};
}

// Generous bounds against hangs only.
inline constexpr std::chrono::seconds kHangGuard{20};

class LinkFixture : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override {
        headless::Desktop::Instance().Reset();
        m_progress = CWnd(headless::Desktop::Instance().AddWindow(1004, "msctls_progress32"));
        ClearAskedTimeouts();
    }

    void TearDown() override {
        m_device.Close();
        m_simulator.reset();
        ScaleTimeoutConstants(1, 1);
    }

    // The module with this scenario, the link open on it as the search leaves it.
    void Start(const sim::Scenario& scenario) {
        m_simulator = StartSimulator(scenario);
        ASSERT_EQ(m_device.Open(m_simulator->Port(), 115200, 1, 0), 1);
    }

    std::vector<sim::TraceEntry> Trace() const { return m_simulator->Trace(); }
    const std::vector<headless::Box>& Boxes() const { return headless::Desktop::Instance().Boxes(); }
    const std::vector<headless::Message>& ProgressMessages() const {
        return headless::Desktop::Instance().WindowOf(m_progress.GetSafeHwnd()).messages;
    }
    std::vector<int> ProgressPositions() const {
        return headless::Desktop::Instance().ProgressPositions(m_progress.GetSafeHwnd());
    }
    // The messages a block transfer sends its progress bar: the range, then each position.
    static std::vector<headless::Message> ProgressOf(const std::vector<int>& positions) {
        std::vector<headless::Message> messages{{PBM_SETRANGE, 0, MAKELPARAM(0, 100)}};
        for (const int position : positions) {
            messages.push_back({PBM_SETPOS, static_cast<WPARAM>(position), 0});
        }
        return messages;
    }

    std::unique_ptr<SimulatorControl> m_simulator;
    CComDevice m_device;
    CWnd m_progress;
};

inline sim::Fault FaultOn(std::string command, sim::FaultKind kind) {
    sim::Fault fault;
    fault.command = std::move(command);
    fault.kind = kind;
    return fault;
}

} // namespace qam::test
