// The window's scan over ports that exist but stay silent: bounded, and no port is held after it.
// Native only: the silent lines are pseudo-terminals linked into the simulator's ports directory.
#include "common/Resource.h"
#include "link/PortsDirectory.h"
#include "tests/integration/SearchTexts.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"
#include "tests/unit/WindowHarness.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using headless::RegistryValue;
using qam::test::kRegistryKey;
using qam::test::Searching;
namespace sim = qam::sim;


// True when nobody holds the line: it opens and takes an exclusive lock at once.
bool Free(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

class PosixWindowScanTest : public qam::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_sim = qam::test::StartSimulator(sim::Scenario{});
    }
    void TearDown() override {
        m_silent.clear();
        m_sim.reset();
        WindowTest::TearDown();
    }

    void AddSilentLine(int port) {
        m_silent.push_back(std::make_unique<sim::SilentLine>());
        m_silent.back()->LinkAsPort(qam::link::PortsDirectory(), port);
    }

    std::unique_ptr<qam::test::SimulatorControl> m_sim;
    std::vector<std::unique_ptr<sim::SilentLine>> m_silent; // unlinked before the directory goes
};

TEST_F(PosixWindowScanTest, SilentPortsAreTriedInTurnAndReleasedWhenNothingAnswers) {
    // The module's own port is left out of the scan: 4 silent ports after it.
    const int first = m_sim->Port() + 1;
    for (int port = first; port < first + 4; ++port) {
        AddSilentLine(port);
    }
    Registry().Put(kRegistryKey, "LastCOM", RegistryValue::Dword(static_cast<DWORD>(first + 3)));
    Registry().Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(static_cast<DWORD>(first)));
    // Each silent port costs the read total constant: scaled down, the scan still waits for every one.
    qam::test::ScopedTimeoutScale quick(1, 100);
    const int descriptorsBefore = qam::test::OpenDescriptorCount();

    CUpdaterDialog dialog;
    Run(dialog, {[&] {
        // The silent ports first, then the wrap to port 1 and on to the module's port.
        std::vector<std::string> expected{""};
        for (int port = first; port < first + 4; ++port) {
            expected.push_back(Searching(port));
        }
        for (int port = 1; port <= m_sim->Port(); ++port) {
            expected.push_back(Searching(port));
        }
        const std::vector<std::string>& shown = Control(dialog, IDC_STATUS_UPPER).texts;
        ASSERT_EQ(shown.size(), expected.size() + 1);
        EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.end() - 1), expected);
        EXPECT_EQ(shown.back().rfind("Device on COM " + std::to_string(m_sim->Port()) + "\n", 0), 0u);
        for (const auto& line : m_silent) {
            EXPECT_TRUE(Free(line->DevicePath())) << line->DevicePath();
        }
    }});
    EXPECT_EQ(qam::test::OpenDescriptorCount(), descriptorsBefore);
}

TEST_F(PosixWindowScanTest, ScanOfOnlySilentPortsEndsNotFoundWithNothingHeld) {
    const int first = m_sim->Port() + 1;
    for (int port = first; port < first + 3; ++port) {
        AddSilentLine(port);
    }
    Registry().Put(kRegistryKey, "LastCOM", RegistryValue::Dword(3));
    Registry().Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(static_cast<DWORD>(first + 3)));
    qam::test::ScopedTimeoutScale quick(1, 100);
    const int descriptorsBefore = qam::test::OpenDescriptorCount();

    CUpdaterDialog dialog;
    Run(dialog, {[&] {
        // From first + 3 with a count of 3: one subtraction, then the three silent ports.
        const std::vector<std::string> expected{"", Searching(first), Searching(first + 1), Searching(first + 2),
                                                "no Device found !"};
        EXPECT_EQ(Control(dialog, IDC_STATUS_UPPER).texts, expected);
        EXPECT_EQ(dialog.m_search.foundPort, -1);
        EXPECT_FALSE(dialog.m_link.IsOpen());
        for (const auto& line : m_silent) {
            EXPECT_TRUE(Free(line->DevicePath())) << line->DevicePath();
        }
        EXPECT_EQ(qam::test::OpenDescriptorCount(), descriptorsBefore);
    }});
    EXPECT_TRUE(Desktop().Boxes().empty());
}

} // namespace
