// The Win32 side under Wine: what the port asks of the system, what repeated opens leave,
// registry values of the wrong kind, and the manifest built into QamUpdate.exe.
#include "framework/win32/Windows.h"

#include "link/ComDevice.h"
#include "link/ComDevice_win32.h"
#include "tests/support/Kit.h"
#include "tests/support/Proof.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

using namespace qam::test;

// What the port asks of the system: this program defines the import pointers itself, so the link's
// own object code calls these stand-ins, which log each call as a line and pass it on.
std::vector<std::string> asked;

template <typename... Values> void Log(const char* format, Values... values) {
    char line[512];
    std::snprintf(line, sizeof line, format, values...);
    asked.emplace_back(line);
}

template <typename Function> Function System(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

HANDLE WINAPI LogCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE model) {
    Log("CreateFileA %s access %lX share %lu disposition %lu flags %lX", name, access, share, disposition,
        flags);
    return System<decltype(&::CreateFileA)>("CreateFileA")(name, access, share, security, disposition, flags,
                                                           model);
}
BOOL WINAPI LogSetupComm(HANDLE device, DWORD input, DWORD output) {
    Log("SetupComm %lu %lu", input, output);
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
    state->StopBits = TWOSTOPBITS;
    state->XonLim = state->XoffLim = state->ByteSize = 7;
    state->XonChar = state->XoffChar = 'x';
    state->EofChar = 0x1A;
    state->EvtChar = 0x7E;
    return read;
}
BOOL WINAPI LogSetCommState(HANDLE device, LPDCB d) {
    Log("SetCommState length %lu baud %lu binary %u parity %u %u size %u stop %u cts %u dsr %u dtr %u rts %u "
        "out %u in %u null %u xon %u xoff %u %X %X; kept %u %X %X; cleared %u %u",
        d->DCBlength, d->BaudRate, d->fBinary, d->fParity, d->Parity, d->ByteSize, d->StopBits,
        d->fOutxCtsFlow, d->fOutxDsrFlow, d->fDtrControl, d->fRtsControl, d->fOutX, d->fInX, d->fNull,
        d->XonLim, d->XoffLim, d->XonChar, d->XoffChar, d->fTXContinueOnXoff, d->EofChar, d->EvtChar,
        d->fAbortOnError, d->fDsrSensitivity);
    return System<decltype(&::SetCommState)>("SetCommState")(device, d);
}
BOOL WINAPI LogSetCommMask(HANDLE device, DWORD mask) {
    Log("SetCommMask %lu", mask);
    return System<decltype(&::SetCommMask)>("SetCommMask")(device, mask);
}
BOOL WINAPI LogPurgeComm(HANDLE device, DWORD flags) {
    Log("PurgeComm %lX", flags);
    return System<decltype(&::PurgeComm)>("PurgeComm")(device, flags);
}
BOOL WINAPI LogSetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS t) {
    Log("SetCommTimeouts %lu %lu %lu %lu %lu", t->ReadIntervalTimeout, t->ReadTotalTimeoutMultiplier,
        t->ReadTotalTimeoutConstant, t->WriteTotalTimeoutMultiplier, t->WriteTotalTimeoutConstant);
    return System<decltype(&::SetCommTimeouts)>("SetCommTimeouts")(device, t);
}

} // namespace

extern "C" {
decltype(&::CreateFileA) __imp_CreateFileA = LogCreateFile;
decltype(&::SetupComm) __imp_SetupComm = LogSetupComm;
decltype(&::GetCommState) __imp_GetCommState = ReadUnlikeState;
decltype(&::SetCommState) __imp_SetCommState = LogSetCommState;
decltype(&::SetCommMask) __imp_SetCommMask = LogSetCommMask;
decltype(&::PurgeComm) __imp_PurgeComm = LogPurgeComm;
decltype(&::SetCommTimeouts) __imp_SetCommTimeouts = LogSetCommTimeouts;
}

