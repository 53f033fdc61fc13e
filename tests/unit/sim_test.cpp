// The simulated module as the sweep's expectations rest on it: each fault does what it says,
// a module out of step answers short until "?", a reset goes silent and comes back as the new
// firmware; and its scenarios survive the text form the Windows tests send them in.
#include "tools/module-sim/ModuleModel.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace qam::sim;
using std::chrono::milliseconds;

// Feeds a command at `now` and takes what the module answers: its bytes, or "(none)".
std::string Exchange(ModuleModel& module, const std::string& command, Micros now = Micros{0}) {
    for (const char c : command) {
        module.Receive(static_cast<std::uint8_t>(c), now);
    }
    std::string answer;
    while (module.HasOutput()) {
        const Output output = module.PopOutput();
        answer.append(output.bytes.begin(), output.bytes.end());
        if (output.after == AfterOutput::HangUp) {
            answer += "|hang-up";
        }
        if (output.notBefore > now) {
            answer += "|late";
        }
    }
    return answer.empty() ? "(none)" : answer;
}

Fault On(FaultKind kind, const std::string& command, int bytes = 0) {
    Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.bytes = bytes;
    fault.reply = ToBytes("XY");
    fault.delayMs = 50;
    return fault;
}

TEST(Simulator, EachFaultStrikesItsExchangeOnly) {
    Scenario scenario;
    scenario.blockReceiveLength = 6;
    scenario.faults = {On(FaultKind::Silence, "VTUN"),    On(FaultKind::ShortReply, "VTUN", 3),
                       On(FaultKind::WrongReply, "VTUN"), On(FaultKind::Delay, "VTUN"),
                       On(FaultKind::HangUp, "VPLD", 2),  On(FaultKind::RefuseBlock, "RSTA")};
    for (const int i : {1, 2, 3}) {
        scenario.faults[static_cast<std::size_t>(i)].occurrence = i + 1; // the n-th "VTUN"
    }
    scenario.faults[4].occurrence = scenario.faults[5].occurrence = 2;
    ModuleModel module(scenario);
    EXPECT_EQ(Exchange(module, "VTUN"), "(none)");
    EXPECT_EQ(Exchange(module, "VTUN"), "STV");
    EXPECT_EQ(Exchange(module, "VTUN"), "XY");
    EXPECT_EQ(Exchange(module, "VTUN"), "STV0299B|late");
    EXPECT_EQ(Exchange(module, "VTUN"), "STV0299B");
    EXPECT_EQ(Exchange(module, "RSTA"), std::string("\x06\0\0\0\0\x01\x02\x03\x04\x05", 10));
    EXPECT_EQ(Exchange(module, "RSTA"), "<<\r\n");
    EXPECT_EQ(Exchange(module, "VPLD"), "PLD 2.03 B00");
    EXPECT_EQ(Exchange(module, "VPLD"), "PL|hang-up");
    EXPECT_FALSE(module.TakesInput());
}

TEST(Simulator, OutOfStepUntilAskedAndSilentWhileRestarting) {
    Scenario scenario;
    scenario.sync = SyncMode::ShortUntilSync;
    scenario.afterReset.dsp = "NUV 2.00 B01";
    scenario.restartMs = 1000;
    ModuleModel module(scenario);
    EXPECT_EQ(Exchange(module, "VDSP"), "NUV ");
    EXPECT_EQ(Exchange(module, "?"), "OK\r\n");
    EXPECT_EQ(Exchange(module, "VDSP"), "NUV 1.16 A01");
    EXPECT_EQ(Exchange(module, "RST0"), "NUVs");
    EXPECT_EQ(Exchange(module, "VDSP", milliseconds(999)), "(none)");
    EXPECT_EQ(Exchange(module, "VDSP", milliseconds(1001)), "NUV 2.00 B01");
    EXPECT_EQ(module.State().resets, 1);
}

TEST(Simulator, ScenariosSurviveTheirTextForm) {
    Scenario scenario;
    scenario.identification.tuner = "EDU10394";
    scenario.channels[1].settings = {1, 2, 0xFF};
    scenario.resetReply = ToBytes("OK\r\n");
    scenario.paced = true;
    scenario.faults = {On(FaultKind::HangUp, "UAPD", 4)};
    scenario.faults[0].finalReply = true;
    scenario.faults[0].atExchange = 7;
    const Scenario back = ParseScenario(SerializeScenario(scenario));
    EXPECT_EQ(back.identification.tuner, "EDU10394");
    EXPECT_EQ(back.channels[1].settings, (Bytes{1, 2, 0xFF}));
    EXPECT_EQ(back.resetReply, ToBytes("OK\r\n"));
    EXPECT_TRUE(back.paced);
    ASSERT_EQ(back.faults.size(), 1u);
    EXPECT_EQ(back.faults[0].kind, FaultKind::HangUp);
    EXPECT_EQ(back.faults[0].command, "UAPD");
    EXPECT_TRUE(back.faults[0].finalReply);
    EXPECT_EQ(back.faults[0].atExchange, 7);
    EXPECT_EQ(back.faults[0].bytes, 4);
    EXPECT_THROW(ParseScenario("no such line\n"), std::invalid_argument);
}

} // namespace
