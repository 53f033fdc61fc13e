// The command exchange and the link's own operations against the simulator, as the module sees
// them on the wire. Shared: built natively and for Windows.

#include "tests/integration/LinkFixture.h"

#include <array>
#include <string>

namespace qam::test {
namespace {

using sim::FaultKind;
using sim::Scenario;

class LinkExchange : public LinkFixture {
protected:
    Scenario WithFault(sim::Fault fault) {
        Scenario scenario;
        scenario.faults.push_back(std::move(fault));
        return scenario;
    }
};

TEST_F(LinkExchange, Open_AsksTheDefaultTimeouts) {
    Start(Scenario{});
    const std::vector<link::Timeouts> expected{{100, 50, 5000, 50, 500}};
    EXPECT_EQ(AskedTimeouts(), expected);
    EXPECT_TRUE(m_device.IsOpen());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkExchange, ExecuteCommand_OkReplyIsSuccess) {
    Start(Scenario{});
    std::array<char, 4> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, true), RESULT_OK);
    EXPECT_EQ(std::string(reply.data(), 4), "OK\r\n");
    const std::vector<sim::TraceEntry> expected{ToModule(1, "c000"), FromModule(1, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_TRUE(Boxes().empty());
}

struct FourByteCase {
    const char* name;
    FaultKind kind;
    const char* wrong; // for WrongReply
    int bytes;         // for ShortReply
    ResultCode result;
};

class LinkExchangeFourBytes : public LinkExchange, public ::testing::WithParamInterface<FourByteCase> {};

TEST_P(LinkExchangeFourBytes, GivesTheResultWithoutBox) {
    const FourByteCase& c = GetParam();
    sim::Fault fault = FaultOn("c001", c.kind);
    fault.reply = sim::ToBytes(c.wrong);
    fault.bytes = c.bytes;
    Start(WithFault(fault));
    ScopedTimeoutScale quick(1, 20);
    m_device.SetTimeouts(100, 50, 5000, 50, 500);
    std::array<char, 4> reply{};
    const auto start = Clock::now();
    EXPECT_EQ(m_device.ExecuteCommand("c001", 4, reply.data(), 4, false), c.result) << c.name;
    EXPECT_LT(Clock::now() - start, kHangGuard);
    EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LinkExchangeFourBytes,
    ::testing::Values(FourByteCase{"SecondCarriageReturn", FaultKind::WrongReply, "OK\r\r", 0, ERR_BAD_RESPONSE},
                      FourByteCase{"LowerCase", FaultKind::WrongReply, "ok\r\n", 0, ERR_BAD_RESPONSE},
                      FourByteCase{"OnlyTheLetters", FaultKind::ShortReply, "", 2, ERR_BAD_RESPONSE},
                      FourByteCase{"Refusal", FaultKind::RefuseBlock, "", 0, ERR_BAD_RESPONSE},
                      FourByteCase{"Silence", FaultKind::Silence, "", 0, ERR_NO_RESPONSE}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(LinkExchange, ExecuteCommand_EightBytesSucceedWithAnyBytes) {
    sim::Fault fault = FaultOn("VTUN", FaultKind::WrongReply);
    fault.reply = {0x00, 0xFF, 0x01, '\r', '\n', 'x', 0x80, 0x7F};
    Start(WithFault(fault));
    std::array<char, 8> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("VTUN", 4, reply.data(), 8, true), RESULT_OK);
    EXPECT_EQ(sim::Bytes(reply.begin(), reply.end()), fault.reply);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkExchange, ExecuteCommand_SevenOfEightIsBadResponse) {
    sim::Fault fault = FaultOn("VTUN", FaultKind::ShortReply);
    fault.bytes = 7;
    Start(WithFault(fault));
    std::array<char, 8> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("VTUN", 4, reply.data(), 8, false), ERR_BAD_RESPONSE);
    EXPECT_EQ(std::string(reply.data(), 7), "STV0299");
    const std::vector<sim::TraceEntry> expected{ToModule(1, "VTUN"), FromModule(1, "STV0299")};
    EXPECT_EQ(Trace(), expected);
}

TEST_F(LinkExchange, ExecuteCommand_TwelveOfTwelveIsTheIdentification) {
    Start(Scenario{});
    std::array<char, 12> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("VDSP", 4, reply.data(), 12, true), RESULT_OK);
    EXPECT_EQ(std::string(reply.data(), 12), "NUV 1.16 A01");
}

TEST_F(LinkExchange, ExecuteCommand_FourOfTwelveEndsAtTheIntervalNotTheTotal) {
    Scenario scenario;
    scenario.sync = sim::SyncMode::AlwaysShort;
    Start(scenario);
    std::array<char, 12> reply{};
    const auto start = Clock::now();
    EXPECT_EQ(m_device.ExecuteCommand("VDSP", 4, reply.data(), 12, false), ERR_BAD_RESPONSE);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(4000)) << "waited for the read total (5600 ms)";
    EXPECT_EQ(std::string(reply.data(), 4), "NUV ");
}

