// The Win32 side under Wine: the line settings the port writes, the device name, what repeated
// opens leave, registry values of the wrong kind, and the program's manifest.
#include "framework/win32/Windows.h"

#include "link/ComDevice.h"
#include "link/ComDevice_win32.h"
#include "tests/support/Kit.h"
#include "tests/support/Proof.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

namespace {

using namespace qam::test;

TEST(Win32, LineSettingsAndDeviceName) {
    DCB read{};
    read.DCBlength = sizeof(DCB);
    read.fAbortOnError = 1;
    read.fDsrSensitivity = 1;
    read.fTXContinueOnXoff = 1;
    read.fOutxCtsFlow = 1;
    read.fNull = 1;
    read.EofChar = 0x1A;
    const DCB even = qam::link::win32::BuildLineSettings(read, 115200, 1, 0);
    EXPECT_EQ(even.DCBlength, sizeof(DCB));
    EXPECT_EQ(even.BaudRate, 115200u);
    EXPECT_EQ(even.fBinary, 1u);
    EXPECT_EQ(even.fParity, 1u);
    EXPECT_EQ(even.Parity, EVENPARITY);
    EXPECT_EQ(even.ByteSize, 8);
    EXPECT_EQ(even.StopBits, ONESTOPBIT);
    EXPECT_EQ(even.fOutxCtsFlow | even.fOutxDsrFlow | even.fOutX | even.fInX | even.fNull, 0u);
    EXPECT_EQ(even.fDtrControl, unsigned{DTR_CONTROL_DISABLE});
    EXPECT_EQ(even.fRtsControl, unsigned{RTS_CONTROL_DISABLE});
    // Cleared: a kept abort-on-error would fail every read after one line error.
    EXPECT_EQ(even.fAbortOnError | even.fDsrSensitivity, 0u);
    EXPECT_EQ(even.fTXContinueOnXoff, 1u);
    EXPECT_EQ(even.EofChar, 0x1A);
    EXPECT_EQ(even.XonLim, 32768);
    EXPECT_EQ(even.XoffLim, 8192);
    EXPECT_EQ(even.XonChar, 0x11);
    EXPECT_EQ(even.XoffChar, 0x13);
    const DCB xon = qam::link::win32::BuildLineSettings(read, 9600, 2, 1);
    EXPECT_EQ(xon.fParity, 0u);
    EXPECT_EQ(xon.Parity, EVENPARITY);
    EXPECT_EQ(xon.fOutX & xon.fInX, 1u);
    EXPECT_EQ(qam::link::win32::DeviceName(3), "\\\\.\\COM3");
    EXPECT_EQ(qam::link::win32::DeviceName(-2147483647 - 1), "\\\\.\\COM-2147483648");
}

TEST(Win32, RepeatedOpensAccumulateNoHandles) {
    const auto sim = StartSimulator({});
    CComDevice link;
    auto nextHandle = [] {
        const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ::CloseHandle(event);
        return reinterpret_cast<std::uintptr_t>(event);
    };
    ASSERT_EQ(link.Open(sim->Port(), 115200, 1, 0), 1);
    link.Close();
    const std::uintptr_t before = nextHandle();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(link.Open(sim->Port(), 115200, 1, 0), 1);
        EXPECT_EQ(link.Open(9999, 115200, 1, 0), 0);
    }
    // A handle left behind by each open would push the next free slot 50 places on.
    EXPECT_LE(nextHandle(), before + 8 * sizeof(HANDLE));
}

TEST(Win32, TheManifestAsksForSystemDpiAwareness) {
    EXPECT_TRUE(::IsProcessDPIAware());
}

class Win32Registry : public WindowTest {};

// Values of another type or size than the window reads them as count as missing.
TEST_F(Win32Registry, ValuesOfTheWrongKindAreDefaults) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Orvane\\NUV2", 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::uint64_t wide = 3;
    ::RegSetValueExA(key, "LastCOM", 0, REG_SZ, reinterpret_cast<const BYTE*>("3"), 2);
    ::RegSetValueExA(key, "PrefCOM", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&wide), sizeof wide);
    const std::string longest(261, 'd');
    ::RegSetValueExA(key, "LastNUVDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(longest.c_str()), 261);
    ::RegCloseKey(key);
    ScopedTimeoutScale fast(1, 40); // the silent COM1 first
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
            EXPECT_EQ(dialog.m_search.portCount, 32);
            EXPECT_EQ(Desk().Texts(IDC_STATUS_UPPER).at(1), "searching Device on COM 1...");
            EXPECT_EQ(std::string(dialog.m_lastDirectory.data()), "");
        }});
    ProofTally().Record("registry-values", !HasFailure());
}

} // namespace
