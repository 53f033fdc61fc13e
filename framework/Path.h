#pragma once

namespace fw {

// DIRECTORY_SEPARATOR: the platform's directory separator; the window's path rules cut a path's
// directory at it. PROGRAM_FILE_FORMAT: the name of the program's own file from its base name, as
// the version functions look it up (a Linux program's file has no extension).
#ifdef _WIN32
inline constexpr char DIRECTORY_SEPARATOR = '\\';
inline constexpr const char* PROGRAM_FILE_FORMAT = "%s.exe";
#else
inline constexpr char DIRECTORY_SEPARATOR = '/';
inline constexpr const char* PROGRAM_FILE_FORMAT = "%s";
#endif

} // namespace fw
