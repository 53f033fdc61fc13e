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

// The device the port stands for now, so that a station tells its ports apart and hands each unit
// its own; empty when it stands for none.
std::string ResolveDevice(const PortArgument& port);

// The port made reachable by the link for this process: a COM number as it is; a device path as
// COM 1 of a private ports directory (a com1 link to it), removed again at the end.
class CPortBinding {
public:
    explicit CPortBinding(const PortArgument& port);
    ~CPortBinding();
    CPortBinding(const CPortBinding&) = delete;
    CPortBinding& operator=(const CPortBinding&) = delete;

    bool Ready() const { return m_choice.com.has_value(); }
    const PortChoice& Choice() const { return m_choice; }

private:
    PortChoice m_choice;
    std::string m_directory;
};

} // namespace qam::cli
