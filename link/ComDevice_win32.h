#pragma once

// The Win32 port's pure parts, for the Windows tests.

#include "framework/win32/Windows.h"

#include <string>

namespace qam::link::win32 {

// "\\.\COM<port>", for every 32-bit port number.
std::string DeviceName(int port);

// The line settings Open writes: the record read from the port with the module's line fields
// set. fAbortOnError and fDsrSensitivity are cleared too: a kept abort-on-error flag would make
// every read after one line error fail until the error is cleared, which nothing here does.
DCB BuildLineSettings(const DCB& read, int baudRate, int parity, int xonXoff);

} // namespace qam::link::win32
