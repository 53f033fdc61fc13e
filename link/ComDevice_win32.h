#pragma once

// The Win32 port's pure parts and what it records of its own work. The records are kept for the
// Windows tests, which cannot read them back from the port under Wine; the program never reads them.

#include "framework/win32/Windows.h"

#include <string>

namespace qam::link::win32 {

// "\\.\COM<port>", for every 32-bit port number.
std::string DeviceName(int port);

// The line settings Open writes: the record read from the port with the module's line fields
// set. fAbortOnError and fDsrSensitivity are cleared too: a kept abort-on-error flag would make
// every read after one line error fail until the error is cleared, which nothing here does.
DCB BuildLineSettings(const DCB& read, int baudRate, int parity, int xonXoff);

struct PortRecord {
    int eventsCreated = 0; // by every port of the process, over its whole life
    int eventsAlive = 0;
    int devicesOpened = 0; // CreateFileA calls that gave a handle
    int handlesOpen = 0;   // device handles held by ports now
    HANDLE lastEvent = nullptr;  // the overlapped event of the last port that opened
    HANDLE lastHandle = INVALID_HANDLE_VALUE; // its device handle (invalid once closed)
    DCB lastRead{};        // the line settings read by the last Open that got that far
    DCB lastWritten{};     // and what it wrote back
    int settingsWritten = 0;
};

const PortRecord& Record();

} // namespace qam::link::win32
