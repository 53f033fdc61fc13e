#include "tools/module-sim/Scenario.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace qam::sim {
namespace {

using namespace std::chrono_literals;

Scenario RichScenario() {
    Scenario scenario;
    scenario.identification = {"XYZ 0.99 \"q\"", "PLD\\1.00 \t", "EDU10394"};
    scenario.afterReset = {"NUV 1.17 A02", "PLD 2.04 B01", "MB86A1x "};
    scenario.sync = SyncMode::ShortUntilSync;
    scenario.channels[0].settings = Bytes{0x00, 0xFF, 0x10, '"', '\\'};
    scenario.channels[0].bls = ToBytes("plain text\r\n");
    scenario.channels[1].filter = Bytes(1024, 0xA5);
    scenario.channels[1].settings = {};
    scenario.resetReply = ToBytes("NUVs");
    scenario.restartMs = 1234;
    scenario.eraseMs = 56;
    scenario.blockReceiveLength = 65536;
    scenario.paced = true;
    Fault hangUp;
    hangUp.kind = FaultKind::HangUp;
    hangUp.command = "UAPP";
    hangUp.occurrence = 2;
    hangUp.bytes = 4096;
    Fault wrong;
    wrong.kind = FaultKind::WrongReply;
    wrong.atExchange = 7;
    wrong.reply = Bytes{'<', '<', '\r', '\n', 0};
    wrong.delayMs = 9;
    wrong.finalReply = true;
    scenario.faults = {hangUp, wrong};
    return scenario;
}

TEST(SimScenario, RoundTripKeepsEveryField) {
    const Scenario original = RichScenario();
    const std::string text = SerializeScenario(original);
    const Scenario parsed = ParseScenario(text);
    EXPECT_EQ(SerializeScenario(parsed), text);

    EXPECT_EQ(parsed.identification.dsp, original.identification.dsp);
    EXPECT_EQ(parsed.identification.pld, original.identification.pld);
    EXPECT_EQ(parsed.afterReset.tuner, "MB86A1x ");
    EXPECT_EQ(parsed.sync, SyncMode::ShortUntilSync);
    EXPECT_EQ(parsed.channels[0].settings, original.channels[0].settings);
    EXPECT_EQ(parsed.channels[0].bls, original.channels[0].bls);
    EXPECT_EQ(parsed.channels[1].filter, original.channels[1].filter);
    EXPECT_TRUE(parsed.channels[1].settings.empty());
    EXPECT_EQ(parsed.restartMs, 1234);
    EXPECT_EQ(parsed.eraseMs, 56);
    EXPECT_EQ(parsed.blockReceiveLength, 65536);
    EXPECT_TRUE(parsed.paced);
    ASSERT_EQ(parsed.faults.size(), 2u);
    EXPECT_EQ(parsed.faults[0].kind, FaultKind::HangUp);
    EXPECT_EQ(parsed.faults[0].command, "UAPP");
    EXPECT_EQ(parsed.faults[0].occurrence, 2);
    EXPECT_EQ(parsed.faults[0].bytes, 4096);
    EXPECT_EQ(parsed.faults[1].atExchange, 7);
    EXPECT_EQ(parsed.faults[1].reply, original.faults[1].reply);
    EXPECT_EQ(parsed.faults[1].delayMs, 9);
    EXPECT_TRUE(parsed.faults[1].finalReply);
}

TEST(SimScenario, DefaultScenarioRoundTrips) {
    const Scenario parsed = ParseScenario(SerializeScenario(Scenario{}));
    EXPECT_EQ(SerializeScenario(parsed), SerializeScenario(Scenario{}));
    EXPECT_EQ(parsed.identification.dsp, "NUV 1.16 A01");
    EXPECT_EQ(parsed.channels[0].filter.size(), 1024u);
}

TEST(SimScenario, HandWrittenTextLeavesTheRestAtDefaults) {
    const Scenario parsed = ParseScenario("# a module that needs a resync\n"
                                          "\n"
                                          "sync AlwaysShort\n"
                                          "  identification.tuner \"CE6313  \"\r\n"
                                          "channel1.settings hex:0a0B\n"
                                          "fault kind=Delay command=\"RST0\" delayMs=250\n");
    EXPECT_EQ(parsed.sync, SyncMode::AlwaysShort);
    EXPECT_EQ(parsed.identification.tuner, "CE6313  ");
    EXPECT_EQ(parsed.identification.dsp, "NUV 1.16 A01");
    EXPECT_EQ(parsed.channels[1].settings, (Bytes{0x0A, 0x0B}));
    ASSERT_EQ(parsed.faults.size(), 1u);
    EXPECT_EQ(parsed.faults[0].kind, FaultKind::Delay);
    EXPECT_EQ(parsed.faults[0].command, "RST0");
    EXPECT_EQ(parsed.faults[0].delayMs, 250);
    EXPECT_EQ(parsed.faults[0].occurrence, 1);
    EXPECT_EQ(parsed.restartMs, 3000);
}

TEST(SimScenario, EscapesInQuotedTexts) {
    const Scenario parsed = ParseScenario("resetReply \"N\\x55V\\0\\r\\n\\t\\\\\\\"\"\n");
    EXPECT_EQ(parsed.resetReply, (Bytes{'N', 'U', 'V', 0, '\r', '\n', '\t', '\\', '"'}));
}

TEST(SimScenario, BadTextIsRejected) {
    for (const char* text : {
             "restartMs soon\n",
             "restartMs 99999999999\n",
             "noSuchKey 1\n",
             "sync Sometimes\n",
             "paced maybe\n",
             "resetReply NUVs\n",
             "resetReply \"NUVs\n",
             "resetReply hex:abc\n",
             "resetReply hex:zz\n",
             "resetReply \"\\q\"\n",
             "resetReply \"\\x4\"\n",
             "channel2.bls \"\"\n",
             "channel0.colour \"\"\n",
             "fault kind=Sometimes\n",
             "fault kind=Silence colour=1\n",
             "fault Silence\n",
             "eraseMs 1 2\n",
         }) {
        EXPECT_THROW(ParseScenario(text), std::invalid_argument) << text;
    }
}

TEST(SimTrace, RoundTripKeepsTimes) {
    const std::vector<TraceEntry> trace = {
        {1, Direction::ToModule, ToBytes("VDSP"), 12us},
        {1, Direction::FromModule, ToBytes("NUV 1.16 A01"), 40us},
        {0, Direction::ToModule, Bytes{0xFF, 0x00}, 1000000us},
        {2, Direction::FromModule, Bytes(300, 7), 1234567us},
        {3, Direction::FromModule, Bytes{}, 2000000us},
    };
    const std::vector<TraceEntry> parsed = ParseTrace(SerializeTrace(trace));
    EXPECT_EQ(parsed, trace);
    ASSERT_EQ(parsed.size(), trace.size());
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(parsed[i].time, trace[i].time) << i;
    }
    EXPECT_TRUE(ParseTrace(SerializeTrace({})).empty());
}

