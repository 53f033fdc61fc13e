#include "framework/win32/Windows.h"

#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "link/ComDevice_win32.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The Win32 port on its own: what Open asks of the device, and that scans which open port after
// port never leave a device held nor gather event objects.
namespace {

namespace win32 = qam::link::win32;

constexpr int kBaud = 115200;
constexpr int kMissingPort = 7; // no link in the prefix's dosdevices
// Wine takes and drops a few descriptors of its own while a program runs; a device left held by
// each of hundreds of opens would show far above this.
constexpr int kWineDescriptorSlack = 32;

int NotSerialPort() {
    const char* value = std::getenv("QAM_TEST_NOT_SERIAL_COM");
    return value == nullptr ? 0 : std::atoi(value);
}

DCB Filled(unsigned char byte) {
    DCB dcb;
    std::memset(&dcb, byte, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    return dcb;
}

TEST(Win32DeviceName, HoldsEveryThirtyTwoBitPortNumber) {
    const std::vector<std::pair<int, std::string>> cases{
        {1, "\\\\.\\COM1"},
        {3, "\\\\.\\COM3"},
        {256, "\\\\.\\COM256"},
        {2147483647, "\\\\.\\COM2147483647"},
        {-2147483647 - 1, "\\\\.\\COM-2147483648"},
        {0, "\\\\.\\COM0"},
    };
    for (const auto& [port, name] : cases) {
        EXPECT_EQ(win32::DeviceName(port), name) << port;
    }
}

struct LineCase {
    int parity;
    int xonXoff;
    DWORD fParity;
    BYTE parityValue;
    DWORD flowOut;
};

class Win32LineSettings : public ::testing::TestWithParam<LineCase> {};

TEST_P(Win32LineSettings, ChangesExactlyTheModuleLineFields) {
    const LineCase c = GetParam();
    for (const unsigned char fill : {0x00, 0xFF, 0x5A}) {
        const DCB read = Filled(fill);
        const DCB written = win32::BuildLineSettings(read, kBaud, c.parity, c.xonXoff);
        SCOPED_TRACE(testing::Message() << "read filled with " << int{fill});

        EXPECT_EQ(written.BaudRate, DWORD{kBaud});
        EXPECT_EQ(written.fBinary, 1u);
        EXPECT_EQ(written.fParity, c.fParity);
        EXPECT_EQ(written.Parity, c.parityValue);
        EXPECT_EQ(written.ByteSize, 8);
        EXPECT_EQ(written.StopBits, ONESTOPBIT);
        EXPECT_EQ(written.fOutxCtsFlow, 0u);
        EXPECT_EQ(written.fOutxDsrFlow, 0u);
        EXPECT_EQ(written.fDtrControl, DWORD{DTR_CONTROL_DISABLE});
        EXPECT_EQ(written.fRtsControl, DWORD{RTS_CONTROL_DISABLE});
        EXPECT_EQ(written.fOutX, c.flowOut);
        EXPECT_EQ(written.fInX, c.flowOut);
        EXPECT_EQ(written.fNull, 0u);
        EXPECT_EQ(written.XonLim, 32768);
        EXPECT_EQ(written.XoffLim, 8192);
        EXPECT_EQ(written.XonChar, 0x11);
        EXPECT_EQ(written.XoffChar, 0x13);
        // Cleared whatever was read: a kept abort-on-error would fail every read after one line error.
        EXPECT_EQ(written.fAbortOnError, 0u);
        EXPECT_EQ(written.fDsrSensitivity, 0u);

        // Everything else is what was read.
        EXPECT_EQ(written.DCBlength, read.DCBlength);
        EXPECT_EQ(written.fTXContinueOnXoff, read.fTXContinueOnXoff);
        EXPECT_EQ(written.fErrorChar, read.fErrorChar);
        EXPECT_EQ(written.fDummy2, read.fDummy2);
        EXPECT_EQ(written.wReserved, read.wReserved);
        EXPECT_EQ(written.wReserved1, read.wReserved1);
        EXPECT_EQ(written.ErrorChar, read.ErrorChar);
        EXPECT_EQ(written.EofChar, read.EofChar);
        EXPECT_EQ(written.EvtChar, read.EvtChar);
    }
}

INSTANTIATE_TEST_SUITE_P(ParityAndFlow, Win32LineSettings,
                         ::testing::Values(LineCase{1, 0, 1u, EVENPARITY, 0u}, LineCase{0, 0, 0u, NOPARITY, 0u},
                                           LineCase{1, 1, 1u, EVENPARITY, 1u}, LineCase{0, 5, 0u, NOPARITY, 1u},
                                           // Any non-zero flag asks for even parity; only 1 sets fParity.
                                           LineCase{2, 0, 0u, EVENPARITY, 0u}));

class Win32Port : public ::testing::Test {
protected:
    void SetUp() override { headless::Desktop::Instance().Reset(); }

    const std::vector<headless::Box>& Boxes() const { return headless::Desktop::Instance().Boxes(); }
};

// The same with the module on its line.
class Win32PortOnModule : public Win32Port {
protected:
    void SetUp() override {
        Win32Port::SetUp();
        m_simulator = qam::test::StartSimulator(qam::sim::Scenario{});
    }

    std::unique_ptr<qam::test::SimulatorControl> m_simulator;
};

TEST_F(Win32PortOnModule, OpenWritesTheLineSettingsBuiltFromWhatItRead) {
    CComDevice device;
    const int writesBefore = win32::Record().settingsWritten;
    ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1);
    ASSERT_EQ(win32::Record().settingsWritten, writesBefore + 1);

    const DCB expected = win32::BuildLineSettings(win32::Record().lastRead, kBaud, 1, 0);
    EXPECT_EQ(std::memcmp(&win32::Record().lastWritten, &expected, sizeof expected), 0);

    // What the port took: a pseudo-terminal keeps the rate and the byte size; it forces parity off,
    // so parity is judged on what was written above.
    DCB now{};
    now.DCBlength = sizeof now;
    ASSERT_TRUE(::GetCommState(win32::Record().lastHandle, &now));
    EXPECT_EQ(now.BaudRate, DWORD{kBaud});
    EXPECT_EQ(now.ByteSize, 8);
    EXPECT_EQ(now.StopBits, ONESTOPBIT);
    EXPECT_EQ(now.fOutX, 0u);
    EXPECT_EQ(now.fInX, 0u);
    EXPECT_EQ(device.Close(), 1);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Win32Port, MissingPortOpensNothingAndShowsNoBox) {
    CComDevice device;
    const int handles = win32::Record().handlesOpen;
    EXPECT_EQ(device.Open(kMissingPort, kBaud, 1, 0), 0);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(win32::Record().handlesOpen, handles);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Win32Port, LargestPortNumberOpensNothing) {
    CComDevice device;
    for (const int port : {2147483647, -2147483647 - 1, 0, -1}) {
        EXPECT_EQ(device.Open(port, kBaud, 1, 0), 0) << port;
        EXPECT_FALSE(device.IsOpen()) << port;
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Win32Port, DeviceThatIsNoSerialPortIsReleasedWhenOpenFails) {
    const int port = NotSerialPort();
    if (port == 0) {
        GTEST_SKIP() << "QAM_TEST_NOT_SERIAL_COM is not set (scripts/wine-tests maps one)";
    }
    CComDevice device;
    // Wine takes a few descriptors of its own on first use: count from the second attempt on.
    ASSERT_EQ(device.Open(port, kBaud, 1, 0), 0);
    const int handles = win32::Record().handlesOpen;
    const int opened = win32::Record().devicesOpened;
    const int descriptors = qam::test::OpenDescriptorCount();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(device.Open(port, kBaud, 1, 0), 0) << "attempt " << i;
        ASSERT_FALSE(device.IsOpen());
    }
    // Each attempt got as far as the device and failed in a later step (Wine refuses its queue sizes).
    EXPECT_EQ(win32::Record().devicesOpened, opened + 200);
    EXPECT_EQ(win32::Record().handlesOpen, handles);
    EXPECT_LE(qam::test::OpenDescriptorCount(), descriptors + kWineDescriptorSlack);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Win32PortOnModule, OneEventServesEveryOpenOfTheDevice) {
    const int notSerial = NotSerialPort();
    {
        // Wine takes a few descriptors of its own on first use: count from the second round on.
        CComDevice warmUp;
        ASSERT_EQ(warmUp.Open(m_simulator->Port(), kBaud, 1, 0), 1);
        warmUp.Open(kMissingPort, kBaud, 1, 0);
        if (notSerial != 0) {
            warmUp.Open(notSerial, kBaud, 1, 0);
        }
    }
    const int eventsBefore = win32::Record().eventsCreated;
    const int handles = win32::Record().handlesOpen;
    const int descriptors = qam::test::OpenDescriptorCount();
    {
        CComDevice device;
        ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1);
        const HANDLE event = win32::Record().lastEvent;
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(win32::Record().eventsCreated, eventsBefore + 1);

        // A scan's pattern: opens that work, opens of missing ports and of ports that fail later,
        // with and without Close in between.
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1) << "open " << i;
            ASSERT_EQ(win32::Record().lastEvent, event) << "open " << i;
            if (i % 2 == 0) {
                ASSERT_EQ(device.Close(), 1);
            }
            ASSERT_EQ(device.Open(kMissingPort, kBaud, 1, 0), 0);
            if (notSerial != 0 && i % 10 == 0) {
                ASSERT_EQ(device.Open(notSerial, kBaud, 1, 0), 0);
            }
        }
        EXPECT_EQ(win32::Record().eventsCreated, eventsBefore + 1);
        EXPECT_EQ(win32::Record().handlesOpen, handles);
    }
    // The device's end releases its event.
    EXPECT_EQ(win32::Record().eventsAlive, 0);
    EXPECT_LE(qam::test::OpenDescriptorCount(), descriptors + kWineDescriptorSlack);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Win32PortOnModule, DevicesThatComeAndGoKeepNoEvents) {
    for (int i = 0; i < 100; ++i) {
        CComDevice device;
        ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1);
        ASSERT_EQ(win32::Record().eventsAlive, 1);
    }
    EXPECT_EQ(win32::Record().eventsAlive, 0);
    EXPECT_EQ(win32::Record().handlesOpen, 0);
}

