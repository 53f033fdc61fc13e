#include "framework/win32/Windows.h"

#include "cli/PortArgument.h"

namespace qam::cli {

std::optional<PortArgument> ParsePort(std::string_view text) {
    return ParseComPort(text);
}

std::string ResolveDevice(const PortArgument& port) {
    // Asked of the device itself, opened for no access at all: the listings miss a port mapped after
    // the system's start (Wine's dosdevices links), which opens all the same. Only "no such device"
    // refuses; a port in use (access denied) is there.
    const std::string device = "\\\\.\\" + port.label;
    const HANDLE handle = ::CreateFileA(device.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return port.label;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? std::string() : port.label;
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
