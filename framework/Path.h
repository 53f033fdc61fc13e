#pragma once

namespace fw {

// The platform's directory separator: the window's path rules cut a path's directory at it.
#ifdef _WIN32
inline constexpr char DIRECTORY_SEPARATOR = '\\';
#else
inline constexpr char DIRECTORY_SEPARATOR = '/';
#endif

} // namespace fw