TEST(SimTrace, BadLinesAreRejected) {
    EXPECT_THROW(ParseTrace("1 = 5 \"x\"\n"), std::invalid_argument);
    EXPECT_THROW(ParseTrace("1 > 5\n"), std::invalid_argument);
    EXPECT_THROW(ParseTrace("x > 5 \"a\"\n"), std::invalid_argument);
}

TEST(SimTrace, DescribeIsReadable) {
    EXPECT_EQ(Describe({1, Direction::ToModule, ToBytes("VDSP"), {}}), "> VDSP");
    EXPECT_EQ(Describe({1, Direction::FromModule, ToBytes("OK\r\n"), {}}), "< OK\\r\\n");
    EXPECT_EQ(Describe({1, Direction::ToModule, Bytes{'p', '+', 0xFF, 0x1F}, {}}), "> p+\\xff\\x1f");
    EXPECT_EQ(Describe({4, Direction::ToModule, Bytes(262140), {}}), "> [len 262140]");
    EXPECT_EQ(Describe({0, Direction::ToModule, ToBytes("VD"), {}}), "> (dropped) VD");
}

TEST(SimState, RoundTripKeepsEveryField) {
    ModuleState state;
    state.flash[0] = Bytes(5000, 0x3C);
    state.flash[2] = ToBytes("code");
    state.flashClears = {1, 2, 3};
    state.uploadsWithoutClear = {0, 1, 0};
    state.settingsClears = 4;
    state.resets = 5;
    state.commits = 6;
    state.selectedChannel = 1;
    state.hungUp = true;
    state.channels[0].content.settings = ToBytes("settings");
    state.channels[0].setCommands = {"J001", "LNDA", "p+ x"};
    state.channels[0].values = {{"J", 1}, {"LND", 10}};
    state.channels[1].filterBitsAdded = {0, 7, 8191};
    state.channels[1].wbls = Bytes{1, 2, 3};
    state.channels[1].wplp = Bytes{0x10, 0x01};

    const std::string text = SerializeState(state);
    const ModuleState parsed = ParseState(text);
    EXPECT_EQ(SerializeState(parsed), text);
    EXPECT_EQ(parsed.flash, state.flash);
    EXPECT_EQ(parsed.flashClears, state.flashClears);
    EXPECT_EQ(parsed.uploadsWithoutClear, state.uploadsWithoutClear);
    EXPECT_EQ(parsed.settingsClears, 4);
    EXPECT_EQ(parsed.resets, 5);
    EXPECT_EQ(parsed.commits, 6);
    EXPECT_EQ(parsed.selectedChannel, 1);
    EXPECT_TRUE(parsed.hungUp);
    EXPECT_EQ(parsed.channels[0].content.settings, ToBytes("settings"));
    EXPECT_EQ(parsed.channels[0].setCommands, state.channels[0].setCommands);
    EXPECT_EQ(parsed.channels[0].values, state.channels[0].values);
    EXPECT_EQ(parsed.channels[1].filterBitsAdded, state.channels[1].filterBitsAdded);
    EXPECT_EQ(parsed.channels[1].wbls, state.channels[1].wbls);
    EXPECT_EQ(parsed.channels[1].wplp, state.channels[1].wplp);
}

TEST(SimState, BadTextIsRejected) {
    EXPECT_THROW(ParseState("flash.Video \"\"\n"), std::invalid_argument);
    EXPECT_THROW(ParseState("channel0.value J\n"), std::invalid_argument);
    EXPECT_THROW(ParseState("resets many\n"), std::invalid_argument);
}

} // namespace
} // namespace qam::sim