TEST_F(LinkExchange, ExecuteCommand_BoxShowsTheLettersAndCutsTheBuffer) {
    sim::Fault fault = FaultOn("c000", FaultKind::WrongReply);
    fault.reply = sim::ToBytes("NO\r\n");
    Start(WithFault(fault));
    std::array<char, 6> reply{'-', '-', '-', '-', '#', '#'};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, true), ERR_BAD_RESPONSE);
    EXPECT_EQ(Boxes(), (std::vector{ErrorBox("Unexpected Response! [NO]", "Execute Command")}));
    EXPECT_EQ(std::string(reply.data(), 6), std::string("NO\0\n##", 6));
}

TEST_F(LinkExchange, ExecuteCommand_BoxCutNeverReachesBeyondTheBytesThatArrived) {
    sim::Fault fault = FaultOn("c000", FaultKind::ShortReply);
    fault.bytes = 2;
    Start(WithFault(fault));
    ScopedTimeoutScale quick(1, 20);
    m_device.SetTimeouts(100, 50, 5000, 50, 500);
    std::array<char, 4> reply{'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, true), ERR_BAD_RESPONSE);
    EXPECT_EQ(Boxes(), (std::vector{ErrorBox("Unexpected Response! [OK]", "Execute Command")}));
    EXPECT_EQ(std::string(reply.data(), 4), std::string("OK\0Z", 4));
}

TEST_F(LinkExchange, ExecuteCommand_PrintableReplyIsShownWholeAndNothingIsWritten) {
    sim::Fault fault = FaultOn("c000", FaultKind::WrongReply);
    fault.reply = sim::ToBytes("ABCD");
    Start(WithFault(fault));
    std::array<char, 5> reply{'-', '-', '-', '-', '#'};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, true), ERR_BAD_RESPONSE);
    EXPECT_EQ(Boxes(), (std::vector{ErrorBox("Unexpected Response! [ABCD]", "Execute Command")}));
    EXPECT_EQ(std::string(reply.data(), 5), "ABCD#");
}

TEST_F(LinkExchange, ExecuteCommand_SilenceShowsNoResponse) {
    Start(WithFault(FaultOn("ZAll", FaultKind::Silence)));
    ScopedTimeoutScale quick(1, 20);
    m_device.SetTimeouts(100, 50, 5000, 50, 500);
    std::array<char, 4> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("ZAll", 4, reply.data(), 4, true), ERR_NO_RESPONSE);
    EXPECT_EQ(Boxes(), (std::vector{ErrorBox("No Response!", "Execute Command")}));
}

TEST_F(LinkExchange, ExecuteCommand_PurgeDiscardsWhatTheLastExchangeLeft) {
    Start(Scenario{});
    std::array<char, 4> reply{};
    // Four of the twelve identification bytes are taken; eight stay queued.
    EXPECT_EQ(m_device.ExecuteCommand("VDSP", 4, reply.data(), 4, false), ERR_BAD_RESPONSE);
    EXPECT_EQ(m_device.ExecuteCommand("c001", 4, reply.data(), 4, false), RESULT_OK);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "VDSP"), FromModule(1, "NUV 1.16 A01"),
                                                ToModule(2, "c001"), FromModule(2, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
}

