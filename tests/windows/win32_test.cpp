// The Win32 side under Wine: what the port asks of the system, what repeated opens leave,
// registry values of the wrong kind, and the manifest built into QamUpdate.exe.
#include "framework/win32/Windows.h"

#include "link/ComDevice.h"
#include "link/ComDevice_win32.h"
#include "tests/support/Kit.h"
#include "tests/support/Proof.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

namespace {

using namespace qam::test;

// What the port asks of the system, on its way there: this program defines the import pointers
// itself, so the linker takes them in place of the import library's and the link's own object
// code calls these stand-ins, which record and pass on.
struct Asked {
    std::vector<std::string> names;
    std::vector<DWORD> createFile; // access, share mode, disposition, flags per call
    std::vector<DWORD> queues;
    std::vector<DCB> states;
    std::vector<DWORD> masks;
    std::vector<DWORD> purges;
    std::vector<COMMTIMEOUTS> timeouts;
} asked;

template <typename Function> Function System(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

HANDLE WINAPI RecordCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model) {
    asked.names.emplace_back(name);
    asked.createFile.insert(asked.createFile.end(), {access, share, disposition, flags});
    return System<decltype(&::CreateFileA)>("CreateFileA")(name, access, share, security, disposition, flags,
                                                           model);
}
BOOL WINAPI RecordSetupComm(HANDLE device, DWORD input, DWORD output) {
    asked.queues.insert(asked.queues.end(), {input, output});
    return System<decltype(&::SetupComm)>("SetupComm")(device, input, output);
}
// The record read is made as unlike the module's line as it can be, so that each field the port
// must set is seen set, and those it must keep are seen kept.
BOOL WINAPI ReadUnlikeState(HANDLE device, LPDCB state) {
    const BOOL read = System<decltype(&::GetCommState)>("GetCommState")(device, state);
    state->BaudRate = 300;
    state->fParity = state->fOutxCtsFlow = state->fOutxDsrFlow = state->fOutX = state->fInX = 1;
    state->fNull = state->fAbortOnError = state->fDsrSensitivity = state->fTXContinueOnXoff = 1;
    state->fDtrControl = DTR_CONTROL_HANDSHAKE;
    state->fRtsControl = RTS_CONTROL_TOGGLE;
    state->Parity = ODDPARITY;
    state->ByteSize = 7;
    state->StopBits = TWOSTOPBITS;
    state->XonLim = state->XoffLim = 7;
    state->XonChar = state->XoffChar = 'x';
    state->EofChar = 0x1A;
    state->EvtChar = 0x7E;
    return read;
}
BOOL WINAPI RecordSetCommState(HANDLE device, LPDCB state) {
    asked.states.push_back(*state);
    return System<decltype(&::SetCommState)>("SetCommState")(device, state);
}
BOOL WINAPI RecordSetCommMask(HANDLE device, DWORD mask) {
    asked.masks.push_back(mask);
    return System<decltype(&::SetCommMask)>("SetCommMask")(device, mask);
}
BOOL WINAPI RecordPurgeComm(HANDLE device, DWORD flags) {
    asked.purges.push_back(flags);
    return System<decltype(&::PurgeComm)>("PurgeComm")(device, flags);
}
BOOL WINAPI RecordSetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) {
    asked.timeouts.push_back(*timeouts);
    return System<decltype(&::SetCommTimeouts)>("SetCommTimeouts")(device, timeouts);
}

} // namespace

extern "C" {
decltype(&::CreateFileA) __imp_CreateFileA = RecordCreateFile;
decltype(&::SetupComm) __imp_SetupComm = RecordSetupComm;
decltype(&::GetCommState) __imp_GetCommState = ReadUnlikeState;
decltype(&::SetCommState) __imp_SetCommState = RecordSetCommState;
decltype(&::SetCommMask) __imp_SetCommMask = RecordSetCommMask;
decltype(&::PurgeComm) __imp_PurgeComm = RecordPurgeComm;
decltype(&::SetCommTimeouts) __imp_SetCommTimeouts = RecordSetCommTimeouts;
}

