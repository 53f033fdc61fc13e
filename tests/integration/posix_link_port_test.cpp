// The POSIX port against a pseudo-terminal the test drives itself: the read time-out rule, the
// lost line, exclusive opening, the line settings asked for, and descriptors over many opens.

#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "link/PortsDirectory.h"
#include "link/PosixLineSettings.h"
#include "tests/support/Platform.h"
#include "tests/support/TestTimeouts.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 5;
// Generous bounds against hangs only; never a measure of how fast something is.
constexpr auto kHangGuard = 10s;

// A pseudo-terminal linked as com<kPort> in a temporary ports directory; the test plays the module
// on the master side.
class PtyLine {
public:
    PtyLine() {
        char pattern[] = "/tmp/qam-link-test-XXXXXX";
        m_directory = ::mkdtemp(pattern);
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        m_devicePath = name;
        LinkAs(kPort, m_devicePath);
        qam::link::SetPortsDirectory(m_directory);
    }
    ~PtyLine() {
        HangUp();
        if (m_slave >= 0) {
            ::close(m_slave);
        }
        std::filesystem::remove_all(m_directory);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    void LinkAs(int port, const std::string& target) {
        std::filesystem::create_symlink(target, m_directory + "/com" + std::to_string(port));
    }
    const std::string& Directory() const { return m_directory; }
    const std::string& DevicePath() const { return m_devicePath; }
    int Slave() const { return m_slave; }

    void Send(std::string_view bytes) const {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the tool has written so far.
    std::string Received() const {
        std::string all;
        for (;;) {
            pollfd entry{m_master, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0 || (entry.revents & POLLIN) == 0) {
                return all;
            }
            char chunk[256];
            const ssize_t got = ::read(m_master, chunk, sizeof chunk);
            if (got <= 0) {
                return all;
            }
            all.append(chunk, static_cast<std::size_t>(got));
        }
    }
    void HangUp() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

private:
    std::string m_directory;
    std::string m_devicePath;
    int m_master = -1;
    int m_slave = -1;
};

class PosixLinkPort : public ::testing::Test {
protected:
    void SetUp() override {
        headless::Desktop::Instance().Reset();
        qam::test::ClearAskedTimeouts();
    }
    void TearDown() override { qam::link::SetPortsDirectory("/nonexistent"); }

    // Opens the link with the module's settings and then the given time-outs.
    void OpenWith(int interval, int multiplier, int constant, int writeMultiplier = 0, int writeConstant = 500) {
        ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
        ASSERT_EQ(m_device.SetTimeouts(interval, multiplier, constant, writeMultiplier, writeConstant), 1);
    }

    const std::vector<headless::Box>& Boxes() const { return headless::Desktop::Instance().Boxes(); }

    PtyLine m_line;
    CComDevice m_device;
};

struct Timed {
    int count;
    Clock::duration elapsed;
};

Timed TimedRead(CComDevice& device, void* buffer, int count) {
    const auto start = Clock::now();
    const int got = device.Read(buffer, count);
    return {got, Clock::now() - start};
}

double ThreadCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}


TEST_F(PosixLinkPort, Open_AsksTheModuleTimeoutsAndSucceeds) {
    EXPECT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
    EXPECT_TRUE(m_device.IsOpen());
    const std::vector<qam::link::Timeouts> expected{{100, 50, 5000, 50, 500}};
    EXPECT_EQ(qam::test::AskedTimeouts(), expected);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, Read_FourOfTwelveEndsOneIntervalAfterTheFourth) {
    OpenWith(150, 0, 6000);
    Clock::time_point sentAt;
    std::jthread module([this, &sentAt] {
        std::this_thread::sleep_for(200ms);
        sentAt = Clock::now();
        m_line.Send("NUV ");
    });
    std::array<char, 12> buffer{};
    const int got = m_device.Read(buffer.data(), 12);
    const auto returnedAt = Clock::now();
    module.join();
    EXPECT_EQ(got, 4);
    EXPECT_EQ(std::string(buffer.data(), 4), "NUV ");
    EXPECT_GE(returnedAt - sentAt, 150ms) << "the read ended before the interval passed";
    EXPECT_LT(returnedAt - sentAt, 5s) << "the read total, not the interval, ended the read";
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, Read_SilenceEndsAfterTheTotal) {
    OpenWith(100, 20, 200);
    std::array<char, 12> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 12);
    EXPECT_EQ(read.count, 0);
    EXPECT_GE(read.elapsed, 20ms * 12 + 200ms);
    EXPECT_LT(read.elapsed, kHangGuard);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, Read_IntervalIsNotAppliedBeforeTheFirstByte) {
    OpenWith(50, 0, 6000);
    Clock::time_point sentAt;
    std::jthread module([this, &sentAt] {
        std::this_thread::sleep_for(400ms);
        sentAt = Clock::now();
        m_line.Send("OK\r\n");
    });
    std::array<char, 12> buffer{};
    const auto start = Clock::now();
    const int got = m_device.Read(buffer.data(), 12);
    const auto returnedAt = Clock::now();
    module.join();
    EXPECT_GT(sentAt - start, 50ms) << "the first byte must come later than one interval";
    EXPECT_EQ(got, 4);
    EXPECT_GE(returnedAt, sentAt);
    EXPECT_LT(returnedAt - start, 5s);
}

