// The link over a real line against the simulator: the exchanges and block transfers (shared with
// the Windows build, where the line is a COM port under Wine), and the POSIX time-outs and lost line.
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"
#include "tests/support/Kit.h"
#include "tests/support/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>

namespace {

using namespace qam::test;
namespace sim = qam::sim;
using std::chrono::milliseconds;

class LinkTest : public ::testing::Test {
protected:
    // Time-outs at a twentieth, unless the test measures them.
    void Start(sim::Scenario scenario, bool fast = true) {
        ScaleTimeoutConstants(1, fast ? 20 : 1);
        Desk().Reset();
        m_sim = StartSimulator(scenario);
        ASSERT_EQ(m_link.Open(m_sim->Port(), 115200, 1, 0), 1);
        m_progress = CWnd(headless::Desktop::Instance().AddWindow(1004, "msctls_progress32"));
    }
    static TestDesktop& Desk() { return TestDesktop::Instance(); }
    void TearDown() override { ScaleTimeoutConstants(1, 1); }

    std::unique_ptr<SimulatorControl> m_sim;
    CComDevice m_link;
    CWnd m_progress;
};

TEST_F(LinkTest, BlocksGoInPiecesComeBackWholeAndAFailedReplyIsShownCut) {
    sim::Scenario scenario;
    scenario.blockReceiveLength = 130;
    scenario.faults = {
        FaultOn(sim::FaultKind::Silence, "UAPP", 2), FaultOn(sim::FaultKind::WrongReply, "UAPP", 3),
        FaultOn(sim::FaultKind::WrongReply, "c000"), FaultOn(sim::FaultKind::StopMidBlock, "RSTA", 2)};
    scenario.faults[1].finalReply = true;
    scenario.faults[1].reply = sim::ToBytes("OK\r\r");
    scenario.faults[2].reply = sim::ToBytes("AB\r\n");
    scenario.faults[3].bytes = 100;
    Start(scenario);
    std::array<char, 8> reply{};
    const sim::Bytes forty(40, 0x5A);
    EXPECT_EQ(m_link.SendBlock("UAPP", forty.data(), 40, reply.data(), 4, &m_progress), RESULT_OK);
    EXPECT_EQ(Desk().Progress(), (std::vector<int>{0, 40, 80, 100}));
    // Silence after the command is consent: the length and the data go out all the same.
    EXPECT_EQ(m_link.SendBlock("UAPP", nullptr, 0, reply.data(), 4, nullptr), RESULT_OK);
    EXPECT_EQ(m_link.SendBlock("UAPP", forty.data(), 1, reply.data(), 4, nullptr), ERR_BAD_RESPONSE)
        << "a final reply not OK";
    std::array<std::uint8_t, 130> data{};
    int capacity = 130;
    EXPECT_EQ(m_link.ReceiveBlock("RSTA", 4, data.data(), capacity, &m_progress), RESULT_OK);
    EXPECT_EQ(capacity, 130);
    EXPECT_EQ(Desk().Progress(), (std::vector<int>{0, 40, 80, 100, 0, 50, 99, 100}));
    EXPECT_EQ(Desk().progressRanges, (std::vector<LPARAM>{0x00640000, 0x00640000})) << "0 to 100, each time";
    EXPECT_EQ(SentLines(m_sim->Trace()), (std::vector<std::string>{"UAPP", "(\\x00\\x00\\x00", "[40 bytes]",
                                                                   "UAPP", "\\x00\\x00\\x00\\x00", "UAPP",
                                                                   "\\x01\\x00\\x00\\x00", "Z", "RSTA"}));
    EXPECT_TRUE(Desk().boxes.empty());
    reply.fill('x');
    EXPECT_EQ(m_link.ExecuteCommand("c000", 4, reply.data(), 4, true), ERR_BAD_RESPONSE);
    EXPECT_EQ(std::string(reply.data(), 5), std::string("AB\0\nx", 5));
    EXPECT_EQ(m_link.ExecuteCommand("VTUN", 4, reply.data(), 8, true), RESULT_OK);
    EXPECT_EQ(m_link.ReceiveBlock("RSTA", 4, data.data(), capacity, nullptr), ERR_COM_WRITE);
    EXPECT_EQ(capacity, 130);
    EXPECT_EQ(Desk().boxes, (std::vector<Box>{{nullptr, "Unexpected Response! [AB]", "Execute Command",
                                               MB_OK | MB_ICONERROR, IDOK, false}}));
}

// A settings read starts from empty records and never lets the module write past them.
TEST_F(LinkTest, ASettingsReadKeepsNothingOldAndNothingTooLong) {
    sim::Scenario scenario;
    scenario.channels[0].settings = sim::Bytes(10, 0x11);
    Start(scenario);
    CModuleProxy proxy;
    proxy.m_comDevice = &m_link;
    SettingsRecord record;
    record.length = 99;
    record.data.fill(0xEE);
    EXPECT_EQ(proxy.ReadChannelSettings(0, &record, 1000, nullptr, 0, nullptr, 0), RESULT_OK);
    EXPECT_EQ(record.length, 10u);
    EXPECT_EQ(std::count(record.data.begin(), record.data.end(), 0x11), 10);
    EXPECT_EQ(std::count(record.data.begin(), record.data.end(), 0), 246);
    scenario.blockReceiveLength = 300;
    m_sim->Restart(scenario);
    EXPECT_EQ(proxy.ReadChannelSettings(0, &record, 1000, nullptr, 0, nullptr, 0), ERR_BAD_RESPONSE);
    EXPECT_EQ(CModuleProxy().DownloadUpdateFile("any.qam"), 1u) << "a proxy without its windows and link";
}

#ifndef _WIN32

TEST_F(LinkTest, ReadsEndOnTheirTimeOutsAndALostLineIsNoSpin) {
    sim::Scenario scenario;
    scenario.faults = {FaultOn(sim::FaultKind::ShortReply, "VDSP"), FaultOn(sim::FaultKind::HangUp, "VPLD")};
    scenario.faults[0].bytes = 4;
    scenario.faults[1].bytes = 3;
    scenario.paced = true;
    Start(scenario, false);
    std::array<char, 1024> reply{};
    using Clock = std::chrono::steady_clock;
    // 1,024 bytes at the line rate take 98 ms: the interval counts from the last byte that came.
    ASSERT_EQ(m_link.SetTimeouts(50, 0, 5000, 50, 500), 1);
    EXPECT_EQ(m_link.Write("RFLT", 4), 4);
    EXPECT_EQ(m_link.Read(reply.data(), 1024), 1024);
    ASSERT_EQ(m_link.SetTimeouts(100, 50, 300, 50, 500), 1);
    // Silence: the whole total, 50 ms a byte and the constant; 4 of 12: the interval after the last.
    auto start = Clock::now();
    EXPECT_EQ(m_link.Read(reply.data(), 12), 0);
    EXPECT_GE(Clock::now() - start, milliseconds(900));
    EXPECT_EQ(m_link.Write("VDSP", 4), 4);
    start = Clock::now();
    EXPECT_EQ(m_link.Read(reply.data(), 12), 4);
    const auto gap = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_GE(gap, milliseconds(100));
    EXPECT_LT(gap, milliseconds(800));
    // The line goes while a read waits: it ends with what came, no box; a read after that fails at once.
    const long long cpu = ProcessCpuMilliseconds();
    EXPECT_EQ(m_link.Write("VPLD", 4), 4);
    EXPECT_EQ(m_link.Read(reply.data(), 12), 3);
    EXPECT_EQ(m_link.Read(reply.data(), 12), 0);
    EXPECT_LT(ProcessCpuMilliseconds() - cpu, 500) << "a lost line waited on by spinning";
    EXPECT_EQ(m_link.Write("VDSP", 4), 0);
    EXPECT_EQ(Desk().boxes,
              (std::vector<Box>{{nullptr, "Read Failed!", "Error", MB_OK | MB_ICONERROR, IDOK, false},
                                {nullptr, "Write Failed!", "Error", MB_OK | MB_ICONERROR, IDOK, false}}));
    m_link.Close();
    EXPECT_EQ(m_link.Read(reply.data(), 4), 0);
    EXPECT_EQ(m_link.Write("VDSP", 4), 0);
}

#endif

} // namespace
