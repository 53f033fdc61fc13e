#include "framework/win32/Windows.h"

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include "link/PortList.h"

#include <memory>
#include <string>
#include <vector>

namespace qam::link {

namespace {

constexpr const char* SERIALCOMM_KEY = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* PORT_NAME_VALUE = "PortName";
constexpr DWORD TEXT_BYTES = 1024;
constexpr DWORD DOS_DEVICES_START = 16384;
constexpr DWORD DOS_DEVICES_MOST = 4 * 1024 * 1024;

struct DeviceInfoSetCloser {
    void operator()(void* set) const { ::SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set)); }
};

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// A text property of the device; for a list of texts (the hardware ids) its first.
std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<char> text(TEXT_BYTES + 2, '\0');
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                             reinterpret_cast<BYTE*>(text.data()), TEXT_BYTES, nullptr)) {
        return {};
    }
    return text.data();
}

std::string TextValue(HKEY key, const char* name) {
    std::vector<char> text(TEXT_BYTES + 1, '\0');
    DWORD size = TEXT_BYTES;
    DWORD type = REG_NONE;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return text.data();
}

std::vector<SetupApiRecord> SetupApiPorts() {
    std::vector<SetupApiRecord> records;
    const HDEVINFO set = ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return records;
    }
    const std::unique_ptr<void, DeviceInfoSetCloser> owned(set);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        SetupApiRecord record;
        if (const UniqueKey key{
                ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ)};
            key.get() != INVALID_HANDLE_VALUE && key) {
            record.portName = TextValue(key.get(), PORT_NAME_VALUE);
        }
        record.friendlyName = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
        record.hardwareId = DeviceProperty(set, device, SPDRP_HARDWAREID);
        record.manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        std::vector<char> instance(TEXT_BYTES + 1, '\0');
        if (::SetupDiGetDeviceInstanceIdA(set, &device, instance.data(), TEXT_BYTES, nullptr)) {
            record.instanceId = instance.data();
        }
        records.push_back(std::move(record));
    }
    return records;
}

// The data of every value of SERIALCOMM: the COM names of the serial devices the drivers made.
std::vector<std::string> SerialCommNames() {
    std::vector<std::string> names;
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERIALCOMM_KEY, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return names;
    }
    const UniqueKey key(opened);
    for (DWORD index = 0;; ++index) {
        std::vector<char> name(TEXT_BYTES + 1, '\0');
        std::vector<char> data(TEXT_BYTES + 1, '\0');
        DWORD nameSize = TEXT_BYTES;
        DWORD dataSize = TEXT_BYTES;
        DWORD type = REG_NONE;
        if (::RegEnumValueA(key.get(), index, name.data(), &nameSize, nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &dataSize) != ERROR_SUCCESS) {
            break;
        }
        if (type == REG_SZ) {
            names.emplace_back(data.data());
        }
    }
    return names;
}

// Every MS-DOS device name the system knows (COM1, LPT1, C:, ...): the merge keeps the COM ones.
std::vector<std::string> DosDeviceNames() {
    std::vector<std::string> names;
    for (DWORD size = DOS_DEVICES_START; size <= DOS_DEVICES_MOST; size *= 2) {
        std::vector<char> buffer(size, '\0');
        const DWORD length = ::QueryDosDeviceA(nullptr, buffer.data(), size);
        if (length == 0) {
            if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                continue;
            }
            break;
        }
        for (const char* name = buffer.data(); name < buffer.data() + length && *name != '\0';
             name += std::char_traits<char>::length(name) + 1) {
            names.emplace_back(name);
        }
        break;
    }
    return names;
}

} // namespace

std::vector<SerialPort> ListSerialPorts() {
    return MergeWindowsPorts(SetupApiPorts(), SerialCommNames(), DosDeviceNames());
}

} // namespace qam::link
