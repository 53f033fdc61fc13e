#include "cli/PortArgument.h"

#include "link/PortList.h"
#include "link/PortsDirectory.h"

#include <cstdlib>
#include <filesystem>

#include <unistd.h>

namespace qam::cli {

namespace {

constexpr const char* LINK_NAME = "/com1";

std::string TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base == '/' ? base : "/tmp") + "/qamtool-port-XXXXXX";
    return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

} // namespace

std::optional<PortArgument> ParsePort(std::string_view text) {
    if (!text.empty() && text.front() == '/') {
        return PortArgument{std::nullopt, std::string(text), std::string(text)};
    }
    return ParseComPort(text);
}

std::string UnitPort(const PortArgument& port) {
    if (!port.com) {
        return port.path;
    }
    // The device's /dev/serial/by-id link when it has one: it follows its adapter when that is
    // plugged in again, where /dev/ttyUSBn may then name another.
    for (const qam::link::SerialPort& present : qam::link::ListSerialPorts()) {
        if (present.com == *port.com && !present.byId.empty()) {
            return present.byId;
        }
    }
    return qam::link::ComDevicePath(*port.com);
}

std::string ResolveDevice(const PortArgument& port) {
    // A device that is not there yet (an adapter still to be plugged in) is named by its path; a
    // COM number needs its link in the ports directory, or a device of the automatic order.
    const std::string path = UnitPort(port);
    std::error_code error;
    if (port.com && !std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        return {};
    }
    const std::filesystem::path device = std::filesystem::weakly_canonical(path, error);
    return path.empty() || error ? path : device.string();
}

CPortBinding::CPortBinding(const std::optional<PortArgument>& port) : m_given(port.has_value()) {
    if (!port) {
        return;
    }
    m_choice.label = port->label;
    if (port->com) {
        m_choice.com = port->com;
        return;
    }
    m_directory = TemporaryFolder();
    if (!m_directory.empty() && ::symlink(port->path.c_str(), (m_directory + LINK_NAME).c_str()) == 0) {
        qam::link::SetPortsDirectory(m_directory);
        m_choice.com = 1;
        m_choice.linked = true;
    }
}

CPortBinding::~CPortBinding() {
    if (!m_directory.empty()) {
        ::unlink((m_directory + LINK_NAME).c_str());
        ::rmdir(m_directory.c_str());
    }
}

} // namespace qam::cli
