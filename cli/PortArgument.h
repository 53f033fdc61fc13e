#pragma once

#include "cli/Unit.h"

#include <optional>
#include <string>
#include <string_view>

// A port as the command line gives it, per platform (PortArgument_posix.cpp,
// PortArgument_win32.cpp): N or COMN for COM N, or on Linux a device path.
namespace qam::cli {

inline constexpr int MOST_COM = 999;

struct PortArgument {
    std::optional<int> com;
    std::string path;  // Linux: the device path given
    std::string label; // "COM3", or the device path
};

// Nothing for text that names no port.
std::optional<PortArgument> ParsePort(std::string_view text);
// The part both platforms share: a COM number from 1 to MOST_COM, alone or as "COM<n>".
std::optional<PortArgument> ParseComPort(std::string_view text);

// The device the port stands for now, its links followed, so that a station tells its ports apart;
// empty when it stands for none (a COM number the automatic order does not reach).
std::string ResolveDevice(const PortArgument& port);
// What a station hands the port's unit, fixed at the station's start: on Linux the path COM n maps
// to (a ports directory's link, or a device of the automatic order) or the path given, so that a
// link (/dev/serial/by-id) follows its adapter when it is plugged in again; on Windows "COM<n>".
std::string UnitPort(const PortArgument& port);

// The command's port made reachable by the link for this process: a COM number as it is; a device
// path as COM 1 of a private ports directory (a com1 link to it), removed again at the end. No port:
// the window's search.
class CPortBinding {
public:
    explicit CPortBinding(const std::optional<PortArgument>& port);
    ~CPortBinding();
    CPortBinding(const CPortBinding&) = delete;
    CPortBinding& operator=(const CPortBinding&) = delete;

    // false when the port given could not be made reachable.
    bool Ready() const { return !m_given || m_choice.com.has_value(); }
    const PortChoice& Choice() const { return m_choice; }

private:
    bool m_given;
    PortChoice m_choice;
    std::string m_directory;
};

} // namespace qam::cli
