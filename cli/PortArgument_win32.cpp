#include "cli/PortArgument.h"

namespace qam::cli {

// A COM name no listing shows is left to the search (4), not refused: a port mapped after the
// system's start (Wine's dosdevices links) opens though neither SERIALCOMM nor QueryDosDevice has it.
std::optional<PortArgument> ParsePort(std::string_view text) {
    return ParseComPort(text);
}

std::string ResolveDevice(const PortArgument& port) {
    // Windows names each port once, by its COM name.
    return port.label;
}

std::string UnitPort(const PortArgument& port) {
    return port.label;
}

CPortBinding::CPortBinding(const std::optional<PortArgument>& port) : m_given(port.has_value()) {
    if (port) {
        m_choice.label = port->label;
        m_choice.com = port->com;
    }
}

CPortBinding::~CPortBinding() = default;

} // namespace qam::cli
