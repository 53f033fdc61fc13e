#include "tools/module-sim/ModuleModel.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace qam::sim {
namespace {

using namespace std::chrono_literals;

Bytes B(std::string_view text) {
    return ToBytes(text);
}

Bytes LengthWord(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

TraceEntry To(int exchange, Bytes bytes) {
    return {exchange, Direction::ToModule, std::move(bytes), {}};
}
TraceEntry From(int exchange, Bytes bytes) {
    return {exchange, Direction::FromModule, std::move(bytes), {}};
}

std::vector<std::string> Lines(const std::vector<TraceEntry>& trace) {
    std::vector<std::string> lines;
    for (const TraceEntry& entry : trace) {
        lines.push_back(std::to_string(entry.exchange) + " " + Describe(entry));
    }
    return lines;
}

// Feeds the model byte by byte, one microsecond apart, and collects what it sends.
class ModelLine {
public:
    explicit ModelLine(Scenario scenario = {}) : m_model(std::move(scenario)) {}

    // Everything the module sends in answer to these bytes, joined.
    Bytes Send(const Bytes& bytes) {
        Bytes out;
        for (const Output& output : SendForOutputs(bytes)) {
            out.insert(out.end(), output.bytes.begin(), output.bytes.end());
        }
        return out;
    }
    Bytes Send(std::string_view text) { return Send(B(text)); }

    std::vector<Output> SendForOutputs(const Bytes& bytes) {
        std::vector<Output> outputs;
        for (std::uint8_t byte : bytes) {
            m_model.Receive(byte, m_now);
            m_now += 1us;
            while (m_model.HasOutput()) {
                outputs.push_back(m_model.PopOutput());
            }
        }
        return outputs;
    }

    void Wait(Micros time) { m_now += time; }
    Micros Now() const { return m_now; }
    ModuleModel& Model() { return m_model; }

private:
    ModuleModel m_model;
    Micros m_now{1000};
};

Scenario WithFault(Fault fault) {
    Scenario scenario;
    scenario.channels[0].settings = B("SETTINGS-0");
    scenario.channels[0].bls = B("BLS-0");
    scenario.faults.push_back(std::move(fault));
    return scenario;
}

Fault FaultOn(std::string command, FaultKind kind, int bytes = 0) {
    Fault fault;
    fault.kind = kind;
    fault.command = std::move(command);
    fault.bytes = bytes;
    return fault;
}

TEST(SimModel, IdentificationCommandsAnswerWithTheirFixedSizes) {
    ModelLine line;
    EXPECT_EQ(line.Send("VDSP"), B("NUV 1.16 A01"));
    EXPECT_EQ(line.Send("VPLD"), B("PLD 2.03 B00"));
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
    EXPECT_EQ(line.Send("?"), B("OK\r\n"));
    EXPECT_EQ(line.Model().ExchangeCount(), 4);
}

TEST(SimModel, ShortUntilSyncAnswersFourBytesUntilAQuestionMark) {
    Scenario scenario;
    scenario.sync = SyncMode::ShortUntilSync;
    ModelLine line(scenario);
    EXPECT_EQ(line.Send("VDSP"), B("NUV "));
    EXPECT_EQ(line.Send("VDSP"), B("NUV "));
    EXPECT_EQ(line.Send("?"), B("OK\r\n"));
    EXPECT_EQ(line.Send("VDSP"), B("NUV 1.16 A01"));
}

TEST(SimModel, AlwaysShortStaysShortAfterAQuestionMark) {
    Scenario scenario;
    scenario.sync = SyncMode::AlwaysShort;
    ModelLine line(scenario);
    EXPECT_EQ(line.Send("VDSP"), B("NUV "));
    EXPECT_EQ(line.Send("?"), B("OK\r\n"));
    EXPECT_EQ(line.Send("VDSP"), B("NUV "));
    EXPECT_EQ(line.Send("VPLD"), B("PLD 2.03 B00"));
}

TEST(SimModel, QuestionMarkInsideACommandIsPartOfTheCommand) {
    ModelLine line;
    EXPECT_EQ(line.Send(Bytes{'p', '+', '?', 0}), B("OK\r\n"));
    EXPECT_EQ(line.Model().State().channels[0].filterBitsAdded, std::vector<int>{'?'});
}

TEST(SimModel, ChannelSelectionDecidesWhatTheReadsServe) {
    Scenario scenario;
    scenario.channels[0].settings = B("zero-settings");
    scenario.channels[0].bls = B("zero-bls");
    scenario.channels[1].settings = B("one-settings");
    scenario.channels[1].bls = B("one-bls");
    scenario.channels[1].filter[1023] = 0x80;
    ModelLine line(scenario);

    EXPECT_EQ(line.Send("RSTA"), Concat({LengthWord(13), B("zero-settings")}));
    EXPECT_EQ(line.Send("c001"), B("OK\r\n"));
    EXPECT_EQ(line.Send("RSTA"), Concat({LengthWord(12), B("one-settings")}));
    EXPECT_EQ(line.Send("RBLS"), Concat({LengthWord(7), B("one-bls")}));
    const Bytes filter = line.Send("RFLT");
    ASSERT_EQ(filter.size(), 1024u);
    EXPECT_EQ(filter, scenario.channels[1].filter);
    EXPECT_EQ(line.Send("c000"), B("OK\r\n"));
    EXPECT_EQ(line.Send("RBLS"), Concat({LengthWord(8), B("zero-bls")}));
    EXPECT_EQ(line.Model().State().selectedChannel, 0);
}

TEST(SimModel, BlockReceiveLengthOverridesTheContent) {
    Scenario scenario;
    scenario.blockReceiveLength = 65536;
    ModelLine line(scenario);
    const Bytes reply = line.Send("RSTA");
    ASSERT_EQ(reply.size(), 4u + 65536u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), LengthWord(65536));
    for (std::size_t i = 0; i < 65536; ++i) {
        ASSERT_EQ(reply[4 + i], static_cast<std::uint8_t>(i)) << i;
    }
}

TEST(SimModel, WildBlockReceiveLengthIsServedAtSixteenMegabytes) {
    Scenario scenario;
    scenario.blockReceiveLength = 0x7FFFFFFF;
    ModelLine line(scenario);
    const Bytes reply = line.Send("RSTA");
    ASSERT_EQ(reply.size(), 4u + (16u << 20));
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), LengthWord(16u << 20));
}

