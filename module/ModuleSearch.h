#pragma once

#include "common/TunerType.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CComDevice;
class CModuleProxy;
class CWnd;

// What the main window keeps about the scan: its settings (port count, preferred port) and the
// results of the last one.
struct SearchState {
    int portCount = 0;
    int preferredPort = 0;
    int foundPort = -1;
    int moduleFound = 0;
    int settingsSupported = 0;
    TunerType tunerType = TUNER_UNKNOWN;
    // The identification texts of the last module found, as the upper status text shows them.
    std::string dspText;
    std::string pldText;
};

namespace qam::module {

// Scans the COM ports for the module, starting at the preferred port. On success the link stays
// open on the found port and the proxy holds the module's tuner type and firmware version.
// Status texts and buttons are the dialog's children. Returns the module-found flag.
int SearchModule(CComDevice& link, CModuleProxy& proxy, SearchState& state, const CWnd& dialog);

// One resynchronisation of the module on the open link: 1 when it answered, else 0.
int SyncModule(CComDevice& link, const CWnd& dialog);

// The pure parts of the scan, for the tests and the fuzzers.

inline constexpr int MAX_PORT_COUNT = 32;

// A count of 32 or more becomes 32; smaller ones (zero and negative included) are kept.
int CapPortCount(int portCount);

// The port visited at step i: preferred + i, less the count once when above it. Computed in 64
// bits so that no preferred port overflows; a port outside the 32-bit range simply does not open.
std::int64_t PortAt(int preferredPort, int portCount, int i);

// The bit of the sync mask that records the one resynchronisation of this port: bit
// ((port - 1) mod 32), the remainder taken non-negative.
std::uint32_t SyncMaskBit(std::int64_t port);

// The tuner type named by the 8-byte "VTUN" reply (all 8 bytes compared), TUNER_UNKNOWN for any
// other reply or one of another size.
TunerType TunerTypeOf(std::span<const char> reply);

// The 8-byte "VTUN" reply that names this tuner type; empty for TUNER_UNKNOWN.
std::string_view TunerName(TunerType type);

// The firmware version at the start of text (the DSP identification from its fifth character, up
// to the cut): leading white space, an optional sign, decimal digits with an optional point and
// exponent, as strtod reads a decimal number in the "C" locale; 0.0 when no number stands there.
double ParseFirmwareVersion(std::string_view text);

} // namespace qam::module