TEST_F(LinkExchange, ExecuteCommand_LongerReplyTakesItsSizeAndThePurgeDropsTheRest) {
    sim::Fault fault = FaultOn("c000", FaultKind::WrongReply);
    fault.reply = sim::ToBytes("OK\r\n\x01\xfe garbage OK\r\n");
    Start(WithFault(fault));
    std::array<char, 4> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, true), RESULT_OK);
    EXPECT_EQ(m_device.ExecuteCommand("c001", 4, reply.data(), 4, true), RESULT_OK);
    const std::vector<sim::TraceEntry> expected{ToModule(1, "c000"), FromModule(1, fault.reply),
                                                ToModule(2, "c001"), FromModule(2, "OK\r\n")};
    EXPECT_EQ(Trace(), expected);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkExchange, ExecuteCommand_LostLineIsCanNotWrite) {
    sim::Fault hangUp = FaultOn("c000", FaultKind::HangUp);
    hangUp.bytes = 0;
    Start(WithFault(hangUp));
    std::array<char, 4> reply{};
    // The line goes while the reply is awaited, or just before the read starts: either way no byte.
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, false), ERR_NO_RESPONSE);
    const std::size_t readBoxes = Boxes().size();
    EXPECT_LE(readBoxes, 1u);

    const auto start = Clock::now();
    EXPECT_EQ(m_device.ExecuteCommand("c001", 4, reply.data(), 4, true), ERR_COM_WRITE);
    EXPECT_LT(Clock::now() - start, kHangGuard);
    std::vector<headless::Box> expected;
    if (readBoxes == 1) {
        expected.push_back(ErrorBox("Read Failed!", "Error"));
    }
    expected.push_back(ErrorBox("Write Failed!", "Error"));
    expected.push_back(ErrorBox("Can Not Write to COM!", "Execute Command"));
    EXPECT_EQ(Boxes(), expected);
}

TEST_F(LinkExchange, ExecuteCommand_OnAClosedLinkIsCanNotWrite) {
    Start(Scenario{});
    m_device.Close();
    std::array<char, 4> reply{};
    EXPECT_EQ(m_device.ExecuteCommand("c000", 4, reply.data(), 4, true), ERR_COM_WRITE);
    EXPECT_EQ(Boxes(), (std::vector{ErrorBox("Can Not Write to COM!", "Execute Command")}));
    EXPECT_TRUE(Trace().empty());
}

TEST_F(LinkExchange, ReadWrite_OnAClosedLinkAnswerZeroWithoutBox) {
    Start(Scenario{});
    EXPECT_NE(m_device.Close(), 0);
    EXPECT_EQ(m_device.Close(), 0);
    std::array<char, 4> buffer{};
    EXPECT_EQ(m_device.Write("VDSP", 4), 0);
    EXPECT_EQ(m_device.Read(buffer.data(), 4), 0);
    EXPECT_FALSE(m_device.IsOpen());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkExchange, Open_PortWithoutDeviceFailsQuietly) {
    Start(Scenario{});
    CComDevice other;
    EXPECT_EQ(other.Open(m_simulator->Port() + 1, 115200, 1, 0), 0);
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkExchange, Open_PortHeldByAnotherDeviceFails) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive opening of COM ports";
    }
    Start(Scenario{});
    CComDevice other;
    EXPECT_EQ(other.Open(m_simulator->Port(), 115200, 1, 0), 0);
    EXPECT_FALSE(other.IsOpen());
    m_device.Close();
    EXPECT_EQ(other.Open(m_simulator->Port(), 115200, 1, 0), 1);
}

TEST_F(LinkExchange, Open_RepeatedScansLeaveThePortFree) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive opening of COM ports";
    }
    Start(Scenario{});
    m_device.Close();
    for (int i = 0; i < 50; ++i) {
        CComDevice scan;
        ASSERT_EQ(scan.Open(m_simulator->Port() + 1, 115200, 1, 0), 0);
        ASSERT_EQ(scan.Open(m_simulator->Port(), 115200, 1, 0), 1);
        // Open again without Close, as the search does after a port that did not answer.
        ASSERT_EQ(scan.Open(m_simulator->Port(), 115200, 1, 0), 1);
    }
    EXPECT_EQ(m_device.Open(m_simulator->Port(), 115200, 1, 0), 1);
}

} // namespace
} // namespace qam::test
