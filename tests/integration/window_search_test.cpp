// The main window's start-up search and Search Module command against the simulator, through the
// headless framework and the real link, on both builds.
#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "tests/integration/SearchTexts.h"
#include "tests/integration/SimTrace.h"
#include "tests/support/SimulatorControl.h"
#include "tests/unit/WindowHarness.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using headless::RegistryValue;
using headless::RegistryWrite;
using qam::test::ExpectedTrace;
using qam::test::kRegistryKey;
using qam::test::Searching;
using qam::test::TraceLines;
namespace sim = qam::sim;

const std::string DSP = "NUV 1.16 A01";
const std::string PLD = "PLD 2.03 B00";

std::string Found(int port, const std::string& dsp = DSP) {
    return qam::test::Found(port, dsp, PLD);
}

sim::Scenario Module(const std::string& dsp = DSP) {
    sim::Scenario scenario;
    scenario.identification.dsp = dsp;
    scenario.identification.pld = PLD;
    scenario.identification.tuner = "STV0299B";
    return scenario;
}

class WindowSearchTest : public qam::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_sim = qam::test::StartSimulator(Module());
    }
    void TearDown() override {
        m_sim.reset();
        WindowTest::TearDown();
    }

    int Port() const { return m_sim->Port(); }
    void Store(int portCount, int preferredPort) {
        Registry().Put(kRegistryKey, "LastCOM", RegistryValue::Dword(static_cast<DWORD>(portCount)));
        Registry().Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(static_cast<DWORD>(preferredPort)));
    }
    static std::vector<std::string> Upper(const CWnd& dialog) { return Control(dialog, IDC_STATUS_UPPER).texts; }
    static std::vector<std::string> Lower(const CWnd& dialog) { return Control(dialog, IDC_STATUS_LOWER).texts; }

    // The enabled state of Update, Select File, default Settings and keep current Settings.
    static std::vector<bool> Buttons(const CWnd& dialog) {
        std::vector<bool> enabled;
        for (int id : {IDC_UPDATE, IDC_SELECT_FILE, IDC_DEFAULT_SETTINGS, IDC_KEEP_SETTINGS}) {
            enabled.push_back(Control(dialog, id).enabled);
        }
        return enabled;
    }
    static void ClickSearch(const CWnd& dialog) { Desktop().Click(dialog.GetDlgItem(IDC_SEARCH_MODULE).m_hWnd); }

    std::unique_ptr<qam::test::SimulatorControl> m_sim;
};

TEST_F(WindowSearchTest, StartUpFindsTheModuleShowsItAndSavesItsPortAtClose) {
    Store(4, Port());
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
        EXPECT_EQ(Upper(dialog), (std::vector<std::string>{"", Searching(Port()), Found(Port())}));
        EXPECT_EQ(Lower(dialog), (std::vector<std::string>{"", "ready"}));
        EXPECT_EQ(Buttons(dialog), (std::vector<bool>{false, true, true, true}));
        EXPECT_EQ(dialog.m_search.foundPort, Port());
        EXPECT_EQ(dialog.m_search.preferredPort, Port());
        EXPECT_EQ(dialog.m_search.moduleFound, 1);
        EXPECT_EQ(dialog.m_search.settingsSupported, 1);
        EXPECT_EQ(dialog.m_search.tunerType, 1);
        EXPECT_EQ(dialog.m_proxy.m_tunerType, 1);
        EXPECT_EQ(dialog.m_proxy.m_firmwareVersion, 1.16);
        EXPECT_TRUE(dialog.m_link.IsOpen());
        EXPECT_EQ(fw::WaitCursorCount(), 0);
    }});
    ExpectedTrace expected;
    expected.Command("VDSP").Reply(DSP).Command("VPLD").Reply(PLD).Command("VTUN").Reply("STV0299B");
    EXPECT_EQ(TraceLines(m_sim->Trace()), expected.Lines());
    const std::vector<RegistryWrite> writes{
        {kRegistryKey, "LastNUVDir", RegistryValue::String("", false)},
        {kRegistryKey, "PrefCOM", RegistryValue::Dword(static_cast<DWORD>(Port()))},
    };
    EXPECT_EQ(Registry().Writes(), writes);
    EXPECT_FALSE(dialog.m_link.IsOpen());
    EXPECT_TRUE(Desktop().Boxes().empty());
}

TEST_F(WindowSearchTest, ScanVisitsThePortsFromThePreferredOneAndWraps) {
    // Preferred port two above the module's, a count one above that: the scan wraps to port 1.
    Store(Port() + 3, Port() + 2);
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
        std::vector<std::string> expected{""};
        for (int port : {Port() + 2, Port() + 3}) {
            expected.push_back(Searching(port));
        }
        for (int port = 1; port <= Port(); ++port) {
            expected.push_back(Searching(port));
        }
        expected.push_back(Found(Port()));
        EXPECT_EQ(Upper(dialog), expected);
        EXPECT_EQ(dialog.m_search.portCount, Port() + 3);
    }});
}

