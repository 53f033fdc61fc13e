// The module search over a ports directory of the test's own: missing ports, silent lines and
// simulated modules at chosen numbers.
#include "module/ModuleSearch.h"

#include "common/Resource.h"
#include "link/ComDevice.h"
#include "link/PortsDirectory.h"
#include "module/ModuleProxy.h"
#include "tests/integration/SearchDialog.h"
#include "tests/integration/SearchTexts.h"
#include "tests/integration/SimTrace.h"
#include "tests/support/Platform.h"
#include "tests/support/TestTimeouts.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using qam::module::SearchModule;
using qam::test::ExpectedTrace;
using qam::test::Searching;
using qam::test::TraceLines;
namespace sim = qam::sim;

constexpr auto HANG_GUARD = std::chrono::seconds(30);

const std::string DSP = "NUV 1.16 A01";
const std::string PLD = "PLD 2.03 B00";

sim::Scenario Module(sim::SyncMode sync = sim::SyncMode::InSync) {
    sim::Scenario scenario;
    scenario.identification.dsp = DSP;
    scenario.identification.pld = PLD;
    scenario.sync = sync;
    return scenario;
}


// A fresh ports directory that the link uses while the object lives. The lines linked into it
// must be gone (their links removed) before it is.
class PortsDirectory {
public:
    PortsDirectory() : m_previous(qam::link::PortsDirectory()) {
        std::string pattern = "/tmp/qam-search-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = pattern;
        qam::link::SetPortsDirectory(m_path);
    }
    ~PortsDirectory() {
        qam::link::SetPortsDirectory(m_previous);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    PortsDirectory(const PortsDirectory&) = delete;
    PortsDirectory& operator=(const PortsDirectory&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_previous;
    std::string m_path;
};

class PosixSearchTest : public ::testing::Test {
protected:
    void SetUp() override { qam::test::ClearAskedTimeouts(); }

    sim::ModuleSimulator& AddModule(int port, const sim::Scenario& scenario) {
        m_modules.push_back(std::make_unique<sim::ModuleSimulator>(scenario));
        m_modules.back()->LinkAsPort(m_directory.Path(), port);
        return *m_modules.back();
    }
    void AddSilentLine(int port) {
        m_silentLines.push_back(std::make_unique<sim::SilentLine>());
        m_silentLines.back()->LinkAsPort(m_directory.Path(), port);
    }

    int Search(SearchState& state) { return SearchModule(m_link, m_proxy, state, m_dialog.Wnd()); }
    std::vector<std::string> Upper() const { return m_dialog.Texts(IDC_STATUS_UPPER); }

    // Declared first: it outlives the lines linked into it and the link that opens them.
    PortsDirectory m_directory;
    std::vector<std::unique_ptr<sim::ModuleSimulator>> m_modules;
    std::vector<std::unique_ptr<sim::SilentLine>> m_silentLines;
    qam::test::SearchDialog m_dialog;
    CComDevice m_link;
    CModuleProxy m_proxy;
};

TEST_F(PosixSearchTest, VisitsMissingAndSilentPortsInOrderAndFindsTheModuleLast) {
    AddSilentLine(2);
    sim::ModuleSimulator& module = AddModule(5, Module());
    const qam::test::ScopedTimeoutScale fast(1, 100);
    SearchState state{8, 6, -1, 0, 0, TUNER_UNKNOWN};

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Search(state), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, HANG_GUARD);

    std::vector<std::string> upper;
    for (int port : {6, 7, 8, 1, 2, 3, 4, 5}) {
        upper.push_back(Searching(port));
    }
    upper.push_back("Device on COM 5\nDSP : NUV 1.16 A   PLD : PLD 2.03 B");
    EXPECT_EQ(Upper(), upper);
    EXPECT_EQ(state.foundPort, 5);
    EXPECT_EQ(state.preferredPort, 5);
    EXPECT_TRUE(m_link.IsOpen());

    // Only the ports that opened got time-outs: the silent one and the module's.
    const qam::link::Timeouts opened{100, 50, 5000, 50, 500};
    const qam::link::Timeouts scanning{100, 50, 10000, 50, 500};
    EXPECT_EQ(qam::test::AskedTimeouts(), (std::vector<qam::link::Timeouts>{opened, scanning, opened, scanning}));
    ExpectedTrace expected;
    expected.Command("VDSP").Reply(DSP).Command("VPLD").Reply(PLD).Command("VTUN").Reply("STV0299B");
    EXPECT_EQ(TraceLines(module.Trace()), expected.Lines());
}

TEST_F(PosixSearchTest, SilentPortsEndInBoundedTimeAndAreNotHeldAfterTheScan) {
    for (int port = 1; port <= 3; ++port) {
        AddSilentLine(port);
    }
    const qam::test::ScopedTimeoutScale fast(1, 100);
    SearchState state{3, 1, -1, 0, 0, TUNER_UNKNOWN};

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Search(state), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, HANG_GUARD);