TEST_F(PosixLinkPort, Read_BytesCloserThanTheIntervalAllArrive) {
    OpenWith(400, 0, 8000);
    std::jthread module([this] {
        for (const char c : std::string("PLD 2.03 B00")) {
            std::this_thread::sleep_for(20ms);
            m_line.Send(std::string(1, c));
        }
    });
    std::array<char, 12> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 12);
    EXPECT_EQ(read.count, 12);
    EXPECT_EQ(std::string(buffer.data(), 12), "PLD 2.03 B00");
    EXPECT_LT(read.elapsed, kHangGuard);
}

TEST_F(PosixLinkPort, Read_TotalEndsATrickleThatNeverStops) {
    OpenWith(300, 0, 400);
    std::jthread module([this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            m_line.Send("x");
            std::this_thread::sleep_for(30ms);
        }
    });
    std::array<char, 200> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 200);
    module.request_stop();
    EXPECT_GT(read.count, 0);
    EXPECT_LT(read.count, 200);
    EXPECT_GE(read.elapsed, 400ms);
    EXPECT_LT(read.elapsed, kHangGuard);
}

TEST_F(PosixLinkPort, Read_ImmediateSettingReturnsWhatIsThereAtOnce) {
    OpenWith(-1, 0, 0); // MAXDWORD, 0, 0
    m_line.Send("AB");
    std::this_thread::sleep_for(50ms);
    std::array<char, 8> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 8);
    EXPECT_EQ(read.count, 2);
    const Timed empty = TimedRead(m_device, buffer.data(), 8);
    EXPECT_EQ(empty.count, 0);
    EXPECT_LT(empty.elapsed, kHangGuard);
}

TEST_F(PosixLinkPort, Read_FirstByteSettingReturnsOnTheFirstArrival) {
    OpenWith(-1, -1, 5000); // MAXDWORD, MAXDWORD, 5000
    std::jthread module([this] {
        std::this_thread::sleep_for(100ms);
        m_line.Send("Z");
    });
    std::array<char, 8> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 8);
    EXPECT_EQ(read.count, 1);
    EXPECT_LT(read.elapsed, 4s);
}

TEST_F(PosixLinkPort, Write_IsBoundedByTheWriteTotalWhenNobodyReads) {
    OpenWith(100, 0, 1000, 0, 300);
    std::vector<std::uint8_t> data(1 << 20, 0x55);
    const auto start = Clock::now();
    const int written = m_device.Write(data.data(), static_cast<int>(data.size()));
    const auto elapsed = Clock::now() - start;
    EXPECT_LT(written, static_cast<int>(data.size()));
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, kHangGuard);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, WriteAndRead_MoveTheBytesAsTheyAre) {
    OpenWith(100, 0, 1000);
    const std::string command = "VDSP\r\n\x11\x13\x00\xff";
    EXPECT_EQ(m_device.Write(command.data(), static_cast<int>(command.size())), static_cast<int>(command.size()));
    EXPECT_EQ(m_line.Received(), command);
    m_line.Send(std::string("\r\n\x03\x7f\x11", 5));
    std::array<char, 5> buffer{};
    EXPECT_EQ(m_device.Read(buffer.data(), 5), 5);
    EXPECT_EQ(std::string(buffer.data(), 5), std::string("\r\n\x03\x7f\x11", 5));
}