namespace {

const std::string MODULE_LINE =
    "SetCommState length 28 baud 115200 binary 1 parity 1 2 size 8 stop 0 cts 0 dsr 0 "
    "dtr 0 rts 0 out 0 in 0 null 0 xon 32768 xoff 8192 11 13; kept 1 1A 7E; cleared 0 0";

// The module's line (115200 8E1, no flow control), then parity 2 (even, not checked) with XON/XOFF;
// the device read and written, exclusive, existing, overlapped; the receive-character event; all
// four purges; each time-out in its own member. And no handle left behind by repeated opens.
TEST(Win32, OpenAsksTheSystemForTheModulesLineAndLeavesNoHandles) {
    const auto sim = StartSimulator({});
    asked.clear();
    CComDevice link;
    ASSERT_EQ(link.Open(sim->Port(), 115200, 1, 0), 1);
    ASSERT_EQ(link.SetTimeouts(1, 2, 3, 4, 5), 1);
    ASSERT_EQ(link.Open(sim->Port(), 9600, 2, 1), 1);
    link.Close();
    const std::string open = "CreateFileA \\\\.\\COM" + std::to_string(sim->Port()) +
                             " access C0000000 share 0 disposition 3 flags 40000000";
    EXPECT_EQ(
        asked,
        (std::vector<std::string>{
            open, "SetupComm 65536 4096", MODULE_LINE, "SetCommMask 1", "PurgeComm F",
            "SetCommTimeouts 100 50 5000 50 500", "SetCommTimeouts 1 2 3 4 5", open, "SetupComm 65536 4096",
            "SetCommState length 28 baud 9600 binary 1 parity 0 2 size 8 stop 0 cts 0 dsr 0 dtr 0 "
            "rts 0 out 1 in 1 null 0 xon 32768 xoff 8192 11 13; kept 1 1A 7E; cleared 0 0",
            "SetCommMask 1", "PurgeComm F", "SetCommTimeouts 100 50 5000 50 500"}));
    EXPECT_EQ(qam::link::win32::DeviceName(-2147483647 - 1), "\\\\.\\COM-2147483648");

    // The 16th free handle slot (the lowest free ones may be holes below what was left behind).
    auto nextHandle = [] {
        std::array<HANDLE, 16> events{};
        std::ranges::generate(events, [] { return ::CreateEventA(nullptr, FALSE, FALSE, nullptr); });
        std::ranges::for_each(events, ::CloseHandle);
        return reinterpret_cast<std::uintptr_t>(events.back());
    };
    const std::uintptr_t before = nextHandle();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(link.Open(sim->Port(), 115200, 1, 0), 1);
        EXPECT_EQ(link.Open(9999, 115200, 1, 0), 0);
    }
    // A handle left behind by each open would push it 50 places on.
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

TEST_F(WindowTest, RegistryValuesOfTheWrongTypeOrSizeAreDefaults_TheSearchSetsTheModulesLine) {
    const char* key = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";
    const std::uint64_t wide = 3;
    const std::string longest(261, 'd');
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "LastCOM", REG_SZ, "3", 2), ERROR_SUCCESS);
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "PrefCOM", REG_BINARY, &wide, sizeof wide);
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "LastNUVDir", REG_SZ, longest.c_str(), 261);
    ScopedTimeoutScale fast(1, 40); // the silent COM1 first
    asked.clear();
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
            EXPECT_EQ(dialog.m_search.portCount, 32);
            EXPECT_EQ(Desk().Texts(IDC_STATUS_UPPER).at(1), "searching Device on COM 1...");
            EXPECT_EQ(std::string(dialog.m_lastDirectory.data()), "");
        }});
    // Every port the search opened was set to the module's line.
    const auto lines = std::ranges::count_if(
        asked, [](const std::string& line) { return line.starts_with("SetCommState"); });
    EXPECT_EQ(std::ranges::count(asked, MODULE_LINE), lines);
    EXPECT_GE(lines, 2) << "the silent COM1 and the module's COM3";
    ProofTally().Record("registry-values", !HasFailure());
}

} // namespace
