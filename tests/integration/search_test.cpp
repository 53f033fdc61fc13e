// The module search against the simulator over the real link, on both builds.
#include "module/ModuleSearch.h"

#include "common/Resource.h"
#include "framework/WaitCursor.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"
#include "tests/integration/SearchDialog.h"
#include "tests/integration/SearchTexts.h"
#include "tests/integration/SimTrace.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

using qam::module::SearchModule;
using qam::test::ExpectedTrace;
using qam::test::Found;
using qam::test::Searching;
using qam::test::TraceLines;
namespace sim = qam::sim;

const std::string DSP = "NUV 1.16 A01";
const std::string PLD = "PLD 2.03 B00";

sim::Scenario Module(const std::string& dsp = DSP, const std::string& tuner = "STV0299B") {
    sim::Scenario scenario;
    scenario.identification.dsp = dsp;
    scenario.identification.pld = PLD;
    scenario.identification.tuner = tuner;
    return scenario;
}

sim::Fault FaultOn(sim::FaultKind kind, const std::string& command, int occurrence = 1) {
    sim::Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.occurrence = occurrence;
    return fault;
}

// The exchanges of an identification that succeeds, from exchange `first` on.
ExpectedTrace& Identified(ExpectedTrace& trace, const std::string& dsp = DSP, const std::string& tuner = "STV0299B") {
    return trace.Command("VDSP").Reply(dsp).Command("VPLD").Reply(PLD).Command("VTUN").Reply(tuner);
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        qam::test::ClearAskedTimeouts();
        m_cursorAtStart = fw::WaitCursorCount();
    }

    void Start(const sim::Scenario& scenario) { m_sim = qam::test::StartSimulator(scenario); }

    int Port() const { return m_sim->Port(); }

    int Search(SearchState& state) { return SearchModule(m_link, m_proxy, state, m_dialog.Wnd()); }

    std::vector<std::string> Trace() const { return TraceLines(m_sim->Trace()); }
    std::vector<std::string> Upper() const { return m_dialog.Texts(IDC_STATUS_UPPER); }
    std::vector<std::string> Lower() const { return m_dialog.Texts(IDC_STATUS_LOWER); }

    void ExpectButtons(bool found, bool settings) const {
        EXPECT_EQ(m_dialog.Enabled(IDC_SELECT_FILE), found);
        EXPECT_EQ(m_dialog.Enabled(IDC_DEFAULT_SETTINGS), found);
        EXPECT_EQ(m_dialog.Enabled(IDC_KEEP_SETTINGS), settings);
        // The search leaves the Update button to its caller.
        EXPECT_TRUE(m_dialog.Enabled(IDC_UPDATE));
    }

    void ExpectCursorBack() const {
        EXPECT_EQ(fw::WaitCursorCount(), m_cursorAtStart);
        EXPECT_EQ(headless::Desktop::Instance().CursorHistory(), (std::vector<bool>{true, false}));
    }

    qam::test::SearchDialog m_dialog;
    std::unique_ptr<qam::test::SimulatorControl> m_sim;
    CComDevice m_link;
    CModuleProxy m_proxy;
    int m_cursorAtStart = 0;
};

TEST_F(SearchTest, FoundOnItsPortIdentifiesTheModuleAndLeavesTheLinkOpen) {
    Start(Module());
    m_dialog.SetButtons(false);
    SearchState state{4, Port(), -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 1);

    EXPECT_EQ(state.portCount, 4);
    EXPECT_EQ(state.foundPort, Port());
    EXPECT_EQ(state.preferredPort, Port());
    EXPECT_EQ(state.moduleFound, 1);
    EXPECT_EQ(state.settingsSupported, 1);
    EXPECT_EQ(state.tunerType, 1);
    EXPECT_EQ(m_proxy.m_tunerType, 1);
    EXPECT_EQ(m_proxy.m_firmwareVersion, 1.16);
    EXPECT_TRUE(m_link.IsOpen());

    ExpectedTrace expected;
    EXPECT_EQ(Trace(), Identified(expected).Lines());
    EXPECT_EQ(Upper(), (std::vector<std::string>{Searching(Port()), Found(Port(), DSP, PLD)}));
    EXPECT_EQ(Lower(), std::vector<std::string>{"ready"});
    ExpectButtons(true, true);
    ExpectCursorBack();
    EXPECT_TRUE(headless::Desktop::Instance().Boxes().empty());

    // Opened with the default time-outs, then the scan's own.
    const qam::link::Timeouts opened{100, 50, 5000, 50, 500};
    const qam::link::Timeouts scanning{100, 50, 10000, 50, 500};
    EXPECT_EQ(qam::test::AskedTimeouts(), (std::vector<qam::link::Timeouts>{opened, scanning}));
}

