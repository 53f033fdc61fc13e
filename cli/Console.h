#pragma once

#include <cstdint>
#include <span>
#include <string>

// What qamtool needs of the console and the process, per platform (Console_posix.cpp,
// Console_win32.cpp).
namespace qam::cli::console {

// Whether standard output is a terminal that takes escape codes (on Windows a console whose
// virtual-terminal processing could be switched on).
bool OutputIsTerminal();
// The terminal's width in columns; 80 when it cannot be told.
int OutputWidth();

// From now on an interrupt (Ctrl+C, on Windows Ctrl+Break too) no longer ends the program: it is counted, and
// `notice`, when given (a text that lives as long as the program), goes to standard error at once.
void CatchInterrupts(const char* notice);
int InterruptCount();
// A station's unit: the terminal's interrupt (on Windows Ctrl+C and Ctrl+Break) is not its business.
void IgnoreInterrupts();
// Writes to a reader that went away fail instead of ending the program.
void IgnoreBrokenPipe();

void KeepAwake(bool awake);

// Standard input as bytes: exactly destination's size, false when it ended first.
bool ReadInput(std::span<std::uint8_t> destination);
// Whether standard input has ended (the station's word to take no more units), without waiting.
bool InputEnded();

// The path of this program, to start it again for each unit of a station.
std::string ProgramPath();

} // namespace qam::cli::console
