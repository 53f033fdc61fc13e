#include "tests/integration/SimToolLine.h"

#include "link/PortsDirectory.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <gtest/gtest.h>

#include <thread>

namespace qam::test {
namespace {

using sim::Bytes;
using sim::ToBytes;

// 11 bits a byte at 115200 baud.
constexpr double kSecondsPerByte = 11.0 / 115200.0;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}


Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

TEST(PosixSimLine, ExchangesOverTheTerminalAreTracedAsAWholeSequence) {
    sim::Scenario scenario;
    scenario.channels[1].settings = ToBytes("0123456789ABCDEFGH");
    sim::ModuleSimulator simulator(scenario);
    SimToolLine tool(simulator.DevicePath());
    ASSERT_TRUE(tool.IsOpen());

    EXPECT_EQ(tool.Exchange("VDSP", 12), ToBytes("NUV 1.16 A01"));
    EXPECT_EQ(tool.Exchange("VPLD", 12), ToBytes("PLD 2.03 B00"));
    EXPECT_EQ(tool.Exchange("VTUN", 8), ToBytes("STV0299B"));
    EXPECT_EQ(tool.Exchange("c001", 4), ToBytes("OK\r\n"));
    EXPECT_EQ(tool.Exchange("RSTA", 22), Concat({LengthWordBytes(18), ToBytes("0123456789ABCDEFGH")}));
    EXPECT_EQ(tool.Exchange("S024", 4), ToBytes("OK\r\n"));
    EXPECT_EQ(tool.Exchange("CAPP", 4), ToBytes("OK\r\n"));
    EXPECT_EQ(tool.Exchange("UAPP", 4), ToBytes("OK\r\n"));
    Bytes data(40);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    ASSERT_TRUE(tool.Write(LengthWordBytes(40)));
    for (std::size_t offset = 0; offset < data.size(); offset += 16) {
        const std::size_t piece = std::min<std::size_t>(16, data.size() - offset);
        ASSERT_TRUE(tool.Write(Bytes(data.begin() + offset, data.begin() + offset + piece)));
    }
    EXPECT_EQ(tool.Read(4), ToBytes("OK\r\n"));

    EXPECT_EQ(SimTraceLines(simulator.Trace()), (std::vector<std::string>{"1 > VDSP",
                                                                          "1 < NUV 1.16 A01",
                                                                          "2 > VPLD",
                                                                          "2 < PLD 2.03 B00",
                                                                          "3 > VTUN",
                                                                          "3 < STV0299B",
                                                                          "4 > c001",
                                                                          "4 < OK\\r\\n",
                                                                          "5 > RSTA",
                                                                          "5 < \\x12\\x00\\x00\\x00",
                                                                          "5 < 0123456789ABCDEFGH",
                                                                          "6 > S024",
                                                                          "6 < OK\\r\\n",
                                                                          "7 > CAPP",
                                                                          "7 < OK\\r\\n",
                                                                          "8 > UAPP",
                                                                          "8 < OK\\r\\n",
                                                                          "8 > (\\x00\\x00\\x00",
                                                                          "8 > [len 40]",
                                                                          "8 < OK\\r\\n"}));
    const sim::ModuleState state = simulator.State();
    EXPECT_EQ(state.flash[static_cast<int>(sim::FlashArea::AppCode)], data);
    EXPECT_EQ(state.channels[1].setCommands, std::vector<std::string>{"S024"});
    EXPECT_EQ(simulator.ExchangeCount(), 8);
}

TEST(PosixSimLine, LinksAreMadeReplacedAndRemoved) {
    SimTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    ASSERT_EQ(::symlink("/dev/null", dir.File("com2").c_str()), 0);
    std::string device;
    {
        sim::ModuleSimulator simulator(sim::Scenario{});
        device = simulator.DevicePath();
        simulator.LinkAsPort(dir.Path(), 2);
        simulator.LinkAsPort(dir.Path(), 7);
        EXPECT_EQ(ReadLink(dir.File("com2")), device);
        EXPECT_EQ(ReadLink(dir.File("com7")), device);

        SimToolLine tool(dir.File("com7"));
        ASSERT_TRUE(tool.IsOpen());
        EXPECT_EQ(tool.Exchange("VTUN", 8), ToBytes("STV0299B"));
    }
    EXPECT_FALSE(Exists(dir.File("com2")));
    EXPECT_FALSE(Exists(dir.File("com7")));
}

TEST(PosixSimLine, LinkOverAPlainFileIsRefused) {
    SimTempDir dir;
    {
        const int fd = ::open(dir.File("com1").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ::close(fd);
    }
    sim::ModuleSimulator simulator(sim::Scenario{});
    EXPECT_THROW(simulator.LinkAsPort(dir.Path(), 1), std::system_error);
    EXPECT_TRUE(Exists(dir.File("com1")));
}

TEST(PosixSimLine, HangUpLosesTheLineAndRestartOpensAFreshOne) {
    sim::Scenario scenario;
    sim::Fault hangUp;
    hangUp.kind = sim::FaultKind::HangUp;
    hangUp.command = "VPLD";
    hangUp.bytes = 3;
    scenario.faults.push_back(hangUp);
    SimTempDir dir;
    sim::ModuleSimulator simulator(scenario);
    simulator.LinkAsPort(dir.Path(), 4);
    {
        SimToolLine tool(dir.File("com4"));
        ASSERT_TRUE(tool.IsOpen());
        EXPECT_EQ(tool.Exchange("VPLD", 12), ToBytes("PLD"));

        pollfd in{tool.Fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&in, 1, 10000), 1);
        EXPECT_NE(in.revents & POLLHUP, 0);
        // A hung-up terminal reads as its end (or EIO) and refuses writes.
        std::uint8_t byte = 0;
        errno = 0;
        const ssize_t got = ::read(tool.Fd(), &byte, 1);
        EXPECT_TRUE(got == 0 || (got == -1 && errno == EIO)) << got << " " << errno;
        errno = 0;
        EXPECT_EQ(::write(tool.Fd(), "VTUN", 4), -1);
        EXPECT_EQ(errno, EIO);
    }
    EXPECT_TRUE(simulator.State().hungUp);
    EXPECT_FALSE(Exists(dir.File("com4")));
    EXPECT_EQ(SimTraceLines(simulator.Trace()), (std::vector<std::string>{"1 > VPLD", "1 < PLD"}));

    sim::Scenario fresh;
    fresh.identification.tuner = "CE6313  ";
    simulator.Restart(fresh);
    EXPECT_EQ(ReadLink(dir.File("com4")), simulator.DevicePath());
    SimToolLine again(dir.File("com4"));
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(again.Exchange("VTUN", 8), ToBytes("CE6313  "));
    EXPECT_FALSE(simulator.State().hungUp);
    EXPECT_EQ(SimTraceLines(simulator.Trace()), (std::vector<std::string>{"1 > VTUN", "1 < CE6313  "}));
}

TEST(PosixSimLine, RestartKeepsAnOpenLineAndStartsTheModuleAfresh) {
    sim::ModuleSimulator simulator(sim::Scenario{});
    SimToolLine tool(simulator.DevicePath());
    EXPECT_EQ(tool.Exchange("CPRM", 4), ToBytes("OK\r\n"));
    EXPECT_EQ(simulator.State().settingsClears, 1);
    const std::string device = simulator.DevicePath();

    sim::Scenario next;
    next.identification.pld = "PLD 9.99 Z99";
    simulator.Restart(next);
    EXPECT_EQ(simulator.DevicePath(), device);
    EXPECT_EQ(simulator.State().settingsClears, 0);
    EXPECT_TRUE(simulator.Trace().empty());
    EXPECT_EQ(tool.Exchange("VPLD", 12), ToBytes("PLD 9.99 Z99"));
    EXPECT_EQ(simulator.ExchangeCount(), 1);
}

TEST(PosixSimLine, PacedRepliesAreNoFasterThanTheLineRate) {
    sim::Scenario scenario;
    scenario.paced = true;
    scenario.blockReceiveLength = 2304;
    sim::ModuleSimulator simulator(scenario);
    SimToolLine tool(simulator.DevicePath());

    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(tool.Write("RSTA"));
    const Bytes reply = tool.Read(4 + 2304);
    const double seconds = SecondsSince(start);
    ASSERT_EQ(reply.size(), 4u + 2304u);
    // The command's 4 bytes in, then 2308 out, back to back.
    const double lineTime = (4 + 4 + 2304) * kSecondsPerByte;
    EXPECT_GE(seconds, lineTime * 0.999);
    EXPECT_LT(seconds, lineTime * 3 + 2.0); // generous: only that it is paced, not stuck

    EXPECT_EQ(SimTraceLines(simulator.Trace()),
              (std::vector<std::string>{"1 > RSTA", "1 < \\x00\\x09\\x00\\x00", "1 < [len 2304]"}));
}

TEST(PosixSimLine, PacedInputIsTakenNoFasterThanTheLineRate) {
    sim::Scenario scenario;
    scenario.paced = true;
    sim::ModuleSimulator simulator(scenario);
    SimToolLine tool(simulator.DevicePath());
    EXPECT_EQ(tool.Exchange("CPLD", 4), ToBytes("OK\r\n"));

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(tool.Exchange("UPLD", 4), ToBytes("OK\r\n"));
    const Bytes data(1152, 0x5A);
    ASSERT_TRUE(tool.Write(Concat({LengthWordBytes(1152), data})));
    EXPECT_EQ(tool.Read(4), ToBytes("OK\r\n"));
    const double seconds = SecondsSince(start);
    const double lineTime = (4 + 4 + 4 + 1152 + 4) * kSecondsPerByte;
    EXPECT_GE(seconds, lineTime * 0.999);
    EXPECT_LT(seconds, lineTime * 3 + 2.0);

    // The module's own clock: the last data byte came at least 1156 byte times after the command.
    const std::vector<sim::TraceEntry> trace = simulator.Trace();
    ASSERT_EQ(trace.size(), 7u);
    const auto commandToData = std::chrono::duration<double>(trace[5].time - trace[2].time).count();
    EXPECT_GE(commandToData, (4 + 1152) * kSecondsPerByte * 0.999);
    EXPECT_EQ(simulator.State().flash[0], data);
}

TEST(PosixSimLine, DelayAndEraseHoldTheReplyBack) {
    sim::Scenario scenario;
    scenario.eraseMs = 300;
    sim::Fault delay;
    delay.kind = sim::FaultKind::Delay;
    delay.command = "VTUN";
    delay.delayMs = 400;
    scenario.faults.push_back(delay);
    sim::ModuleSimulator simulator(scenario);
    SimToolLine tool(simulator.DevicePath());

    Clock::time_point start = Clock::now();
    EXPECT_EQ(tool.Exchange("VTUN", 8), ToBytes("STV0299B"));
    EXPECT_GE(SecondsSince(start), 0.4);
    start = Clock::now();
    EXPECT_EQ(tool.Exchange("CAPD", 4), ToBytes("OK\r\n"));
    EXPECT_GE(SecondsSince(start), 0.3);
}

TEST(PosixSimLine, StopMidBlockFreezesThenDropsWhatCameAndAnswersAgain) {
    sim::Scenario scenario;
    sim::Fault stop;
    stop.kind = sim::FaultKind::StopMidBlock;
    stop.command = "UAPD";
    stop.bytes = 16;
    stop.delayMs = 300;
    scenario.faults.push_back(stop);
    sim::ModuleSimulator simulator(scenario);
    SimToolLine tool(simulator.DevicePath());

    EXPECT_EQ(tool.Exchange("UAPD", 4), ToBytes("OK\r\n"));
    ASSERT_TRUE(tool.Write(Concat({LengthWordBytes(48), Bytes(48, 0x11)})));
    EXPECT_EQ(tool.Read(4, 200ms), Bytes{});
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(tool.Exchange("VTUN", 8), ToBytes("STV0299B"));
    EXPECT_EQ(SimTraceLines(simulator.Trace()),
              (std::vector<std::string>{"1 > UAPD", "1 < OK\\r\\n", "1 > 0\\x00\\x00\\x00",
                                        "1 > \\x11\\x11\\x11\\x11\\x11\\x11\\x11\\x11\\x11\\x11\\x11\\x11"
                                        "\\x11\\x11\\x11\\x11",
                                        "0 > (dropped) [len 32]", "2 > VTUN", "2 < STV0299B"}));
}

TEST(PosixSimLine, ResetIsSilentForItsRestartTimeThenAnswersAsTheNewFirmware) {
    sim::Scenario scenario;
    scenario.restartMs = 1500;
    scenario.afterReset.dsp = "NUV 1.20 C00";
    sim::ModuleSimulator simulator(scenario);
    SimToolLine tool(simulator.DevicePath());

    const Clock::time_point reset = Clock::now();
    EXPECT_EQ(tool.Exchange("RST0", 4), ToBytes("NUVs"));
    EXPECT_EQ(tool.Exchange("VDSP", 12), Bytes{}); // dropped: the read waits out its quiet time
    std::this_thread::sleep_until(reset + 1700ms);
    EXPECT_EQ(tool.Exchange("VDSP", 12), ToBytes("NUV 1.20 C00"));
    EXPECT_EQ(SimTraceLines(simulator.Trace()),
              (std::vector<std::string>{"1 > RST0", "1 < NUVs", "0 > (dropped) VDSP", "2 > VDSP",
                                        "2 < NUV 1.20 C00"}));
    EXPECT_EQ(simulator.State().resets, 1);
}

TEST(PosixSimLine, SilentLineOpensAndNeverAnswers) {
    SimTempDir dir;
    {
        sim::SilentLine line;
        line.LinkAsPort(dir.Path(), 9);
        EXPECT_EQ(ReadLink(dir.File("com9")), line.DevicePath());
        SimToolLine tool(dir.File("com9"));
        ASSERT_TRUE(tool.IsOpen());
        EXPECT_EQ(tool.Exchange("VDSP", 12, 300ms), Bytes{});
    }
    EXPECT_FALSE(Exists(dir.File("com9")));
}

TEST(PosixSimLine, NoDescriptorIsLeftAfterDestruction) {
    const int before = qam::test::OpenDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        sim::Scenario scenario;
        sim::Fault hangUp;
        hangUp.kind = sim::FaultKind::HangUp;
        hangUp.command = "VTUN";
        scenario.faults.push_back(hangUp);
        sim::ModuleSimulator simulator(scenario);
        {
            SimToolLine tool(simulator.DevicePath());
            tool.Exchange("VTUN", 8, 300ms);
        }
        simulator.Restart(sim::Scenario{});
        simulator.Restart(sim::Scenario{});
        sim::SilentLine silent;
    }
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
}