TEST_F(SearchTest, MissingPortsBeforeTheModuleAreSkippedInOrder) {
    Start(Module());
    SearchState state{Port() + 1, 1, -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 1);

    std::vector<std::string> upper;
    for (int port = 1; port <= Port(); ++port) {
        upper.push_back(Searching(port));
    }
    upper.push_back(Found(Port(), DSP, PLD));
    EXPECT_EQ(Upper(), upper);
    EXPECT_EQ(state.foundPort, Port());
    EXPECT_EQ(state.preferredPort, Port());
    ExpectedTrace expected;
    EXPECT_EQ(Trace(), Identified(expected).Lines());
}

TEST_F(SearchTest, ModuleShortUntilSyncIsFoundAfterOneResyncOnAPortOpenedTwice) {
    sim::Scenario scenario = Module();
    scenario.sync = sim::SyncMode::ShortUntilSync;
    Start(scenario);
    SearchState state{4, Port(), -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 1);

    ExpectedTrace expected;
    expected.Command("VDSP").Reply(DSP.substr(0, 4)).Command("?").Ok();
    EXPECT_EQ(Trace(), Identified(expected).Lines());
    EXPECT_EQ(Upper(), (std::vector<std::string>{Searching(Port()), "try to sync ...", Searching(Port()),
                                                 Found(Port(), DSP, PLD)}));
    EXPECT_EQ(state.foundPort, Port());
    EXPECT_TRUE(m_link.IsOpen());
    // Opened twice: each opening sets the default time-outs, then the scan's.
    EXPECT_EQ(qam::test::AskedTimeouts().size(), 4u);
    ExpectCursorBack();
}

TEST_F(SearchTest, ModuleAlwaysShortGetsOneResyncAndTheScanMovesOn) {
    sim::Scenario scenario = Module();
    scenario.sync = sim::SyncMode::AlwaysShort;
    Start(scenario);
    m_dialog.SetButtons(true);
    // Port() first, then the ports below it, which do not exist.
    SearchState state{Port(), Port(), 7, 1, 1, 4};

    EXPECT_EQ(Search(state), 0);

    ExpectedTrace expected;
    expected.Command("VDSP").Reply(DSP.substr(0, 4)).Command("?").Ok().Command("VDSP").Reply(DSP.substr(0, 4));
    EXPECT_EQ(Trace(), expected.Lines());
    std::vector<std::string> upper{Searching(Port()), "try to sync ...", Searching(Port())};
    for (int port = 1; port < Port(); ++port) {
        upper.push_back(Searching(port));
    }
    upper.push_back("no Device found !");
    EXPECT_EQ(Upper(), upper);
    EXPECT_EQ(Lower(), std::vector<std::string>{"ready"});
    EXPECT_EQ(state.moduleFound, 0);
    EXPECT_EQ(state.foundPort, -1);
    EXPECT_EQ(state.settingsSupported, 0);
    EXPECT_EQ(state.preferredPort, Port());
    EXPECT_EQ(state.tunerType, 4); // a failed scan keeps the tuner type
    EXPECT_FALSE(m_link.IsOpen());
    ExpectButtons(false, false);
    ExpectCursorBack();
}

struct SyncAnswerCase {
    const char* name;
    sim::Fault fault;
};

class SyncAnswerTest : public SearchTest, public ::testing::WithParamInterface<SyncAnswerCase> {};