TEST_F(PosixLinkPort, Purge_DiscardsWhatWasWaiting) {
    OpenWith(50, 0, 200);
    m_line.Send("stale");
    std::this_thread::sleep_for(50ms);
    EXPECT_NE(m_device.Purge(), 0);
    std::array<char, 5> buffer{};
    EXPECT_EQ(m_device.Read(buffer.data(), 5), 0);
}

TEST_F(PosixLinkPort, ClosedLink_ReadWriteAnswerZeroAtOnceWithoutBox) {
    std::array<char, 4> buffer{};
    EXPECT_EQ(m_device.Read(buffer.data(), 4), 0);
    EXPECT_EQ(m_device.Write("VDSP", 4), 0);
    EXPECT_EQ(m_device.Purge(), 0);
    EXPECT_EQ(m_device.Close(), 0);
    EXPECT_FALSE(m_device.IsOpen());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, Close_ThenReadAnswersZeroAndCloseAgainChangesNothing) {
    OpenWith(100, 0, 5000);
    EXPECT_NE(m_device.Close(), 0);
    EXPECT_EQ(m_device.Close(), 0);
    std::array<char, 4> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 4);
    EXPECT_EQ(read.count, 0);
    EXPECT_LT(read.elapsed, 1s);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, LostLineWhileReading_EndsWithTheBytesSoFarNoBoxNoSpin) {
    OpenWith(2000, 0, 6000);
    std::jthread module([this] {
        m_line.Send("NU");
        std::this_thread::sleep_for(300ms);
        m_line.HangUp();
    });
    std::array<char, 12> buffer{};
    const double cpuBefore = ThreadCpuSeconds();
    const Timed read = TimedRead(m_device, buffer.data(), 12);
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    EXPECT_EQ(read.count, 2);
    EXPECT_LT(read.elapsed, 1900ms) << "the read waited for its interval instead of ending at the hang-up";
    EXPECT_LT(cpu, 1.0) << "the read spun on the lost line";
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PosixLinkPort, LostLineAtCallStart_IsRefusedWithItsBox) {
    OpenWith(100, 0, 3000);
    m_line.HangUp();
    std::array<char, 4> buffer{};
    const Timed read = TimedRead(m_device, buffer.data(), 4);
    const auto start = Clock::now();
    const int written = m_device.Write("VDSP", 4);
    const auto writeElapsed = Clock::now() - start;
    EXPECT_EQ(read.count, 0);
    EXPECT_EQ(written, 0);
    EXPECT_LT(read.elapsed, 2s);
    EXPECT_LT(writeElapsed, 2s);
    const std::vector<headless::Box> expected{{nullptr, "Read Failed!", "Error", MB_OK | MB_ICONERROR, IDOK},
                                              {nullptr, "Write Failed!", "Error", MB_OK | MB_ICONERROR, IDOK}};
    EXPECT_EQ(Boxes(), expected);
    EXPECT_TRUE(m_device.IsOpen()) << "the link stays open after a refusal";
}