TEST_F(Win32PortOnModule, ReadThatTimesOutReturnsWhatCameWithoutBox) {
    // Wine completes such a read with ERROR_TIMEOUT where Windows reports success: both are a
    // count, never a refusal.
    CComDevice device;
    ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1);
    ASSERT_EQ(device.SetTimeouts(100, 50, 200, 50, 500), 1);
    char reply[12] = {};
    EXPECT_EQ(device.Read(reply, 4), 0);

    // "?" is answered with 4 bytes; asking for 12 ends one interval after the fourth.
    ASSERT_EQ(device.Write("?", 1), 1);
    EXPECT_EQ(device.Read(reply, 12), 4);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Win32PortOnModule, LostLineFailsAtOnceAndTheNextLineOpens) {
    // Under Wine a line hung up while the port is held fails every read and write outright
    // (ERROR_BROKEN_PIPE): the box, 0, and no wait for the time-outs.
    qam::sim::Fault hangUp;
    hangUp.kind = qam::sim::FaultKind::HangUp;
    hangUp.command = "c000";
    hangUp.bytes = 0;
    qam::sim::Scenario scenario;
    scenario.faults.push_back(hangUp);
    m_simulator->Restart(scenario);

    CComDevice device;
    ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1);
    const HANDLE event = win32::Record().lastEvent;
    ASSERT_EQ(device.SetTimeouts(100, 50, 500, 50, 500), 1);
    char reply[4] = {};
    EXPECT_EQ(device.ExecuteCommand("c000", 4, reply, 4, false), ERR_NO_RESPONSE);
    ASSERT_TRUE(m_simulator->State().hungUp);

    const std::size_t boxesBefore = Boxes().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.Read(reply, 4), 0);
    EXPECT_EQ(device.Write("c001", 4), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)); // hang guard only
    // The read fails outright (its box) or in its completion (no box); the write fails outright.
    const std::vector<headless::Box> shown(Boxes().begin() + static_cast<std::ptrdiff_t>(boxesBefore), Boxes().end());
    const headless::Box readFailed{nullptr, "Read Failed!", "Error", MB_OK | MB_ICONERROR, IDOK};
    const headless::Box writeFailed{nullptr, "Write Failed!", "Error", MB_OK | MB_ICONERROR, IDOK};
    EXPECT_TRUE(shown == std::vector<headless::Box>{writeFailed} ||
                shown == (std::vector<headless::Box>{readFailed, writeFailed}))
        << shown.size() << " boxes";
    EXPECT_TRUE(device.IsOpen()); // the link stays open until its owner closes it

    // A fresh line behind the same COM number: the next Open takes it, with the same event.
    m_simulator->Restart(qam::sim::Scenario{});
    ASSERT_EQ(device.Open(m_simulator->Port(), kBaud, 1, 0), 1);
    EXPECT_EQ(win32::Record().lastEvent, event);
    EXPECT_EQ(device.ExecuteCommand("c000", 4, reply, 4, false), RESULT_OK);
}

TEST_F(Win32Port, ClosedLinkMovesNothing) {
    CComDevice device;
    char buffer[4] = {};
    EXPECT_EQ(device.Read(buffer, 4), 0);
    EXPECT_EQ(device.Write(buffer, 4), 0);
    EXPECT_EQ(device.Close(), 0);
    EXPECT_EQ(device.Purge(), 0);
    EXPECT_EQ(device.SetTimeouts(100, 50, 5000, 50, 500), 0);
    EXPECT_TRUE(Boxes().empty());
}

} // namespace