TEST_P(SyncAnswerTest, AnAnswerOfOtherThanFourBytesFailsAllFourAttempts) {
    sim::Scenario scenario = Module();
    scenario.sync = sim::SyncMode::AlwaysShort;
    scenario.faults.push_back(GetParam().fault);
    Start(scenario);
    const qam::test::ScopedTimeoutScale fast(1, 1000);
    SearchState state{Port(), Port(), -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 0);

    // Four "?" on the one opening, no second identification.
    const sim::Bytes answer = GetParam().fault.kind == sim::FaultKind::ShortReply ? sim::ToBytes("OK\r")
                                                                                   : GetParam().fault.reply;
    ExpectedTrace expected;
    expected.Command("VDSP").Reply(DSP.substr(0, 4));
    for (int attempt = 0; attempt < 4; ++attempt) {
        expected.Command("?");
        if (!answer.empty()) {
            expected.Reply(answer);
        }
    }
    EXPECT_EQ(Trace(), expected.Lines());
    ASSERT_GE(Upper().size(), 3u);
    EXPECT_EQ(Upper()[0], Searching(Port()));
    EXPECT_EQ(Upper()[1], "try to sync ...");
    EXPECT_EQ(Upper()[2], Port() > 1 ? Searching(1) : "no Device found !");
    EXPECT_EQ(Upper().back(), "no Device found !");
    EXPECT_FALSE(m_link.IsOpen());
}

sim::Fault SyncFault(sim::FaultKind kind, const std::string& reply = "") {
    sim::Fault fault = FaultOn(kind, "?", 0);
    fault.bytes = 3;
    fault.reply = sim::ToBytes(reply);
    return fault;
}

INSTANTIATE_TEST_SUITE_P(Answers, SyncAnswerTest,
                         ::testing::Values(SyncAnswerCase{"ThreeBytes", SyncFault(sim::FaultKind::ShortReply)},
                                           SyncAnswerCase{"FiveBytes", SyncFault(sim::FaultKind::WrongReply, "OK\r\nX")},
                                           SyncAnswerCase{"Silence", SyncFault(sim::FaultKind::Silence)}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SearchTest, IdentificationWithoutNuvIsFoundWithoutSettingsSupport) {
    const std::string dsp = "ABC 1.16 A01";
    Start(Module(dsp));
    m_dialog.SetButtons(true);
    SearchState state{4, Port(), -1, 0, 1, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 1);

    EXPECT_EQ(state.settingsSupported, 0);
    EXPECT_EQ(m_proxy.m_firmwareVersion, 1.16);
    EXPECT_EQ(Upper().back(), Found(Port(), dsp, PLD));
    ExpectButtons(true, false);
}

struct VersionCase {
    const char* name;
    std::string dsp;
    double version;
    int settingsSupported;
};

class VersionTest : public SearchTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, TheVersionStandsFromCharacterFiveToTen) {
    const VersionCase& c = GetParam();
    Start(Module(c.dsp));
    SearchState state{4, Port(), -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 1);

    EXPECT_DOUBLE_EQ(m_proxy.m_firmwareVersion, c.version);
    EXPECT_EQ(state.settingsSupported, c.settingsSupported);
    EXPECT_EQ(Upper().back(), Found(Port(), c.dsp, PLD));
}