TEST_F(PosixLinkPort, Open_MissingPortFailsQuietly) {
    EXPECT_EQ(m_device.Open(kPort + 1, 115200, 1, 0), 0);
    EXPECT_FALSE(m_device.IsOpen());
    m_line.LinkAs(kPort + 2, m_line.Directory() + "/nothing-here");
    EXPECT_EQ(m_device.Open(kPort + 2, 115200, 1, 0), 0);
    EXPECT_EQ(m_device.Open(-1, 115200, 1, 0), 0);
    EXPECT_EQ(m_device.Open(2147483647, 115200, 1, 0), 0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(qam::test::AskedTimeouts().empty());
}

TEST_F(PosixLinkPort, Open_SomethingThatIsNotATerminalFails) {
    const std::string file = m_line.Directory() + "/plain";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    m_line.LinkAs(kPort + 1, file);
    EXPECT_EQ(m_device.Open(kPort + 1, 115200, 1, 0), 0);
    EXPECT_FALSE(m_device.IsOpen());
}

TEST_F(PosixLinkPort, Open_UnknownBaudRateFails) {
    EXPECT_EQ(m_device.Open(kPort, 123456, 1, 0), 0);
    EXPECT_FALSE(m_device.IsOpen());
}

TEST_F(PosixLinkPort, Open_SecondDeviceOnTheSamePortFails) {
    ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
    CComDevice second;
    EXPECT_EQ(second.Open(kPort, 115200, 1, 0), 0);
    EXPECT_FALSE(second.IsOpen());
    m_device.Close();
    EXPECT_EQ(second.Open(kPort, 115200, 1, 0), 1) << "closing released the port";
}

TEST_F(PosixLinkPort, Open_PortLockedByAnotherHolderFails) {
    const int holder = ::open(m_line.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(m_device.Open(kPort, 115200, 1, 0), 0);
    ::close(holder);
    EXPECT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
}

TEST_F(PosixLinkPort, Open_AgainWithoutCloseReleasesTheFirst) {
    const int before = qam::test::OpenDescriptorCount();
    ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
    ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
    m_device.Close();
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
}

TEST_F(PosixLinkPort, Descriptors_ManyOpensAndFailedOpensLeakNothing) {
    const int before = qam::test::OpenDescriptorCount();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
        ASSERT_NE(m_device.Close(), 0);
    }
    ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
    for (int i = 0; i < 200; ++i) {
        CComDevice other;
        ASSERT_EQ(other.Open(kPort, 115200, 1, 0), 0); // locked by m_device
        ASSERT_EQ(other.Open(kPort + 1, 115200, 1, 0), 0); // missing
        ASSERT_EQ(other.Open(kPort, 1, 1, 0), 0);          // baud rate refused
    }
    m_device.Close();
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
}

TEST_F(PosixLinkPort, Destructor_ClosesAnOpenLink) {
    const int before = qam::test::OpenDescriptorCount();
    {
        CComDevice scoped;
        ASSERT_EQ(scoped.Open(kPort, 115200, 1, 0), 1);
        EXPECT_EQ(qam::test::OpenDescriptorCount(), before + 1);
    }
    EXPECT_EQ(qam::test::OpenDescriptorCount(), before);
    EXPECT_EQ(m_device.Open(kPort, 115200, 1, 0), 1) << "the port was released";
}

TEST_F(PosixLinkPort, Open_LeavesTheLineRawAtTheAskedSpeed) {
    ASSERT_EQ(m_device.Open(kPort, 115200, 1, 0), 1);
    termios t{};
    ASSERT_EQ(::tcgetattr(m_line.Slave(), &t), 0);
    // What a pseudo-terminal keeps of what was asked; size and parity are checked on the builder.
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_cflag & (HUPCL | CSTOPB), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

struct LineCase {
    int parity;
    int xonXoff;
    bool parityEnabled;
    bool parityChecked;
    bool flowControl;
};

class PosixLineSettings : public ::testing::TestWithParam<LineCase> {};

TEST_P(PosixLineSettings, BuildsTheAskedLine) {
    const LineCase c = GetParam();
    termios cooked{};
    cooked.c_iflag = ICRNL | IXON | IGNPAR | ISTRIP;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    cooked.c_cflag = CS7 | PARODD | CMSPAR | CSTOPB | HUPCL | CRTSCTS;
    speed_t speed{};
    ASSERT_TRUE(qam::link::posix::BaudRateSpeed(115200, speed));
    const termios t = qam::link::posix::LineSettings(cooked, speed, c.parity, c.xonXoff);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parityEnabled);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parityChecked);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB | HUPCL | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.flowControl);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.flowControl);
    EXPECT_EQ(t.c_iflag & (ICRNL | IGNPAR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cc[VMIN], 1) << "the time-outs are the port's, never the driver's";
    EXPECT_EQ(t.c_cc[VTIME], 0);
    if (c.flowControl) {
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    }
}

INSTANTIATE_TEST_SUITE_P(Flags, PosixLineSettings,
                         ::testing::Values(LineCase{1, 0, true, true, false}, LineCase{0, 0, false, false, false},
                                           LineCase{2, 0, true, false, false}, LineCase{1, 1, true, true, true},
                                           LineCase{0, 7, false, false, true}));

TEST(PosixBaudRates, KnownRatesMapAndOthersAreRefused) {
    speed_t speed{};
    EXPECT_TRUE(qam::link::posix::BaudRateSpeed(9600, speed));
    EXPECT_EQ(speed, static_cast<speed_t>(B9600));
    EXPECT_TRUE(qam::link::posix::BaudRateSpeed(115200, speed));
    EXPECT_EQ(speed, static_cast<speed_t>(B115200));
    EXPECT_FALSE(qam::link::posix::BaudRateSpeed(0, speed));
    EXPECT_FALSE(qam::link::posix::BaudRateSpeed(-115200, speed));
    EXPECT_FALSE(qam::link::posix::BaudRateSpeed(115201, speed));
}

} // namespace