TEST(SimModel, BlockReceiveLengthZeroSendsJustTheZeroWord) {
    Scenario scenario;
    scenario.blockReceiveLength = 0;
    ModelLine line(scenario);
    EXPECT_EQ(line.Send("RBLS"), LengthWord(0));
}

struct SetCase {
    std::string command;
    std::string name;
    int value;
};

TEST(SimModel, SetCommandsAreRecordedByName) {
    const std::vector<SetCase> cases = {
        {"LNB5", "LNB", 5}, {"LNDA", "LND", 10}, {"LND0", "LND", 0}, {"I001", "I", 1},   {"i234", "i", 234},
        {"J065", "J", 65},  {"j535", "j", 535},  {"M712", "M", 712}, {"H000", "H", 0},   {"h819", "h", 819},
        {"S001", "S", 1},   {"s024", "s", 24},   {"Q008", "Q", 8},   {"y999", "y", 999},
    };
    ModelLine line;
    std::vector<std::string> commands;
    for (const SetCase& set : cases) {
        EXPECT_EQ(line.Send(set.command), B("OK\r\n")) << set.command;
        EXPECT_EQ(line.Model().State().channels[0].values.at(set.name), set.value) << set.command;
        commands.push_back(set.command);
    }
    EXPECT_EQ(line.Model().State().channels[0].setCommands, commands);
    EXPECT_TRUE(line.Model().State().channels[1].setCommands.empty());
}

