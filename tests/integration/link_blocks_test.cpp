// Block send and block receive against the simulator: wire format, pieces, progress, cursor,
// refusals, silence, short data and a line that goes away. Shared: built natively and for Windows.

#include "tests/integration/LinkFixture.h"

#include "framework/WaitCursor.h"

#include <array>
#include <string>

namespace qam::test {
namespace {

using sim::FaultKind;
using sim::Scenario;

class LinkBlocks : public LinkFixture {
protected:
    const std::vector<bool>& Cursor() const { return headless::Desktop::Instance().CursorHistory(); }
    int Pumps() const { return headless::Desktop::Instance().PumpCount(); }

    void Quick() {
        m_quick = std::make_unique<ScopedTimeoutScale>(1, 20);
        m_device.SetTimeouts(100, 50, 5000, 50, 500);
    }

    ResultCode Send(const char* command, const sim::Bytes& data) {
        return m_device.SendBlock(command, data.data(), static_cast<int>(data.size()), m_reply.data(), 4,
                                  &m_progress);
    }

    std::unique_ptr<ScopedTimeoutScale> m_quick;
    std::array<char, 4> m_reply{};
};

Scenario WithFault(sim::Fault fault) {
    Scenario scenario;
    scenario.faults.push_back(std::move(fault));
    return scenario;
}

Scenario ReceiveLength(int length) {
    Scenario scenario;
    scenario.blockReceiveLength = length;
    return scenario;
}

TEST_F(LinkBlocks, SendBlock_FortyBytesGoInThreePiecesWithProgress) {
    Start(Scenario{});
    const sim::Bytes data = Pattern(40);
    EXPECT_EQ(Send("WBLS", data), RESULT_OK);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "WBLS"), FromModule(1, "OK\r\n"),
                                                ToModule(1, LengthWord(40)), ToModule(1, data),
                                                FromModule(1, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(ProgressMessages(), ProgressOf({0, 40, 80, 100}));
    EXPECT_EQ(Pumps(), 3);
    // Shown for the whole call, shown again after each piece's messages, gone at the end.
    EXPECT_EQ(Cursor(), (std::vector<bool>{true, true, true, true, false}));
    EXPECT_EQ(fw::WaitCursorCount(), 0);
    EXPECT_EQ(m_simulator->State().channels[0].wbls, data);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkBlocks, SendBlock_ZeroBytesSendsTheZeroLengthAndAwaitsOk) {
    Start(Scenario{});
    EXPECT_EQ(Send("WPLP", {}), RESULT_OK);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "WPLP"), FromModule(1, "OK\r\n"),
                                                ToModule(1, LengthWord(0)), FromModule(1, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(ProgressMessages(), ProgressOf({0}));
    EXPECT_EQ(Pumps(), 0);
    EXPECT_EQ(Cursor(), (std::vector<bool>{true, false}));
}

TEST_F(LinkBlocks, SendBlock_WithoutProgressBarSendsTheSameBytes) {
    Start(Scenario{});
    const sim::Bytes data = Pattern(33);
    EXPECT_EQ(m_device.SendBlock("WBLS", data.data(), 33, m_reply.data(), 4, nullptr), RESULT_OK);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "WBLS"), FromModule(1, "OK\r\n"),
                                                ToModule(1, LengthWord(33)), ToModule(1, data),
                                                FromModule(1, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_TRUE(ProgressMessages().empty());
    EXPECT_EQ(Pumps(), 3);
}

TEST_F(LinkBlocks, SendBlock_SilenceAfterTheCommandStillSendsTheBlock) {
    Start(WithFault(FaultOn("WBLS", FaultKind::Silence)));
    Quick();
    const sim::Bytes data = Pattern(20);
    EXPECT_EQ(Send("WBLS", data), RESULT_OK);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "WBLS"), ToModule(1, LengthWord(20)),
                                                ToModule(1, data), FromModule(1, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(ProgressMessages(), ProgressOf({0, 80, 100})); // pieces of 16 and 4
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkBlocks, SendBlock_RefusedCommandSendsNoBlock) {
    Start(WithFault(FaultOn("UPLD", FaultKind::RefuseBlock)));
    EXPECT_EQ(Send("UPLD", Pattern(40)), ERR_BAD_RESPONSE);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "UPLD"), FromModule(1, "<<\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(ProgressMessages(), ProgressOf({0}));
    EXPECT_EQ(Cursor(), (std::vector<bool>{true, false}));
    EXPECT_EQ(std::string(m_reply.data(), 4), "<<\r\n");
    EXPECT_TRUE(Boxes().empty()) << "the command's exchange shows no box inside a block send";
}

struct FinalReplyCase {
    const char* name;
    FaultKind kind;
    const char* wrong;
    int bytes;
};

class LinkBlocksFinalReply : public LinkBlocks, public ::testing::WithParamInterface<FinalReplyCase> {};

TEST_P(LinkBlocksFinalReply, AnythingButOkIsBadResponse) {
    const FinalReplyCase& c = GetParam();
    sim::Fault fault = FaultOn("WBLS", c.kind);
    fault.finalReply = true;
    fault.reply = sim::ToBytes(c.wrong);
    fault.bytes = c.bytes;
    Start(WithFault(fault));
    Quick();
    const auto start = Clock::now();
    EXPECT_EQ(Send("WBLS", Pattern(40)), ERR_BAD_RESPONSE) << c.name;
    EXPECT_LT(Clock::now() - start, kHangGuard);
    EXPECT_EQ(ProgressPositions(), (std::vector<int>{0, 40, 80, 100}));
    EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Replies, LinkBlocksFinalReply,
                         ::testing::Values(FinalReplyCase{"Wrong", FaultKind::WrongReply, "NO\r\n", 0},
                                           FinalReplyCase{"Short", FaultKind::ShortReply, "", 3},
                                           FinalReplyCase{"Silence", FaultKind::Silence, "", 0},
                                           FinalReplyCase{"Refusal", FaultKind::RefuseBlock, "", 0}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(LinkBlocks, SendBlock_TooLongForTheModuleIsRefusedAtTheEnd) {
    Start(Scenario{});
    EXPECT_EQ(Send("WBLS", Pattern(300)), ERR_BAD_RESPONSE);
    EXPECT_EQ(std::string(m_reply.data(), 4), "<<\r\n");
}

TEST_F(LinkBlocks, SendBlock_WholeFlashSectionArrivesIntact) {
    Start(Scenario{});
    std::array<char, 4> reply{};
    ASSERT_EQ(m_device.ExecuteCommand("CAPP", 4, reply.data(), 4, false), RESULT_OK);
    const sim::Bytes data = Pattern(0x40000);
    EXPECT_EQ(Send("UAPP", data), RESULT_OK);
    const std::vector<int> positions = ProgressPositions();
    ASSERT_EQ(positions.size(), 0x40000u / 16 + 1);
    EXPECT_EQ(positions[1], 1); // 100 - 99.99..: the fraction is dropped
    EXPECT_EQ(positions[positions.size() / 2], 50);
    EXPECT_EQ(positions.back(), 100);
    EXPECT_EQ(Pumps(), 0x40000 / 16);
    EXPECT_EQ(m_simulator->State().flash[static_cast<int>(sim::FlashArea::AppCode)], data);
}

TEST_F(LinkBlocks, SendBlock_LineLostMidBlockIsCanNotWrite) {
    sim::Fault hangUp = FaultOn("UPLD", FaultKind::HangUp);
    hangUp.bytes = 1000;
    Start(WithFault(hangUp));
    const auto start = Clock::now();
    // Far more than the line's buffers hold, so the loss is met by a write.
    EXPECT_EQ(Send("UPLD", Pattern(0x40000)), ERR_COM_WRITE);
    EXPECT_LT(Clock::now() - start, kHangGuard);
    // Met while a write waits (no box) or when the next one starts (its box).
    EXPECT_LE(Boxes().size(), 1u);
    if (!Boxes().empty()) {
        EXPECT_EQ(Boxes()[0], ErrorBox("Write Failed!", "Error"));
    }
    EXPECT_EQ(Cursor().back(), false);
    EXPECT_TRUE(m_simulator->State().hungUp);
}

TEST_F(LinkBlocks, SendBlock_NegativeLengthSendsNothing) {
    Start(Scenario{});
    const std::uint8_t data[1] = {0};
    EXPECT_EQ(m_device.SendBlock("WBLS", data, -1, m_reply.data(), 4, &m_progress), ERR_COM_WRITE);
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(Cursor(), (std::vector<bool>{true, false}));
}

TEST_F(LinkBlocks, ReceiveBlock_130BytesComeInPiecesOf64) {
    Start(ReceiveLength(130));
    std::array<std::uint8_t, 256> destination{};
    int capacity = 256;
    EXPECT_EQ(m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress), RESULT_OK);
    EXPECT_EQ(capacity, 130);
    sim::Bytes block(130);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(sim::Bytes(destination.begin(), destination.begin() + 130), block);
    EXPECT_EQ(destination[130], 0) << "nothing beyond the block is written";
    const std::vector<sim::TraceEntry> expected{ToModule(1, "RSTA"), FromModule(1, LengthWord(130)),
                                                FromModule(1, block)};
    EXPECT_EQ(Trace(), expected);
    // Pieces of 64, 64 and 2.
    EXPECT_EQ(ProgressMessages(), ProgressOf({0, 50, 99, 100}));
    EXPECT_EQ(Pumps(), 3);
    EXPECT_TRUE(Cursor().empty()) << "the block receive shows no wait cursor";
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkBlocks, ReceiveBlock_LengthEqualToCapacityIsReadWhole) {
    Start(ReceiveLength(130));
    std::array<std::uint8_t, 130> destination{};
    int capacity = 130;
    EXPECT_EQ(m_device.ReceiveBlock("RBLS", 4, destination.data(), capacity, nullptr), RESULT_OK);
    EXPECT_EQ(capacity, 130);
    EXPECT_EQ(destination[129], 129);
}

TEST_F(LinkBlocks, ReceiveBlock_64KiBBlock) {
    Start(ReceiveLength(65536));
    std::vector<std::uint8_t> destination(65536);
    int capacity = 65536;
    EXPECT_EQ(m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress), RESULT_OK);
    EXPECT_EQ(capacity, 65536);
    EXPECT_EQ(destination[65535], 0xFF);
    EXPECT_EQ(ProgressPositions().back(), 100);
}

struct WordCase {
    const char* name;
    Scenario scenario;
    int capacity;
    ResultCode result;
};

Scenario Faulted(int length, FaultKind kind, sim::Bytes reply = {}, int bytes = 0) {
    Scenario scenario = ReceiveLength(length);
    sim::Fault fault = FaultOn("RSTA", kind);
    fault.reply = std::move(reply);
    fault.bytes = bytes;
    scenario.faults.push_back(fault);
    return scenario;
}

class LinkBlocksLengthWord : public LinkBlocks, public ::testing::WithParamInterface<WordCase> {};

TEST_P(LinkBlocksLengthWord, IsClassifiedAndTheCapacityKept) {
    const WordCase& c = GetParam();
    Start(c.scenario);
    Quick();
    std::vector<std::uint8_t> destination(static_cast<std::size_t>(c.capacity), 0xEE);
    int capacity = c.capacity;
    const auto start = Clock::now();
    EXPECT_EQ(m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress), c.result) << c.name;
    EXPECT_LT(Clock::now() - start, kHangGuard);
    EXPECT_EQ(capacity, c.capacity);
    EXPECT_EQ(destination, std::vector<std::uint8_t>(destination.size(), 0xEE)) << "no data was read";
    EXPECT_EQ(ProgressMessages(), ProgressOf({0}));
    EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Words, LinkBlocksLengthWord,
    ::testing::Values(WordCase{"RefusalBack", Faulted(130, FaultKind::RefuseBlock), 256, ERR_MODULE_REFUSED},
                      WordCase{"RefusalForward", Faulted(130, FaultKind::WrongReply, sim::ToBytes(">>\r\n")), 256,
                               ERR_MODULE_REFUSED},
                      WordCase{"Silence", Faulted(130, FaultKind::Silence), 256, ERR_NO_RESPONSE},
                      WordCase{"FourFFBytes", Faulted(130, FaultKind::WrongReply, {0xFF, 0xFF, 0xFF, 0xFF}), 256,
                               ERR_NO_RESPONSE},
                      WordCase{"ZeroLength", ReceiveLength(0), 256, ERR_BAD_RESPONSE},
                      WordCase{"OneAboveCapacity", ReceiveLength(131), 130, ERR_BAD_RESPONSE},
                      WordCase{"Negative", Faulted(130, FaultKind::WrongReply, {0xFE, 0xFF, 0xFF, 0xFF}), 256,
                               ERR_BAD_RESPONSE},
                      WordCase{"TwoBytesOnly", Faulted(130, FaultKind::ShortReply, {}, 2), 256, ERR_BAD_RESPONSE},
                      WordCase{"OkIsNoLength", Faulted(130, FaultKind::WrongReply, sim::ToBytes("OK\r\n")), 256,
                               ERR_BAD_RESPONSE}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(LinkBlocks, ReceiveBlock_DataStoppingAfter100Of130IsComWrite) {
    Start(Faulted(130, FaultKind::StopMidBlock, {}, 100));
    Quick();
    std::array<std::uint8_t, 256> destination{};
    int capacity = 256;
    const auto start = Clock::now();
    EXPECT_EQ(m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress), ERR_COM_WRITE);
    EXPECT_LT(Clock::now() - start, kHangGuard);
    EXPECT_EQ(capacity, 130) << "the capacity keeps the announced length";
    EXPECT_EQ(destination[99], 99);
    EXPECT_EQ(destination[100], 0);
    // 64, then the 36 that came (ended by the interval), then a read that got nothing.
    EXPECT_EQ(ProgressPositions(), (std::vector<int>{0, 50, 77}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkBlocks, ReceiveBlock_DoesNotPurgeSoLeftoversStartTheLengthWord) {
    Start(ReceiveLength(130));
    std::array<char, 4> reply{};
    // Eight bytes of the identification ("1.16 A01") stay queued.
    EXPECT_EQ(m_device.ExecuteCommand("VDSP", 4, reply.data(), 4, false), ERR_BAD_RESPONSE);
    std::array<std::uint8_t, 256> destination{};
    int capacity = 256;
    EXPECT_EQ(m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, nullptr), ERR_BAD_RESPONSE);
    EXPECT_EQ(capacity, 256);
}

TEST_F(LinkBlocks, ReceiveBlock_LineLostMidBlockEndsInBoundedTime) {
    Start(Faulted(130, FaultKind::HangUp, {}, 100));
    std::array<std::uint8_t, 256> destination{};
    int capacity = 256;
    const auto start = Clock::now();
    const ResultCode result = m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress);
    EXPECT_LT(Clock::now() - start, kHangGuard);
    // A hang-up discards what the line still held, so how far the tool got before it is the
    // line's race: the length word lost (no response) or the data cut short.
    if (result == ERR_COM_WRITE) {
        EXPECT_EQ(capacity, 130);
    } else {
        EXPECT_EQ(result, ERR_NO_RESPONSE);
        EXPECT_EQ(capacity, 256);
    }
    EXPECT_LE(Boxes().size(), 1u);
    if (!Boxes().empty()) {
        EXPECT_EQ(Boxes()[0], ErrorBox("Read Failed!", "Error"));
    }
    for (std::size_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(destination[i] == i || destination[i] == 0) << "byte " << i;
    }
    // The next exchange meets the lost line at once.
    std::array<char, 4> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, false), ERR_COM_WRITE);
}

TEST_F(LinkBlocks, ReceiveBlock_OnAClosedLinkIsComWrite) {
    Start(ReceiveLength(130));
    m_device.Close();
    std::array<std::uint8_t, 256> destination{};
    int capacity = 256;
    EXPECT_EQ(m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress), ERR_COM_WRITE);
    EXPECT_EQ(ProgressMessages(), ProgressOf({0}));
    EXPECT_TRUE(Boxes().empty());
}

} // namespace
} // namespace qam::test
