#pragma once

class CRegKey;
struct SearchState;

// Where the window keeps the scan's settings between runs (HKEY_LOCAL_MACHINE), read by the window
// and, read-only, by qamtool.
namespace qam::module {

inline constexpr const char* SETTINGS_KEY = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";
inline constexpr const char* PORT_COUNT_VALUE = "LastCOM";
inline constexpr const char* PREFERRED_PORT_VALUE = "PrefCOM";

// The port count and the preferred port from the open key; a value that is missing or no 32-bit
// number takes its default (32 ports, port 1).
void ReadSearchSettings(const CRegKey& key, SearchState& state);

} // namespace qam::module