TEST(SimModel, SetCommandsGoToTheSelectedChannel) {
    ModelLine line;
    line.Send("c001");
    line.Send("S002");
    line.Send(Bytes{'p', '+', 0xFF, 0x1F});
    line.Send(Bytes{'p', '+', 0x00, 0x00});
    const ModuleState& state = line.Model().State();
    EXPECT_EQ(state.channels[1].setCommands, std::vector<std::string>{"S002"});
    EXPECT_EQ(state.channels[1].filterBitsAdded, (std::vector<int>{8191, 0}));
    EXPECT_TRUE(state.channels[0].setCommands.empty());
    EXPECT_TRUE(state.channels[0].filterBitsAdded.empty());
}

TEST(SimModel, MalformedSetCommandsAreUnknownAndUnanswered) {
    ModelLine line;
    for (std::string_view command : {"J1x3", "LNBx", "LNDa", "c002", "XXXX"}) {
        EXPECT_EQ(line.Send(command), Bytes{}) << command;
    }
    EXPECT_EQ(line.Model().ExchangeCount(), 5);
    EXPECT_TRUE(line.Model().State().channels[0].values.empty());
}

TEST(SimModel, UploadAfterClearHoldsExactlyTheBlock) {
    ModelLine line;
    const Bytes data = B("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    EXPECT_EQ(line.Send("UAPP"), B("OK\r\n"));
    line.Send(Concat({LengthWord(4), B("old!")}));
    EXPECT_EQ(line.Send("CAPP"), B("OK\r\n"));
    EXPECT_EQ(line.Send("UAPP"), B("OK\r\n"));
    EXPECT_EQ(line.Send(LengthWord(40)), Bytes{});
    EXPECT_EQ(line.Send(data), B("OK\r\n"));

    const ModuleState& state = line.Model().State();
    EXPECT_EQ(state.flash[static_cast<int>(FlashArea::AppCode)], data);
    EXPECT_EQ(state.flashClears, (std::array<int, 3>{0, 0, 1}));
    EXPECT_EQ(state.uploadsWithoutClear, (std::array<int, 3>{0, 0, 1}));
    EXPECT_TRUE(state.flash[static_cast<int>(FlashArea::Fpga)].empty());
}

TEST(SimModel, UploadWithoutClearIsAppendedAndCounted) {
    ModelLine line;
    line.Send("CPLD");
    line.Send("UPLD");
    line.Send(Concat({LengthWord(3), B("abc")}));
    line.Send("UPLD");
    EXPECT_EQ(line.Send(Concat({LengthWord(2), B("de")})), B("OK\r\n"));
    EXPECT_EQ(line.Model().State().flash[0], B("abcde"));
    EXPECT_EQ(line.Model().State().uploadsWithoutClear[0], 1);
}

TEST(SimModel, EmptyBlockIsAnsweredAfterItsLengthWord) {
    ModelLine line;
    line.Send("CAPD");
    line.Send("UAPD");
    EXPECT_EQ(line.Send(LengthWord(0)), B("OK\r\n"));
    EXPECT_EQ(Lines(line.Model().Trace()),
              (std::vector<std::string>{"1 > CAPD", "1 < OK\\r\\n", "2 > UAPD", "2 < OK\\r\\n",
                                        "2 > \\x00\\x00\\x00\\x00", "2 < OK\\r\\n"}));
}

TEST(SimModel, BlockLongerThanItsAreaIsRefusedAtTheEndAndNotStored) {
    ModelLine line;
    line.Send("c001");
    line.Send("WBLS");
    Bytes data(300, 0x55);
    EXPECT_EQ(line.Send(Concat({LengthWord(300), data})), B("<<\r\n"));
    EXPECT_TRUE(line.Model().State().channels[1].wbls.empty());
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
}

TEST(SimModel, ChannelBlocksAreStoredPerChannel) {
    ModelLine line;
    line.Send("c001");
    line.Send("WPLP");
    EXPECT_EQ(line.Send(Concat({LengthWord(2), Bytes{0x07, 0x01}})), B("OK\r\n"));
    line.Send("WBLS");
    EXPECT_EQ(line.Send(Concat({LengthWord(5), B("hello")})), B("OK\r\n"));
    EXPECT_EQ(line.Model().State().channels[1].wplp, (Bytes{0x07, 0x01}));
    EXPECT_EQ(line.Model().State().channels[1].wbls, B("hello"));
    EXPECT_TRUE(line.Model().State().channels[0].wbls.empty());
}

TEST(SimModel, EraseCommandsAnswerAfterTheEraseTime) {
    Scenario scenario;
    scenario.eraseMs = 250;
    for (std::string_view command : {"CPRM", "CPLD", "CAPD", "CAPP"}) {
        ModelLine line(scenario);
        const std::vector<Output> outputs = line.SendForOutputs(B(command));
        ASSERT_EQ(outputs.size(), 1u) << command;
        EXPECT_EQ(outputs[0].bytes, B("OK\r\n"));
        EXPECT_EQ(outputs[0].notBefore, line.Now() - 1us + 250ms) << command;
    }
}

TEST(SimModel, CprmAndZallCount) {
    ModelLine line;
    EXPECT_EQ(line.Send("CPRM"), B("OK\r\n"));
    EXPECT_EQ(line.Send("ZAll"), B("OK\r\n"));
    EXPECT_EQ(line.Send("ZAll"), B("OK\r\n"));
    EXPECT_EQ(line.Model().State().settingsClears, 1);
    EXPECT_EQ(line.Model().State().commits, 2);
}

TEST(SimModel, ResetGoesSilentDropsWhatComesAndRestartsAsTheNewFirmware) {
    Scenario scenario;
    scenario.restartMs = 3000;
    scenario.afterReset.dsp = "NUV 1.17 A02";
    scenario.afterReset.tuner = "EDU10394";
    ModelLine line(scenario);
    EXPECT_EQ(line.Send("RST0"), B("NUVs"));
    EXPECT_EQ(line.Send("VDSP"), Bytes{});
    line.Wait(1000ms);
    EXPECT_EQ(line.Send("?"), Bytes{});
    line.Wait(2000ms);
    EXPECT_EQ(line.Send("VDSP"), B("NUV 1.17 A02"));
    EXPECT_EQ(line.Send("VTUN"), B("EDU10394"));
    EXPECT_EQ(line.Model().State().resets, 1);
    EXPECT_EQ(Lines(line.Model().Trace()),
              (std::vector<std::string>{"1 > RST0", "1 < NUVs", "0 > (dropped) VDSP?", "2 > VDSP",
                                        "2 < NUV 1.17 A02", "3 > VTUN", "3 < EDU10394"}));
}

TEST(SimModel, UnknownCommandIsTracedCountedAndUnanswered) {
    ModelLine line;
    EXPECT_EQ(line.Send("ABCD"), Bytes{});
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
    EXPECT_EQ(line.Model().Trace(),
              (std::vector<TraceEntry>{To(1, B("ABCD")), To(2, B("VTUN")), From(2, B("STV0299B"))}));
}

TEST(SimModel, APausedPartialCommandIsDropped) {
    ModelLine line;
    EXPECT_EQ(line.Send("VD"), Bytes{});
    line.Wait(1500ms);
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
    EXPECT_EQ(Lines(line.Model().Trace()),
              (std::vector<std::string>{"0 > (dropped) VD", "1 > VTUN", "1 < STV0299B"}));
}

TEST(SimModel, AbandonedBlockDataIsDroppedAndFramingResumes) {
    ModelLine line;
    line.Send("CPLD");
    line.Send("UPLD");
    line.Send(Concat({LengthWord(100), B("only-this")}));
    line.Wait(2000ms);
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
    EXPECT_TRUE(line.Model().State().flash[0].empty());
    EXPECT_EQ(Lines(line.Model().Trace()).at(5), "0 > (dropped) only-this");
}

TEST(SimModel, WholeSettingsReadTrace) {
    Scenario scenario;
    scenario.channels[1].settings = B("0123456789ABCDEFGH");
    ModelLine line(scenario);
    line.Send("c001");
    line.Send("RSTA");
    line.Send("RFLT");
    EXPECT_EQ(line.Model().Trace(),
              (std::vector<TraceEntry>{To(1, B("c001")), From(1, B("OK\r\n")), To(2, B("RSTA")),
                                       From(2, LengthWord(18)), From(2, B("0123456789ABCDEFGH")),
                                       To(3, B("RFLT")), From(3, Bytes(1024))}));
}

// How every fault kind strikes every kind of exchange.
struct FaultCase {
    const char* name;
    Fault fault;
    std::vector<Bytes> send; // what the tool sends, in turn
    Bytes expectedReply;     // everything the module sends
    bool hangsUp = false;
    bool freezes = false;
};

Fault With(Fault fault, Bytes reply, int delayMs = 0, bool finalReply = false) {
    fault.reply = std::move(reply);
    fault.delayMs = delayMs;
    fault.finalReply = finalReply;
    return fault;
}

class SimModelFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(SimModelFaults, StrikesAsDocumented) {
    const FaultCase& test = GetParam();
    ModelLine line(WithFault(test.fault));
    Bytes reply;
    bool hungUp = false;
    for (const Bytes& bytes : test.send) {
        for (const Output& output : line.SendForOutputs(bytes)) {
            reply.insert(reply.end(), output.bytes.begin(), output.bytes.end());
            hungUp = hungUp || output.after == AfterOutput::HangUp;
        }
    }
    EXPECT_EQ(Describe({1, Direction::FromModule, reply, {}}),
              Describe({1, Direction::FromModule, test.expectedReply, {}}));
    EXPECT_EQ(reply, test.expectedReply);
    EXPECT_EQ(hungUp, test.hangsUp);
    EXPECT_EQ(line.Model().Frozen(), test.freezes);
    EXPECT_EQ(line.Model().TakesInput(), !test.hangsUp && !test.freezes);
}

const Bytes kUpload = Concat({LengthWord(6), B("abcdef")});

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimModelFaults,
    testing::Values(
        FaultCase{"PlainSilence", FaultOn("VDSP", FaultKind::Silence), {B("VDSP")}, {}},
        FaultCase{"PlainShort", FaultOn("VDSP", FaultKind::ShortReply, 5), {B("VDSP")}, B("NUV 1")},
        FaultCase{"PlainWrong",
                  With(FaultOn("VTUN", FaultKind::WrongReply), B("CE6313  ")),
                  {B("VTUN")},
                  B("CE6313  ")},
        FaultCase{"PlainRefuse", FaultOn("c000", FaultKind::RefuseBlock), {B("c000")}, B("<<\r\n")},
        FaultCase{"PlainStop",
                  FaultOn("VPLD", FaultKind::StopMidBlock, 3),
                  {B("VPLD"), B("VTUN")},
                  B("PLD"),
                  false,
                  true},
        FaultCase{"PlainHangUp", FaultOn("VPLD", FaultKind::HangUp, 2), {B("VPLD")}, B("PL"), true},
        FaultCase{"SyncSilence", FaultOn("?", FaultKind::Silence), {B("?"), B("VTUN")}, B("STV0299B")},
        FaultCase{"ReceiveSilence", FaultOn("RSTA", FaultKind::Silence), {B("RSTA")}, {}},
        FaultCase{"ReceiveShort", FaultOn("RSTA", FaultKind::ShortReply, 2), {B("RSTA")}, Bytes{10, 0}},
        FaultCase{"ReceiveWrong",
                  With(FaultOn("RSTA", FaultKind::WrongReply), B(">>\r\n")),
                  {B("RSTA")},
                  B(">>\r\n")},
        FaultCase{"ReceiveRefuse", FaultOn("RBLS", FaultKind::RefuseBlock), {B("RBLS")}, B("<<\r\n")},
        FaultCase{"ReceiveStop",
                  FaultOn("RSTA", FaultKind::StopMidBlock, 4),
                  {B("RSTA")},
                  Concat({LengthWord(10), B("SETT")}),
                  false,
                  true},
        FaultCase{"ReceiveHangUp",
                  FaultOn("RSTA", FaultKind::HangUp, 3),
                  {B("RSTA")},
                  Concat({LengthWord(10), B("SET")}),
                  true},
        FaultCase{"RawShort", FaultOn("RFLT", FaultKind::ShortReply, 1000), {B("RFLT")}, Bytes(1000)},
        FaultCase{"RawRefuse", FaultOn("RFLT", FaultKind::RefuseBlock), {B("RFLT")}, B("<<\r\n")},
        FaultCase{
            "RawStop", FaultOn("RFLT", FaultKind::StopMidBlock, 100), {B("RFLT")}, Bytes(100), false, true},
        FaultCase{"SendSilenceTakesTheBlock",
                  FaultOn("UPLD", FaultKind::Silence),
                  {B("UPLD"), kUpload},
                  B("OK\r\n")},
        FaultCase{"SendShortTakesNoBlock",
                  FaultOn("UPLD", FaultKind::ShortReply, 2),
                  {B("UPLD"), B("VTUN")},
                  B("OKSTV0299B")},
        FaultCase{"SendRefuseTakesNoBlock",
                  FaultOn("UAPP", FaultKind::RefuseBlock),
                  {B("UAPP"), B("VTUN")},
                  B("<<\r\nSTV0299B")},
        FaultCase{"SendFinalSilence",
                  With(FaultOn("UPLD", FaultKind::Silence), {}, 0, true),
                  {B("UPLD"), kUpload},
                  B("OK\r\n")},
        FaultCase{"SendFinalWrong",
                  With(FaultOn("WBLS", FaultKind::WrongReply), B("KO\r\n"), 0, true),
                  {B("WBLS"), kUpload},
                  B("OK\r\nKO\r\n")},
        FaultCase{"SendStop",
                  FaultOn("UAPD", FaultKind::StopMidBlock, 4),
                  {B("UAPD"), kUpload, B("VTUN")},
                  B("OK\r\n"),
                  false,
                  true},
        FaultCase{
            "SendHangUp", FaultOn("UAPD", FaultKind::HangUp, 5), {B("UAPD"), kUpload}, B("OK\r\n"), true},
        FaultCase{"SendHangUpBeyondTheEnd",
                  FaultOn("UAPD", FaultKind::HangUp, 99),
                  {B("UAPD"), kUpload},
                  B("OK\r\n"),
                  true},
        FaultCase{"ResetSilence", FaultOn("RST0", FaultKind::Silence), {B("RST0"), B("VDSP")}, {}},
        FaultCase{
            "ResetWrong", With(FaultOn("RST0", FaultKind::WrongReply), B("NUVx")), {B("RST0")}, B("NUVx")}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

TEST(SimModel, DelayMovesTheReplyLater) {
    Fault fault = FaultOn("VDSP", FaultKind::Delay);
    fault.delayMs = 700;
    ModelLine line(WithFault(fault));
    const std::vector<Output> outputs = line.SendForOutputs(B("VDSP"));
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].bytes, B("NUV 1.16 A01"));
    EXPECT_EQ(outputs[0].notBefore, line.Now() - 1us + 700ms);
}

