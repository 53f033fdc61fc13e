#pragma once

#include <string>
#include <string_view>
#include <vector>

// The serial ports present, per platform (PortList_win32.cpp, PortList_posix.cpp), and on Linux
// the COM numbers the link opens them by. One enumeration serves `qamtool ports`, the Linux
// window's COM mapping and the link's Open.
namespace qam::link {

struct SerialPort {
    std::string name;        // Windows "COM3"; Linux the device path, "/dev/ttyUSB0"
    int com = 0;             // the n of COM n that opens it; 0 when none does
    std::string byId;        // Linux: its /dev/serial/by-id link, if any
    std::string description; // Windows: the friendly name; Linux: the driver's kind of port
    std::string vendorId;    // USB ids as four hexadecimal digits, where known
    std::string productId;
    std::string manufacturer; // where the system knows them
    std::string product;
    std::string serialNumber;
};

// The n of a COM name: "COM12" (any case) gives 12; anything else 0.
int ComNumber(std::string_view name);

// Every serial port present, ordered by COM number (those without one last).
std::vector<SerialPort> ListSerialPorts();

// Windows: what SetupAPI says of one device of the ports class.
struct SetupApiRecord {
    std::string portName;     // the device key's "PortName" ("COM3"; "LPT1" for a printer port)
    std::string friendlyName; // SPDRP_FRIENDLYNAME
    std::string hardwareId;   // the first of SPDRP_HARDWAREID ("USB\VID_0403&PID_6001&REV_0600")
    std::string instanceId;   // the device instance id ("USB\VID_0403&PID_6001\A600ABCD")
    std::string manufacturer; // SPDRP_MFG
};

// Windows' listing from its three sources, pure so that it is tested anywhere (Wine has no
// SetupAPI ports): the SetupAPI ports class (COM ports only, their USB ids and serial number taken
// from the hardware and instance ids), merged with the COM names of HARDWARE\DEVICEMAP\SERIALCOMM
// and those QueryDosDevice knows; one entry per COM name, ordered by number.
std::vector<SerialPort> MergeWindowsPorts(const std::vector<SetupApiRecord>& setupApi,
                                          const std::vector<std::string>& serialComm,
                                          const std::vector<std::string>& dosDevices);

// POSIX: the device COM n stands for: the ports directory's com<n> when the directory holds any
// com link (then they alone decide); otherwise the n-th port of the automatic order, /dev/serial/
// by-id links by name, then ttyUSB, ttyACM and ttyS devices by number, one entry per device.
// Empty when there is none.
std::string ComDevicePath(int port);

// POSIX: the folder under which /sys/class/tty and /dev are read ("" for the system's); for tests.
void SetSystemRoot(std::string root);

} // namespace qam::link
