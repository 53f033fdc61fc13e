// The factory-defaults command (its button is hidden; its command is posted as the platform would
// deliver a click): the question, both commands, every failure's boxes and status, the time-outs
// it leaves, and close requests refused while it runs.
#include "tests/integration/UpdateWindow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using headless::Box;
using qam::test::ExchangeBox;
using qam::test::FaultOn;
using qam::test::ReportBox;
using qam::test::WindowBox;
namespace sim = qam::sim;
using Commands = std::vector<std::string>;

const char* const QUESTION = "Do You Want To Reset The Modul ?";
const char* const QUESTION_CAPTION = "Start New Firmware";

void PostDefaultSettings(const CWnd& dialog) {
    headless::Desktop::Instance().PostMessage(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_DEFAULT_SETTINGS, BN_CLICKED), 0);
}

sim::Fault Wrong(const std::string& command, const std::string& reply) {
    sim::Fault fault = FaultOn(sim::FaultKind::WrongReply, command);
    fault.reply = sim::ToBytes(reply);
    return fault;
}

struct DefaultsCase {
    const char* name;
    std::function<void(sim::Scenario&)> module;
    int answer;           // to the question, when it comes
    bool closedPort;      // the port closed under the command: nothing can be written
    std::vector<std::string> boxTexts; // after the question, in order; "Execute Command" boxes marked by a leading '!'
    bool asked;
    Commands commands;
    const char* status;
    bool fast = false;
};

void PrintTo(const DefaultsCase& c, std::ostream* os) {
    *os << c.name;
}

class FactoryDefaultsTest : public qam::test::UpdateWindowTest, public ::testing::WithParamInterface<DefaultsCase> {
protected:
    static headless::Desktop& Desktop() { return headless::Desktop::Instance(); }
};

TEST_P(FactoryDefaultsTest, ClearsResetsAndReportsAsTheTableSays) {
    const DefaultsCase& c = GetParam();
    sim::Scenario scenario = Module();
    c.module(scenario);
    StartModule(scenario);
    std::optional<qam::test::ScopedTimeoutScale> fast;
    if (c.fast) {
        fast.emplace(1, 20);
    }
    std::vector<Box> expected;
    CUpdaterDialog dialog;
    std::size_t searchEnd = 0;
    Run(dialog, {[&] {
                     ASSERT_EQ(dialog.m_search.moduleFound, 1);
                     searchEnd = TraceSize();
                     if (c.closedPort) {
                         dialog.m_link.Close();
                     }
                     Control(dialog, IDC_STATUS_LOWER).texts.clear();
                     qam::test::ClearAskedTimeouts();
                     if (c.asked) {
                         expected.push_back(WindowBox(dialog, QUESTION, QUESTION_CAPTION, MB_YESNO, c.answer));
                     }
                     for (const std::string& text : c.boxTexts) {
                         expected.push_back(text.front() == '!' ? ExchangeBox(text.substr(1)) : ReportBox(dialog, text));
                     }
                     for (const Box& box : expected) {
                         Desktop().ScriptBox(box.text, box.answer);
                     }
                     Control(dialog, IDC_UPDATE).enabled = true;
                     PostDefaultSettings(dialog);
                 },
                 [&] {
                     EXPECT_EQ(Desktop().Boxes(), expected);
                     EXPECT_EQ(CommandsAfter(searchEnd), c.commands);
                     EXPECT_EQ(LowerNow(dialog), c.status);
                     EXPECT_TRUE(WindowOf(dialog).enabled);
                     EXPECT_EQ(fw::WaitCursorCount(), 0);
                     // The window's module state stays as it was; the port is neither opened nor closed.
                     EXPECT_EQ(dialog.m_search.moduleFound, 1);
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     EXPECT_EQ(dialog.m_link.IsOpen(), !c.closedPort);
                     EXPECT_EQ(qam::test::AskedTimeouts(),
                               (std::vector<qam::link::Timeouts>{qam::link::Timeouts{100, 50, 10000, 50, 500}}));
                 }});
}

