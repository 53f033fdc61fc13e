#include "link/PortList.h"

#include "link/PortsDirectory.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

namespace qam::link {

namespace {

namespace fs = std::filesystem;

// The kinds of device the automatic COM order takes, in its order.
constexpr std::string_view AUTOMATIC_KINDS[] = {"ttyUSB", "ttyACM", "ttyS"};
constexpr const char* COM_PREFIX = "com";
// How far above a port's device its USB device may sit (usb-serial port, interface, device).
constexpr int USB_LEVELS = 3;

std::string& SystemRootValue() {
    static std::string root;
    return root;
}

// A device name split into its kind and number ("ttyUSB10": "ttyUSB", 10); number -1 without one.
std::pair<std::string_view, long> KindAndNumber(std::string_view name) {
    const std::size_t digits = name.find_first_of("0123456789");
    long number = -1;
    if (digits != std::string_view::npos) {
        std::from_chars(name.data() + digits, name.data() + name.size(), number);
    }
    return {name.substr(0, digits), number};
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The name of what a sysfs link points to ("subsystem" -> "usb-serial"), or "".
std::string LinkedName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::canonical(link, error);
    return error ? std::string() : target.filename().string();
}

// Where a path leads, its links followed even when what they point to is gone (an unplugged
// adapter), so that a link and the device it names compare equal.
fs::path SameFile(fs::path path) {
    constexpr int MOST_HOPS = 8;
    std::error_code error;
    for (int hop = 0; hop < MOST_HOPS && fs::is_symlink(path, error); ++hop) {
        const fs::path target = fs::read_symlink(path, error);
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path : canonical;
}

struct Device {
    std::string kernelName; // "ttyUSB0"
    SerialPort port;
};

// The USB device above a port's device: the first folder with a vendor id, a few levels up.
void AddUsbDetails(const fs::path& device, SerialPort& port) {
    fs::path folder = device;
    for (int level = 0; level <= USB_LEVELS && folder.has_relative_path();
         ++level, folder = folder.parent_path()) {
        if (fs::exists(folder / "idVendor")) {
            port.vendorId = FirstLine(folder / "idVendor");
            port.productId = FirstLine(folder / "idProduct");
            port.manufacturer = FirstLine(folder / "manufacturer");
            port.product = FirstLine(folder / "product");
            port.serialNumber = FirstLine(folder / "serial");
            return;
        }
    }
}

// Every tty with a device behind it, as pyserial and libserialport take them: a ttyS without real
// hardware hangs off the platform bus (the 8250 driver's placeholders) and is left out.
std::vector<Device> SysfsDevices(const std::string& root) {
    std::vector<Device> devices;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root + "/sys/class/tty", error)) {
        const fs::path deviceLink = entry.path() / "device";
        std::error_code missing;
        const fs::path device = fs::canonical(deviceLink, missing);
        if (missing || LinkedName(device / "subsystem") == "platform") {
            continue;
        }
        Device found;
        found.kernelName = entry.path().filename().string();
        found.port.name = root + "/dev/" + found.kernelName;
        found.port.description = LinkedName(device / "driver");
        AddUsbDetails(device, found.port);
        devices.push_back(std::move(found));
    }
    return devices;
}

// The automatic COM order: devices with a /dev/serial/by-id link by the link's name, then the
// other ttyUSB, ttyACM and ttyS devices by number.
std::vector<SerialPort> AutomaticOrder() {
    const std::string& root = SystemRootValue();
    std::vector<Device> devices = SysfsDevices(root);
    std::vector<SerialPort> ordered;
    auto take = [&](std::vector<Device>::iterator device) {
        ordered.push_back(std::move(device->port));
        devices.erase(device);
    };

    std::vector<fs::path> byId;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root + "/dev/serial/by-id", error)) {
        byId.push_back(entry.path());
    }
    std::sort(byId.begin(), byId.end());
    for (const fs::path& link : byId) {
        std::error_code unreadable;
        const std::string target = fs::read_symlink(link, unreadable).filename().string();
        const auto device = std::find_if(devices.begin(), devices.end(), [&](const Device& d) {
            return !unreadable && d.kernelName == target;
        });
        if (device != devices.end()) {
            device->port.byId = link.string();
            take(device);
        }
    }

    for (const std::string_view kind : AUTOMATIC_KINDS) {
        std::vector<Device*> ofKind;
        for (Device& device : devices) {
            if (KindAndNumber(device.kernelName).first == kind) {
                ofKind.push_back(&device);
            }
        }
        std::sort(ofKind.begin(), ofKind.end(), [](const Device* a, const Device* b) {
            return KindAndNumber(a->kernelName).second < KindAndNumber(b->kernelName).second;
        });
        for (Device* device : ofKind) {
            ordered.push_back(std::move(device->port));
        }
        std::erase_if(devices, [&](const Device& d) { return KindAndNumber(d.kernelName).first == kind; });
    }
    return ordered;
}

// The ports directory's com<n> entries by n; none when there is no such directory.
std::vector<std::pair<int, fs::path>> PortLinks() {
    std::vector<std::pair<int, fs::path>> links;
    if (PortsDirectory().empty()) {
        return links;
    }
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(PortsDirectory(), error)) {
        const std::string name = entry.path().filename().string();
        int number = 0;
        const char* digits = name.c_str() + std::string_view(COM_PREFIX).size();
        if (name.rfind(COM_PREFIX, 0) == 0 && *digits != '\0') {
            const auto [end, problem] = std::from_chars(digits, name.c_str() + name.size(), number);
            if (problem == std::errc() && *end == '\0' && number > 0) {
                links.emplace_back(number, entry.path());
            }
        }
    }
    std::sort(links.begin(), links.end());
    return links;
}

} // namespace

void SetSystemRoot(std::string root) {
    SystemRootValue() = std::move(root);
}

std::string ComDevicePath(int port) {
    if (port < 1) {
        return {};
    }
    if (!PortLinks().empty()) {
        return PortsDirectory() + "/" + COM_PREFIX + std::to_string(port);
    }
    const std::vector<SerialPort> automatic = AutomaticOrder();
    return static_cast<std::size_t>(port) <= automatic.size() ? automatic[port - 1].name : std::string();
}

std::vector<SerialPort> ListSerialPorts() {
    std::vector<SerialPort> devices = AutomaticOrder();
    const std::vector<std::pair<int, fs::path>> links = PortLinks();
    if (links.empty()) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            devices[i].com = static_cast<int>(i + 1);
        }
        return devices;
    }
    // The links decide: each is its COM number, shown with the device it points to.
    std::vector<SerialPort> ports;
    for (const auto& [number, link] : links) {
        const fs::path target = SameFile(link);
        const auto device = std::find_if(devices.begin(), devices.end(),
                                         [&](const SerialPort& d) { return SameFile(d.name) == target; });
        SerialPort port = device != devices.end() ? *device : SerialPort{};
        port.name = target.string();
        port.com = number;
        ports.push_back(std::move(port));
    }
    for (SerialPort& device : devices) {
        const bool linked = std::any_of(ports.begin(), ports.end(), [&](const SerialPort& p) {
            return SameFile(device.name) == SameFile(p.name);
        });
        if (!linked) {
            ports.push_back(std::move(device));
        }
    }
    return ports;
}

} // namespace qam::link