namespace {

// The module's line: 115200 baud, 8 data bits, even parity, one stop bit, no flow control.
TEST(Win32, OpenAsksTheSystemForTheModulesLine) {
    const auto sim = StartSimulator({});
    asked = {};
    CComDevice link;
    ASSERT_EQ(link.Open(sim->Port(), 115200, 1, 0), 1);
    ASSERT_EQ(link.SetTimeouts(1, 2, 3, 4, 5), 1); // each value in its own member
    ASSERT_EQ(link.Open(sim->Port(), 9600, 2, 1), 1);
    link.Close();
    EXPECT_EQ(asked.names, (std::vector<std::string>(2, "\\\\.\\COM" + std::to_string(sim->Port()))));
    // Read and write, exclusive, an existing device only, overlapped.
    EXPECT_EQ(asked.createFile,
              (std::vector<DWORD>{0xC0000000, 0, 3, 0x40000000, 0xC0000000, 0, 3, 0x40000000}));
    EXPECT_EQ(asked.queues, (std::vector<DWORD>{65536, 4096, 65536, 4096}));
    EXPECT_EQ(asked.masks, (std::vector<DWORD>{1, 1}));
    EXPECT_EQ(asked.purges, (std::vector<DWORD>{15, 15}));
    std::vector<std::vector<DWORD>> timeouts;
    for (const COMMTIMEOUTS& set : asked.timeouts) {
        timeouts.push_back({set.ReadIntervalTimeout, set.ReadTotalTimeoutMultiplier,
                            set.ReadTotalTimeoutConstant, set.WriteTotalTimeoutMultiplier,
                            set.WriteTotalTimeoutConstant});
    }
    EXPECT_EQ(timeouts, (std::vector<std::vector<DWORD>>{
                            {100, 50, 5000, 50, 500}, {1, 2, 3, 4, 5}, {100, 50, 5000, 50, 500}}));
    ASSERT_EQ(asked.states.size(), 2u);
    // Baud, binary, parity, byte size, stop bits, the six flow controls and fNull; the four
    // flow-control limits and characters; then what is kept, and the two flags cleared besides.
    auto fields = [](const DCB& dcb) {
        return std::vector<unsigned>{dcb.DCBlength,
                                     dcb.BaudRate,
                                     dcb.fBinary,
                                     dcb.fParity,
                                     dcb.Parity,
                                     dcb.ByteSize,
                                     dcb.StopBits,
                                     dcb.fOutxCtsFlow,
                                     dcb.fOutxDsrFlow,
                                     dcb.fDtrControl,
                                     dcb.fRtsControl,
                                     dcb.fOutX,
                                     dcb.fInX,
                                     dcb.fNull,
                                     dcb.XonLim,
                                     dcb.XoffLim,
                                     unsigned(dcb.XonChar),
                                     unsigned(dcb.XoffChar),
                                     dcb.fTXContinueOnXoff,
                                     unsigned(dcb.EofChar),
                                     unsigned(dcb.EvtChar),
                                     dcb.fAbortOnError,
                                     dcb.fDsrSensitivity};
    };
    EXPECT_EQ(fields(asked.states[0]),
              (std::vector<unsigned>{28, 115200, 1,     1,    2,    8,    0, 0,    0,    0, 0, 0,
                                     0,  0,      32768, 8192, 0x11, 0x13, 1, 0x1A, 0x7E, 0, 0}));
    // Parity 2 is even parity without parity checking; XON/XOFF both ways.
    EXPECT_EQ(fields(asked.states[1]),
              (std::vector<unsigned>{28, 9600, 1,     0,    2,    8,    0, 0,    0,    0, 0, 1,
                                     1,  0,    32768, 8192, 0x11, 0x13, 1, 0x1A, 0x7E, 0, 0}));
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

// The manifest as built into the program: the version 6 controls, system DPI awareness, no elevation.
TEST(Win32, TheProgramsManifest) {
    const HMODULE program = ::LoadLibraryExA("ui\\QamUpdate.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    const HRSRC found = ::FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(::LockResource(::LoadResource(program, found))),
                               ::SizeofResource(program, found));
    ::FreeLibrary(program);
    for (const char* part :
         {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
          "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
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