TEST(PosixSimLine, SimulatorControlLinksComThreeInItsOwnPortsDirectory) {
    link::SetPortsDirectory("/tmp/qam-previous-ports");
    std::string directory;
    {
        sim::Scenario scenario;
        scenario.identification.tuner = "ALIS3501";
        std::unique_ptr<SimulatorControl> control = StartSimulator(scenario);
        EXPECT_EQ(control->Port(), 3);
        directory = link::PortsDirectory();
        EXPECT_NE(directory, "/tmp/qam-previous-ports");
        SimToolLine tool(directory + "/com3");
        ASSERT_TRUE(tool.IsOpen());
        EXPECT_EQ(tool.Exchange("VTUN", 8), ToBytes("ALIS3501"));
        EXPECT_EQ(SimTraceLines(control->Trace()), (std::vector<std::string>{"1 > VTUN", "1 < ALIS3501"}));

        control->Restart(sim::Scenario{});
        EXPECT_TRUE(control->Trace().empty());
        EXPECT_EQ(tool.Exchange("CPRM", 4), ToBytes("OK\r\n"));
        EXPECT_EQ(control->State().settingsClears, 1);
    }
    EXPECT_EQ(link::PortsDirectory(), "/tmp/qam-previous-ports");
    EXPECT_FALSE(Exists(directory));
}

TEST(PosixSimLine, SimulatorControlRemovesLinksATestLeftInItsDirectory) {
    std::string directory;
    {
        std::unique_ptr<SimulatorControl> control = StartSimulator(sim::Scenario{});
        directory = link::PortsDirectory();
        sim::SilentLine silent;
        silent.LinkAsPort(directory, 1);
        control.reset();
        EXPECT_FALSE(Exists(directory));
    }
    EXPECT_FALSE(Exists(directory));
}

} // namespace
} // namespace qam::test