INSTANTIATE_TEST_SUITE_P(
    Identifications, VersionTest,
    ::testing::Values(VersionCase{"Nuv116", "NUV 1.16 A01", 1.16, 1}, VersionCase{"Nuv25", "NUV 2.5  A01", 2.5, 1},
                      // Characters beyond the tenth are cut before the number is read.
                      VersionCase{"CutAtTen", "NUV 1.16789A", 1.1678, 1}, VersionCase{"Digits", "NUV 12345678", 123456, 1},
                      VersionCase{"NoNumber", "NUV x.yzABCD", 0.0, 1}, VersionCase{"Lowercase", "nuv 1.20 A01", 1.2, 0},
                      VersionCase{"NuvElsewhere", " NUV1.16 A01", 1.16, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct TunerCase {
    const char* name;
    std::string tuner;
    TunerType type;
};

class TunerTest : public SearchTest, public ::testing::WithParamInterface<TunerCase> {};

TEST_P(TunerTest, VtunSelectsTheTunerTypeInStateAndProxy) {
    Start(Module(DSP, GetParam().tuner));
    SearchState state{4, Port(), -1, 0, 0, 3};
    m_proxy.m_tunerType = 3;

    EXPECT_EQ(Search(state), 1);

    EXPECT_EQ(state.tunerType, GetParam().type);
    EXPECT_EQ(m_proxy.m_tunerType, GetParam().type);
    ExpectedTrace expected;
    EXPECT_EQ(Trace(), Identified(expected, DSP, GetParam().tuner).Lines());
}

INSTANTIATE_TEST_SUITE_P(Table, TunerTest,
                         ::testing::Values(TunerCase{"MB86A1x", "MB86A1x ", 0}, TunerCase{"STV0299B", "STV0299B", 1},
                                           TunerCase{"CE6313", "CE6313  ", 2}, TunerCase{"ALIS3501", "ALIS3501", 3},
                                           TunerCase{"STV6110", "STV6110 ", 4}, TunerCase{"EDU10394", "EDU10394", 5},
                                           TunerCase{"Unknown", "XYZ12345", TUNER_UNKNOWN},
                                           TunerCase{"LowerCase", "edu10394", TUNER_UNKNOWN}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct TunerFailureCase {
    const char* name;
    sim::Fault fault;
    std::string reply; // what the module sent, if anything
};

class TunerFailureTest : public SearchTest, public ::testing::WithParamInterface<TunerFailureCase> {};

TEST_P(TunerFailureTest, AFailedVtunLeavesTheTypeUnknownWithoutABox) {
    sim::Scenario scenario = Module(DSP, "EDU10394");
    scenario.faults.push_back(GetParam().fault);
    Start(scenario);
    const qam::test::ScopedTimeoutScale fast(1, 1000);
    SearchState state{4, Port(), -1, 0, 0, 2};
    m_proxy.m_tunerType = 2;

    EXPECT_EQ(Search(state), 1);

    EXPECT_EQ(state.tunerType, TUNER_UNKNOWN);
    EXPECT_EQ(m_proxy.m_tunerType, TUNER_UNKNOWN);
    EXPECT_EQ(state.moduleFound, 1);
    EXPECT_TRUE(headless::Desktop::Instance().Boxes().empty());
    ExpectedTrace expected;
    expected.Command("VDSP").Reply(DSP).Command("VPLD").Reply(PLD).Command("VTUN");
    if (!GetParam().reply.empty()) {
        expected.Reply(GetParam().reply);
    }
    EXPECT_EQ(Trace(), expected.Lines());
}

sim::Fault TunerFault(sim::FaultKind kind, int bytes) {
    sim::Fault fault = FaultOn(kind, "VTUN");
    fault.bytes = bytes;
    return fault;
}

INSTANTIATE_TEST_SUITE_P(Failures, TunerFailureTest,
                         ::testing::Values(TunerFailureCase{"Silence", TunerFault(sim::FaultKind::Silence, 0), ""},
                                           TunerFailureCase{"SevenBytes", TunerFault(sim::FaultKind::ShortReply, 7),
                                                            "EDU1039"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SearchTest, AScanThatFindsNothingAfterASuccessKeepsTunerAndVersion) {
    Start(Module("NUV 1.16 A01", "EDU10394"));
    SearchState state{Port(), Port(), -1, 0, 0, TUNER_UNKNOWN};
    ASSERT_EQ(Search(state), 1);
    ASSERT_EQ(state.tunerType, 5);

    sim::Scenario silent = Module();
    silent.faults.push_back(FaultOn(sim::FaultKind::Silence, "VDSP", 0));
    m_sim->Restart(silent);
    m_dialog.ClearTexts();
    m_dialog.SetButtons(true);
    const qam::test::ScopedTimeoutScale fast(1, 1000);

    EXPECT_EQ(Search(state), 0);

    EXPECT_EQ(state.moduleFound, 0);
    EXPECT_EQ(state.foundPort, -1);
    EXPECT_EQ(state.settingsSupported, 0);
    EXPECT_EQ(state.preferredPort, Port());
    EXPECT_EQ(state.tunerType, 5);
    EXPECT_EQ(m_proxy.m_tunerType, 5);
    EXPECT_EQ(m_proxy.m_firmwareVersion, 1.16);
    EXPECT_FALSE(m_link.IsOpen());
    ExpectButtons(false, false);
    EXPECT_EQ(Upper().front(), Searching(Port()));
    EXPECT_EQ(Upper().back(), "no Device found !");
    EXPECT_EQ(Lower(), std::vector<std::string>{"ready"});
    ExpectedTrace expected;
    expected.Command("VDSP");
    EXPECT_EQ(Trace(), expected.Lines());
}

TEST_F(SearchTest, APortCountAbove32IsCappedAndStoredBack) {
    Start(Module());
    SearchState state{40, Port(), -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 1);

    EXPECT_EQ(state.portCount, 32);
    EXPECT_EQ(state.foundPort, Port());
}

class NoPortTest : public SearchTest, public ::testing::WithParamInterface<int> {};

TEST_P(NoPortTest, ACountOfZeroOrLessTriesNoPortAndClosesTheLink) {
    Start(Module());
    ASSERT_EQ(m_link.Open(Port(), 115200, 1, 0), 1);
    m_dialog.SetButtons(true);
    SearchState state{GetParam(), Port(), Port(), 1, 1, 1};

    EXPECT_EQ(Search(state), 0);

    EXPECT_FALSE(m_link.IsOpen());
    EXPECT_EQ(state.portCount, GetParam());
    EXPECT_EQ(state.foundPort, -1);
    EXPECT_EQ(state.moduleFound, 0);
    EXPECT_EQ(state.settingsSupported, 0);
    EXPECT_EQ(state.tunerType, 1);
    EXPECT_TRUE(m_sim->Trace().empty());
    EXPECT_EQ(Upper(), std::vector<std::string>{"no Device found !"});
    EXPECT_EQ(Lower(), std::vector<std::string>{"ready"});
    ExpectButtons(false, false);
    ExpectCursorBack();
}

INSTANTIATE_TEST_SUITE_P(Counts, NoPortTest, ::testing::Values(0, -1, INT_MIN));

struct ExtremeCase {
    const char* name;
    int preferred;
    int count;
    std::vector<long long> ports;
};

class ExtremePortTest : public SearchTest, public ::testing::WithParamInterface<ExtremeCase> {};

TEST_P(ExtremePortTest, PreferredPortsAtTheEndsOfTheRangeDoNotOverflow) {
    Start(Module());
    const ExtremeCase& c = GetParam();
    SearchState state{c.count, c.preferred, -1, 0, 0, TUNER_UNKNOWN};

    EXPECT_EQ(Search(state), 0);

    std::vector<std::string> upper;
    for (long long port : c.ports) {
        upper.push_back(Searching(port));
    }
    upper.push_back("no Device found !");
    EXPECT_EQ(Upper(), upper);
    EXPECT_EQ(state.preferredPort, c.preferred);
    EXPECT_FALSE(m_link.IsOpen());
    EXPECT_TRUE(m_sim->Trace().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ExtremePortTest,
    ::testing::Values(ExtremeCase{"Largest", INT_MAX, 4, {INT_MAX - 4LL, INT_MAX - 3LL, INT_MAX - 2LL, INT_MAX - 1LL}},
                      ExtremeCase{"Smallest", INT_MIN, 3, {INT_MIN + 0LL, INT_MIN + 1LL, INT_MIN + 2LL}},
                      ExtremeCase{"Zero", 0, 2, {0, 1}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SearchTest, TheWaitCursorOfAnOuterOperationStays) {
    Start(Module());
    SearchState state{4, Port(), -1, 0, 0, TUNER_UNKNOWN};
    {
        const CWaitCursor outer;
        EXPECT_EQ(Search(state), 1);
        EXPECT_EQ(fw::WaitCursorCount(), m_cursorAtStart + 1);
    }
    EXPECT_EQ(fw::WaitCursorCount(), m_cursorAtStart);
    EXPECT_EQ(headless::Desktop::Instance().CursorHistory(), (std::vector<bool>{true, true, true, false}));
}

TEST_F(SearchTest, ASecondScanDropsTheConnectionAndFindsTheModuleAgain) {
    Start(Module());
    SearchState state{4, Port(), -1, 0, 0, TUNER_UNKNOWN};
    ASSERT_EQ(Search(state), 1);
    EXPECT_EQ(Search(state), 1);

    ExpectedTrace expected;
    Identified(expected);
    EXPECT_EQ(Trace(), Identified(expected).Lines());
    EXPECT_TRUE(m_link.IsOpen());
    EXPECT_EQ(state.foundPort, Port());
}

} // namespace
