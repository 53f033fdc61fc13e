#include "link/PortList.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <string_view>

namespace qam::link {

namespace {

constexpr std::string_view COM_PREFIX = "COM";
constexpr std::string_view VENDOR_KEY = "VID_";
constexpr std::string_view PRODUCT_KEY = "PID_";
constexpr std::string_view USB_ENUMERATOR = "USB\\";
constexpr std::string_view FTDI_ENUMERATOR = "FTDIBUS\\";
// Where an id's fields end: USB ids join them with '&', FTDI's bus with '+', parts with '\'.
constexpr const char* FIELD_ENDS = "&+\\";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

// The text after key up to the next field end ("VID_0403&PID_6001" with "PID_": "6001").
std::string Field(std::string_view id, std::string_view key) {
    std::string upper(id);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    const std::size_t at = upper.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t start = at + key.size();
    return upper.substr(start, upper.find_first_of(FIELD_ENDS, start) - start);
}

// The serial number an instance id carries: a USB device's last part, unless Windows made that up
// (it then holds '&'), or the field after the product id on FTDI's own bus.
std::string SerialNumber(std::string_view instanceId) {
    if (StartsWithNoCase(instanceId, USB_ENUMERATOR)) {
        const std::size_t last = instanceId.rfind('\\');
        const std::string_view part = instanceId.substr(last + 1);
        return last == USB_ENUMERATOR.size() - 1 || part.find('&') != std::string_view::npos
                   ? std::string()
                   : std::string(part);
    }
    if (StartsWithNoCase(instanceId, FTDI_ENUMERATOR)) {
        const std::size_t plus = instanceId.find('+', instanceId.find('+') + 1);
        if (plus != std::string_view::npos) {
            const std::string_view rest = instanceId.substr(plus + 1);
            return std::string(rest.substr(0, rest.find('\\')));
        }
    }
    return {};
}

} // namespace

int ComNumber(std::string_view name) {
    if (!StartsWithNoCase(name, COM_PREFIX) || name.size() == COM_PREFIX.size()) {
        return 0;
    }
    int number = 0;
    const char* end = name.data() + name.size();
    const auto [stop, problem] = std::from_chars(name.data() + COM_PREFIX.size(), end, number);
    return problem == std::errc() && stop == end && number > 0 ? number : 0;
}

std::vector<SerialPort> MergeWindowsPorts(const std::vector<SetupApiRecord>& setupApi,
                                          const std::vector<std::string>& serialComm,
                                          const std::vector<std::string>& dosDevices) {
    std::map<int, SerialPort> ports;
    for (const SetupApiRecord& record : setupApi) {
        const int number = ComNumber(record.portName);
        if (number == 0 || ports.contains(number)) {
            continue;
        }
        SerialPort& port = ports[number];
        port.description = record.friendlyName;
        port.manufacturer = record.manufacturer;
        const std::string& ids = record.hardwareId.empty() ? record.instanceId : record.hardwareId;
        port.vendorId = Field(ids, VENDOR_KEY);
        port.productId = Field(ids, PRODUCT_KEY);
        port.serialNumber = SerialNumber(record.instanceId);
    }
    for (const std::vector<std::string>* names : {&serialComm, &dosDevices}) {
        for (const std::string& name : *names) {
            if (const int number = ComNumber(name); number != 0) {
                ports.try_emplace(number);
            }
        }
    }
    std::vector<SerialPort> listed;
    for (auto& [number, port] : ports) {
        port.name = std::string(COM_PREFIX) + std::to_string(number);
        port.com = number;
        listed.push_back(std::move(port));
    }
    return listed;
}

} // namespace qam::link