TEST_F(WindowSearchTest, FirstStartWithoutTheKeyScansFourPortsFromPortOne) {
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
        std::vector<std::string> expected{""};
        for (int port = 1; port <= 4 && port <= Port(); ++port) {
            expected.push_back(Searching(port));
        }
        expected.push_back(Port() <= 4 ? Found(Port()) : "no Device found !");
        EXPECT_EQ(Upper(dialog), expected);
    }});
    EXPECT_TRUE(Registry().HasKey(kRegistryKey));
}

TEST_F(WindowSearchTest, SecondStartBeginsItsSearchAtTheSavedPort) {
    Registry().Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(1));
    {
        CUpdaterDialog first;
        Run(first, {[&] { EXPECT_EQ(Upper(first).back(), Found(Port())); }});
    }
    EXPECT_EQ(Registry().Value(kRegistryKey, "PrefCOM"), RegistryValue::Dword(static_cast<DWORD>(Port())));
    CUpdaterDialog second;
    Run(second, {[&] {
        EXPECT_EQ(second.m_search.portCount, 32);
        EXPECT_EQ(Upper(second), (std::vector<std::string>{"", Searching(Port()), Found(Port())}));
    }});
}

TEST_F(WindowSearchTest, ScanThatFindsNothingAfterASuccessDisablesAndKeepsTheModulesValues) {
    Store(4, Port());
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
                     ASSERT_EQ(dialog.m_search.moduleFound, 1);
                     // Only ports that do not exist from now on.
                     dialog.m_search.preferredPort = qam::test::kAbsentPreferredPort;
                     dialog.m_search.portCount = qam::test::kAbsentPortCount;
                     Control(dialog, IDC_UPDATE).enabled = true;
                     ClickSearch(dialog);
                 },
                 [&] {
                     EXPECT_EQ(Upper(dialog).back(), "no Device found !");
                     EXPECT_EQ(Lower(dialog), (std::vector<std::string>{"", "ready", "ready"}));
                     EXPECT_EQ(Buttons(dialog), (std::vector<bool>{false, false, false, false}));
                     EXPECT_EQ(dialog.m_search.foundPort, -1);
                     EXPECT_EQ(dialog.m_search.moduleFound, 0);
                     EXPECT_EQ(dialog.m_search.preferredPort, qam::test::kAbsentPreferredPort);
                     EXPECT_EQ(dialog.m_search.tunerType, 1);
                     EXPECT_EQ(dialog.m_proxy.m_firmwareVersion, 1.16);
                     EXPECT_FALSE(dialog.m_link.IsOpen());
                 }});
    // Nothing found at the end: the port saved is the one from the registry, left as it was.
    EXPECT_EQ(Registry().Writes(), (std::vector<RegistryWrite>{{kRegistryKey, "LastNUVDir", RegistryValue::String("", false)}}));
}

struct EnablingCase {
    const char* name;
    int fileSelected;
    bool moduleThere;
    bool updateEnabled;
};

TEST_F(WindowSearchTest, SearchModuleEnablesUpdateOnlyWithModuleAndFile) {
    const std::vector<EnablingCase> cases = {
        {"module and file", 1, true, true},
        {"module, no file", 0, true, false},
        {"file, no module", 1, false, false},
        {"neither", 0, false, false},
    };
    for (const EnablingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Registry().Reset();
        Store(4, Port());
        CUpdaterDialog dialog;
        Run(dialog, {[&] {
                         EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled) << "no file at start-up";
                         dialog.m_fileSelected = c.fileSelected;
                         if (!c.moduleThere) {
                             dialog.m_search.preferredPort = qam::test::kAbsentPreferredPort;
                             dialog.m_search.portCount = qam::test::kAbsentPortCount;
                         }
                         Control(dialog, IDC_UPDATE).enabled = !c.updateEnabled;
                         ClickSearch(dialog);
                     },
                     [&] {
                         EXPECT_EQ(Control(dialog, IDC_UPDATE).enabled, c.updateEnabled);
                         EXPECT_EQ(Control(dialog, IDC_SELECT_FILE).enabled, c.moduleThere);
                     }});
    }
}

TEST_F(WindowSearchTest, ModuleWithoutNuvIdentificationLeavesKeepSettingsDisabled) {
    m_sim->Restart(Module("ABC 2.50 X01"));
    Store(4, Port());
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
        EXPECT_EQ(Upper(dialog).back(), Found(Port(), "ABC 2.50 X01"));
        EXPECT_EQ(Buttons(dialog), (std::vector<bool>{false, true, true, false}));
        EXPECT_EQ(dialog.m_search.settingsSupported, 0);
        EXPECT_EQ(dialog.m_proxy.m_firmwareVersion, 2.5);
        EXPECT_EQ(dialog.m_keepSettings, 1) << "the hidden check box keeps its flag";
    }});
}

} // namespace
