#pragma once

// POSIX only (ComDevice_posix.cpp and its tests): the terminal settings the port asks for. A
// pseudo-terminal forces CS8 and clears PARENB whatever is asked, so tests check what was built
// here rather than what a pty reads back.

#include <termios.h>

namespace qam::link::posix {

// The speed constant for a baud rate; false for a rate the terminal interface has no constant for.
bool BaudRateSpeed(int baudRate, speed_t& speed);

// `current` made raw and given the module's line: 8 data bits, even parity when parity is non-zero
// (checked on input when it is 1), none when 0, 1 stop bit, no modem control or hang-up on close, the
// receiver on, XON/XOFF both ways only when xonXoff is non-zero, reads that never block in the driver.
termios LineSettings(const termios& current, speed_t speed, int parity, int xonXoff);

} // namespace qam::link::posix