    EXPECT_EQ(Upper(), (std::vector<std::string>{Searching(1), Searching(2), Searching(3), "no Device found !"}));
    EXPECT_FALSE(m_link.IsOpen());
    for (int port = 1; port <= 3; ++port) {
        CComDevice other;
        EXPECT_EQ(other.Open(port, 115200, 1, 0), 1) << "port " << port << " still held";
    }
}

TEST_F(PosixSearchTest, EachPortGetsItsOwnResyncInOneScan) {
    sim::ModuleSimulator& first = AddModule(1, Module(sim::SyncMode::AlwaysShort));
    sim::ModuleSimulator& second = AddModule(2, Module(sim::SyncMode::AlwaysShort));
    SearchState state{2, 1, -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 0);

    ExpectedTrace expected;
    expected.Command("VDSP").Reply("NUV ").Command("?").Ok().Command("VDSP").Reply("NUV ");
    EXPECT_EQ(TraceLines(first.Trace()), expected.Lines());
    EXPECT_EQ(TraceLines(second.Trace()), expected.Lines());
    EXPECT_EQ(Upper(), (std::vector<std::string>{Searching(1), "try to sync ...", Searching(1), Searching(2),
                                                 "try to sync ...", Searching(2), "no Device found !"}));
}

TEST_F(PosixSearchTest, EveryScanStartsWithAnEmptySyncMask) {
    sim::ModuleSimulator& module = AddModule(1, Module(sim::SyncMode::AlwaysShort));
    SearchState state{1, 1, -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 0);
    EXPECT_EQ(Search(state), 0);

    ExpectedTrace expected;
    for (int scan = 0; scan < 2; ++scan) {
        expected.Command("VDSP").Reply("NUV ").Command("?").Ok().Command("VDSP").Reply("NUV ");
    }
    EXPECT_EQ(TraceLines(module.Trace()), expected.Lines());
}

TEST_F(PosixSearchTest, ManyScansLeaveNoDescriptorBehind) {
    sim::ModuleSimulator& module = AddModule(5, Module());
    SearchState found{8, 1, -1, 0, 0, TUNER_UNKNOWN};
    SearchState missing{4, 1, -1, 0, 0, TUNER_UNKNOWN};
    const auto scanRound = [&] {
        found.preferredPort = 1;
        EXPECT_EQ(Search(found), 1);
        module.Restart(Module(sim::SyncMode::AlwaysShort));
        found.preferredPort = 1;
        EXPECT_EQ(Search(found), 0); // the resync path: closed and opened again
        module.Restart(Module());
        EXPECT_EQ(Search(missing), 0);
        m_dialog.ClearTexts();
    };
    scanRound(); // whatever the first round sets up for good is not counted
    m_link.Close();
    const int before = qam::test::OpenDescriptorCount();

    for (int round = 0; round < 10; ++round) {
        scanRound();
    }
    m_link.Close();

    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
}

} // namespace