TEST(SimModel, DelayOfABlockSendStrikesTheCommandReplyUnlessFinal) {
    for (bool finalReply : {false, true}) {
        Fault fault = With(FaultOn("UPLD", FaultKind::Delay), {}, 400, finalReply);
        ModelLine line(WithFault(fault));
        const Micros commandAt = line.Now() + 3us;
        std::vector<Output> outputs = line.SendForOutputs(B("UPLD"));
        const Micros finalAt = line.Now() + Micros(4 + 6 - 1);
        const std::vector<Output> last = line.SendForOutputs(kUpload);
        outputs.insert(outputs.end(), last.begin(), last.end());
        ASSERT_EQ(outputs.size(), 2u);
        EXPECT_EQ(outputs[0].notBefore, finalReply ? commandAt : commandAt + 400ms);
        EXPECT_EQ(outputs[1].notBefore, finalReply ? finalAt + 400ms : finalAt);
        EXPECT_EQ(line.Model().State().flash[0], B("abcdef"));
    }
}

TEST(SimModel, StopMidBlockWithADurationThawsAndDropsWhatCame) {
    Fault fault = FaultOn("UPLD", FaultKind::StopMidBlock, 2);
    fault.delayMs = 500;
    ModelLine line(WithFault(fault));
    line.Send("UPLD");
    line.Send(Concat({LengthWord(6), B("ab")}));
    EXPECT_TRUE(line.Model().Frozen());
    EXPECT_EQ(line.Model().FrozenUntil(), line.Now() - 1us + 500ms);
    line.Model().Thaw(B("cdef"), line.Now() + 500ms);
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
    EXPECT_EQ(Lines(line.Model().Trace()),
              (std::vector<std::string>{"1 > UPLD", "1 < OK\\r\\n", "1 > \\x06\\x00\\x00\\x00", "1 > ab",
                                        "0 > (dropped) cdef", "2 > VTUN", "2 < STV0299B"}));
    EXPECT_TRUE(line.Model().State().flash[0].empty());
}

