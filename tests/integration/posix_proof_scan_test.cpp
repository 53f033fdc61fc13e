// Repeated scans over a ports directory holding every kind of port: a missing one, one another
// process holds (flock: root is not kept out by TIOCEXCL), a silent one and the module. No scan
// may leave a descriptor behind or take longer than its time-outs allow. Native only: the held
// port needs a second process on a pseudo-terminal, and Wine does not enforce exclusive opening.
#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "link/PortsDirectory.h"
#include "tests/integration/ProofTally.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"
#include "tests/unit/WindowHarness.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using headless::RegistryValue;
using qam::test::kRegistryKey;
namespace sim = qam::sim;
using std::chrono::milliseconds;

// A child process that opens the line and holds an exclusive flock on it until it is ended.
class LineHolder {
public:
    explicit LineHolder(const std::string& device) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char answer = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            [[maybe_unused]] const ssize_t written = ::write(ready[1], &answer, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char answer = 0;
        m_holding = m_pid > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    ~LineHolder() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    LineHolder(const LineHolder&) = delete;
    LineHolder& operator=(const LineHolder&) = delete;

    bool Holding() const { return m_holding; }

private:
    pid_t m_pid = -1;
    bool m_holding = false;
};

class PosixProofScanTest : public qam::test::WindowTest {
protected:
    void TearDown() override {
        m_holder.reset();
        m_silent.clear();
        m_sim.reset();
        WindowTest::TearDown();
    }

    std::unique_ptr<qam::test::SimulatorControl> m_sim;
    std::vector<std::unique_ptr<sim::SilentLine>> m_silent; // unlinked before the directory goes
    std::unique_ptr<LineHolder> m_holder;
    qam::test::ProofTally m_tally;
};

TEST_F(PosixProofScanTest, ThousandScansOverEveryKindOfPortLeakNothingAndKeepTheirBound) {
    m_sim = qam::test::StartSimulator(sim::Scenario{});
    const int module = m_sim->Port();
    // Port module - 2 is missing; module - 1 is held by another process; module + 1 is silent.
    ASSERT_GE(module, 3);
    m_silent.push_back(std::make_unique<sim::SilentLine>());
    m_silent.back()->LinkAsPort(qam::link::PortsDirectory(), module - 1);
    m_holder = std::make_unique<LineHolder>(m_silent.back()->DevicePath());
    ASSERT_TRUE(m_holder->Holding()) << "the other process could not lock " << m_silent.back()->DevicePath();
    m_silent.push_back(std::make_unique<sim::SilentLine>());
    m_silent.back()->LinkAsPort(qam::link::PortsDirectory(), module + 1);

    // From the silent port on: silent, wrap to the missing one, the held one, the module.
    Registry().Put(kRegistryKey, "LastCOM", RegistryValue::Dword(static_cast<DWORD>(module + 1)));
    Registry().Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(static_cast<DWORD>(module + 1)));
    qam::test::ScopedTimeoutScale quick(1, 100);
    // The silent port costs its 12-byte read: 50 ms a byte and the scaled constant; the rest
    // costs nothing much. Generous for a loaded machine.
    const milliseconds bound(50 * 12 + 10000 / 100 + 4000);
    const int scans = qam::test::ProofFull() ? 1000 : 40;

    CUpdaterDialog dialog;
    int baseline = -1;
    int latest = -1;
    int done = 0;
    auto last = std::chrono::steady_clock::now();
    std::vector<std::function<void()>> steps;
    for (int scan = 0; scan < scans; ++scan) {
        steps.push_back([&, scan] {
            {
                qam::test::ProofCase proof(m_tally, "scan");
                const auto now = std::chrono::steady_clock::now();
                const auto took = std::chrono::duration_cast<milliseconds>(now - last);
                EXPECT_EQ(dialog.m_search.foundPort, module) << "scan " << scan;
                EXPECT_TRUE(dialog.m_link.IsOpen());
                EXPECT_TRUE(Desktop().Boxes().empty());
                EXPECT_EQ(fw::WaitCursorCount(), 0);
                const int descriptors = qam::test::OpenDescriptorCount();
                if (baseline < 0) {
                    baseline = descriptors; // after the start-up scan: the window and its open port
                }
                EXPECT_EQ(descriptors, baseline) << "scan " << scan;
                latest = descriptors;
                if (scan > 0) {
                    // The start-up scan's time includes the window's creation; the others are scans alone.
                    EXPECT_LE(took.count(), bound.count()) << "scan " << scan;
                    m_tally.Record("scan-bound", took <= bound, took, bound);
                }
                ++done;
            }
            // A found module becomes the preferred port; start each scan at the silent one again,
            // so that every scan meets all four kinds.
            dialog.m_search.preferredPort = module + 1;
            last = std::chrono::steady_clock::now();
            Desktop().Click(dialog.GetDlgItem(IDC_SEARCH_MODULE).m_hWnd);
        });
    }
    steps.push_back([&] {
        // The held port never opens: every scan passes it and goes on to the module.
        const std::vector<std::string>& upper = Control(dialog, IDC_STATUS_UPPER).texts;
        EXPECT_EQ(upper.back().rfind("Device on COM " + std::to_string(module) + "\n", 0), 0u);
        const std::vector<std::string> one{"searching Device on COM " + std::to_string(module + 1) + "...",
                                           "searching Device on COM " + std::to_string(module - 2) + "...",
                                           "searching Device on COM " + std::to_string(module - 1) + "...",
                                           "searching Device on COM " + std::to_string(module) + "..."};
        int passes = 0;
        for (std::size_t i = 0; i + one.size() <= upper.size(); ++i) {
            passes += std::equal(one.begin(), one.end(), upper.begin() + static_cast<std::ptrdiff_t>(i)) ? 1 : 0;
        }
        EXPECT_EQ(passes, scans + 1) << "every scan visits the four ports in order";
    });
    Run(dialog, steps);
    EXPECT_EQ(done, scans);
    m_tally.Note("scan", "fd_before=" + std::to_string(baseline) + " fd_after=" + std::to_string(latest));
}

} // namespace