INSTANTIATE_TEST_SUITE_P(
    Table, FactoryDefaultsTest,
    ::testing::Values(
        DefaultsCase{"ResetAnsweredNuvsIsSuccess", [](sim::Scenario&) {}, IDYES, false, {}, true, {"CPRM", "RST0"},
                     "All Settings Set To Default!"},
        DefaultsCase{"ResetAnsweredOkIsSuccess", [](sim::Scenario& s) { s.resetReply = sim::ToBytes("OK\r\n"); },
                     IDYES, false, {}, true, {"CPRM", "RST0"}, "All Settings Set To Default!"},
        DefaultsCase{"OperatorAnswersNoSettingsErasedModuleNotReset", [](sim::Scenario&) {}, IDNO, false, {}, true,
                     {"CPRM"}, "All Settings Set To Default!"},
        DefaultsCase{"ClearNotWrittenIsComWrite", [](sim::Scenario&) {}, IDYES, true,
                     {"!Can Not Write to COM!", "Can Not Write To COM"}, false, {}, "Error: Settings Unknown"},
        DefaultsCase{"ClearWithoutReplyIsNoResponse",
                     [](sim::Scenario& s) { s.faults.push_back(FaultOn(sim::FaultKind::Silence, "CPRM")); }, IDYES,
                     false, {"!No Response!", "No Response"}, false, {"CPRM"}, "Error: Settings Unknown", true},
        DefaultsCase{"ClearWrongReplyIsBadResponse", [](sim::Scenario& s) { s.faults.push_back(Wrong("CPRM", "NO\r\n")); },
                     IDYES, false, {"!Unexpected Response! [NO]", "Invalid Response [ NO ]"}, false, {"CPRM"},
                     "Error: Settings Unknown"},
        DefaultsCase{"ResetWithoutReplyShowsOnlyTheReport",
                     [](sim::Scenario& s) { s.faults.push_back(FaultOn(sim::FaultKind::Silence, "RST0")); }, IDYES,
                     false, {"No Response"}, true, {"CPRM", "RST0"}, "Error: Settings Unknown", true},
        DefaultsCase{"ResetAnsweredNuvxShowsItsLetters", [](sim::Scenario& s) { s.resetReply = sim::ToBytes("NUVx"); },
                     IDYES, false, {"Invalid Response [ NUVx ]"}, true, {"CPRM", "RST0"}, "Error: Settings Unknown"}),
    [](const ::testing::TestParamInfo<DefaultsCase>& param) { return std::string(param.param.name); });

class FactoryDefaultsRunTest : public qam::test::UpdateWindowTest {};

TEST_F(FactoryDefaultsRunTest, StatusTextsRepaintAndTheResetReplyKept) {
    StartModule(Module());
    Desktop().ScriptBox(QUESTION, IDYES);
    CUpdaterDialog dialog;
    int repaintsBefore = 0;
    Run(dialog, {[&] {
                     Control(dialog, IDC_STATUS_LOWER).texts.clear();
                     repaintsBefore = WindowOf(dialog).repaints;
                     PostDefaultSettings(dialog);
                 },
                 [&] {
                     EXPECT_EQ(Lower(dialog), (std::vector<std::string>{"Clearing FLASH Area...", "",
                                                                        "Reseting Module ...",
                                                                        "All Settings Set To Default!"}));
                     EXPECT_EQ(WindowOf(dialog).repaints, repaintsBefore + 1);
                     std::array<char, 16> reply{};
                     std::memcpy(reply.data(), "NUVs", 4);
                     EXPECT_EQ(dialog.m_lastResetReply, reply);
                     EXPECT_EQ(m_sim->State().settingsClears, 1);
                     EXPECT_EQ(m_sim->State().resets, 1);
                 }});
}

// The window that, when the command repaints it, meets a close request and the shutdown query as
// the question box's message loop would deliver them.
class CloseDuringCommandDialog : public CUpdaterDialog {
public:
    const fw::MessageMap* GetMessageMap() const override { return &map; }

    void OnPaintRequest() {
        if (m_requests-- > 0) {
            SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            m_endSession = SendMessage(WM_QUERYENDSESSION, 0, 0);
        }
    }

    int m_requests = 0;
    LRESULT m_endSession = -1;

    static constexpr fw::MessageMapEntry entries[] = {fw::OnMessage<&CloseDuringCommandDialog::OnPaintRequest>(WM_PAINT)};
    static inline const fw::MessageMap map{&CUpdaterDialog::messageMap, entries};
};

TEST_F(FactoryDefaultsRunTest, ACloseRequestWhileItRunsIsRefused) {
    StartModule(Module());
    Desktop().ScriptBox(QUESTION, IDYES);
    CloseDuringCommandDialog dialog;
    bool checked = false;
    Run(dialog, {[&] {
                     dialog.m_requests = 1;
                     PostDefaultSettings(dialog);
                 },
                 [&] {
                     checked = true;
                     EXPECT_EQ(dialog.m_endSession, FALSE);
                     EXPECT_TRUE(dialog.m_link.IsOpen());
                     EXPECT_TRUE(Registry().Writes().empty());
                     EXPECT_EQ(LowerNow(dialog), "All Settings Set To Default!");
                     EXPECT_EQ(m_sim->State().resets, 1) << "the command went on after the refused close";
                     EXPECT_EQ(dialog.SendMessage(WM_QUERYENDSESSION, 0, 0), TRUE);
                 }});
    EXPECT_TRUE(checked) << "the window ended while the command ran";
    EXPECT_FALSE(Registry().Writes().empty());
}

} // namespace