TEST(SimModel, FaultAtTheNthExchangeCountsQuestionMarks) {
    Fault fault;
    fault.kind = FaultKind::Silence;
    fault.atExchange = 3;
    ModelLine line(WithFault(fault));
    EXPECT_EQ(line.Send("?"), B("OK\r\n"));
    EXPECT_EQ(line.Send("VDSP"), B("NUV 1.16 A01"));
    EXPECT_EQ(line.Send("VDSP"), Bytes{});
    EXPECT_EQ(line.Send("VDSP"), B("NUV 1.16 A01"));
}

TEST(SimModel, FaultOccurrenceCountsMatchingCommandsByPrefix) {
    Fault second = FaultOn("c00", FaultKind::Silence);
    second.occurrence = 2;
    ModelLine line(WithFault(second));
    EXPECT_EQ(line.Send("c000"), B("OK\r\n"));
    EXPECT_EQ(line.Send("VTUN"), B("STV0299B"));
    EXPECT_EQ(line.Send("c001"), Bytes{});
    EXPECT_EQ(line.Send("c000"), B("OK\r\n"));
}

TEST(SimModel, FaultOccurrenceZeroStrikesEveryMatch) {
    Fault every = FaultOn("J", FaultKind::WrongReply);
    every.occurrence = 0;
    every.reply = B("NO\r\n");
    ModelLine line(WithFault(every));
    EXPECT_EQ(line.Send("J001"), B("NO\r\n"));
    EXPECT_EQ(line.Send("j002"), B("OK\r\n"));
    EXPECT_EQ(line.Send("J003"), B("NO\r\n"));
    EXPECT_EQ(line.Model().State().channels[0].values.at("J"), 3); // a fault changes only the answer
}

TEST(SimModel, HangUpIsInTheStateOnceTheLineIsClosed) {
    ModelLine line(WithFault(FaultOn("VDSP", FaultKind::HangUp)));
    const std::vector<Output> outputs = line.SendForOutputs(B("VDSP"));
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_TRUE(outputs[0].bytes.empty());
    EXPECT_EQ(outputs[0].after, AfterOutput::HangUp);
    EXPECT_FALSE(line.Model().State().hungUp);
    line.Model().MarkHungUp();
    EXPECT_TRUE(line.Model().State().hungUp);
    EXPECT_EQ(line.Send("VDSP"), Bytes{});
}

} // namespace
} // namespace qam::sim
