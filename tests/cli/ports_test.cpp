// The listing of the serial ports: Windows' merge of its three sources over literal records (Wine
// has no SetupAPI ports), and on Linux the sysfs enumeration and the COM mapping over a fake tree.
#include "cli/PortArgument.h"
#include "link/PortList.h"
#include "link/PortsDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using qam::link::SerialPort;

// name, COM number, description, vendor:product, manufacturer, serial number, by-id link
using Row = std::tuple<std::string, int, std::string, std::string, std::string, std::string, std::string>;

std::vector<Row> Rows(const std::vector<SerialPort>& ports) {
    std::vector<Row> rows;
    for (const SerialPort& p : ports) {
        rows.emplace_back(p.name, p.com, p.description, p.vendorId + ":" + p.productId, p.manufacturer,
                          p.serialNumber, p.byId);
    }
    return rows;
}

TEST(PortList, WindowsSourcesMergeIntoOneEntryPerComNameByNumber) {
    const std::vector<qam::link::SetupApiRecord> setupApi{
        {"COM10", "USB Serial Port (COM10)", "USB\\VID_0403&PID_6001&REV_0600",
         "USB\\VID_0403&PID_6001\\A600ABCD", "FTDI"},
        {"COM3", "Prolific USB-to-Serial Comm Port (COM3)", "USB\\VID_067B&PID_2303&REV_0300",
         "USB\\VID_067B&PID_2303\\5&2C5C2E0&0&2", "Prolific"},
        {"COM4", "USB Serial Port (COM4)", "FTDIBUS\\COMPORT&VID_0403&PID_6015",
         "FTDIBUS\\VID_0403+PID_6015+DN05XYZA\\0000", "FTDI"},
        {"LPT1", "Printer Port (LPT1)", "ACPI\\PNP0400", "ACPI\\PNP0400\\1", "(Standard port types)"},
        {"COM1", "Communications Port (COM1)", "ACPI\\PNP0501", "ACPI\\PNP0501\\1", "(Standard port types)"},
    };
    const std::vector<std::string> serialComm{"COM1", "COM3", "COM7"};
    const std::vector<std::string> dosDevices{"C:", "COM7", "com9", "LPT1", "COMX", "COM0", "NUL"};
    const std::vector<Row> expected{
        {"COM1", 1, "Communications Port (COM1)", ":", "(Standard port types)", "", ""},
        {"COM3", 3, "Prolific USB-to-Serial Comm Port (COM3)", "067B:2303", "Prolific", "", ""},
        {"COM4", 4, "USB Serial Port (COM4)", "0403:6015", "FTDI", "DN05XYZA", ""},
        {"COM7", 7, "", ":", "", "", ""},
        {"COM9", 9, "", ":", "", "", ""},
        {"COM10", 10, "USB Serial Port (COM10)", "0403:6001", "FTDI", "A600ABCD", ""},
    };
    EXPECT_EQ(Rows(qam::link::MergeWindowsPorts(setupApi, serialComm, dosDevices)), expected);
}

class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("qam-sysfs-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        qam::link::SetSystemRoot(m_root.string());
        // An 8250 port with hardware, and one of its placeholders on the platform bus.
        Tty("ttyS0", "devices/pnp0/00:05", "pnp", "serial");
        Tty("ttyS1", "devices/platform/serial8250", "platform", "serial8250");
        // Two USB serial adapters (their usb-serial port below the interface below the device)
        // and a modem-class device (the interface itself).
        Tty("ttyUSB1", "devices/usb1/1-2/1-2:1.0/ttyUSB1", "usb-serial", "ftdi_sio");
        Usb("devices/usb1/1-2", "0403", "6001", "FTDI", "A600ABCD");
        Tty("ttyUSB0", "devices/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", "pl2303");
        Usb("devices/usb1/1-1", "067b", "2303", "Prolific", "");
        Tty("ttyACM0", "devices/usb1/1-3/1-3:1.0", "usb", "cdc_acm");
        Usb("devices/usb1/1-3", "2341", "0043", "Arduino", "7543");
        fs::create_directories(m_root / "sys/class/tty/tty0"); // a console: no device behind it
        Link("../../ttyUSB1", m_root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0");
        qam::link::SetPortsDirectory((m_root / "ports").string());
    }
    void TearDown() override {
        qam::link::SetSystemRoot("");
        fs::remove_all(m_root);
    }

    static void Link(const fs::path& target, const fs::path& link) {
        fs::create_directories(link.parent_path());
        fs::create_directory_symlink(target, link);
    }
    static void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; }
    void Tty(const std::string& name, const std::string& device, const std::string& bus,
             const std::string& driver) {
        fs::create_directories(m_root / "sys" / device);
        fs::create_directories(m_root / "sys/bus" / bus / "drivers" / driver);
        Link(m_root / "sys" / device, m_root / "sys/class/tty" / name / "device");
        Link(m_root / "sys/bus" / bus, m_root / "sys" / device / "subsystem");
        Link(m_root / "sys/bus" / bus / "drivers" / driver, m_root / "sys" / device / "driver");
    }
    void Usb(const std::string& device, const char* vendor, const char* product, const char* maker,
             const char* serial) {
        Write(m_root / "sys" / device / "idVendor", vendor);
        Write(m_root / "sys" / device / "idProduct", product);
        Write(m_root / "sys" / device / "manufacturer", maker);
        Write(m_root / "sys" / device / "product", std::string(maker) + " adapter");
        if (*serial != '\0') {
            Write(m_root / "sys" / device / "serial", serial);
        }
    }
    std::string Dev(const char* name) const { return (m_root / "dev" / name).string(); }

    fs::path m_root;
};

TEST_F(FakeSystem, AutomaticOrderIsByIdLinksThenUsbAcmAndRealSerialPortsByNumber) {
    const std::string byId =
        (m_root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0").string();
    const std::vector<Row> expected{
        {Dev("ttyUSB1"), 1, "ftdi_sio", "0403:6001", "FTDI", "A600ABCD", byId},
        {Dev("ttyUSB0"), 2, "pl2303", "067b:2303", "Prolific", "", ""},
        {Dev("ttyACM0"), 3, "cdc_acm", "2341:0043", "Arduino", "7543", ""},
        {Dev("ttyS0"), 4, "serial", ":", "", "", ""},
    };
    EXPECT_EQ(Rows(qam::link::ListSerialPorts()), expected);
    EXPECT_EQ(qam::link::ComDevicePath(1), Dev("ttyUSB1"));
    EXPECT_EQ(qam::link::ComDevicePath(4), Dev("ttyS0"));
    EXPECT_EQ(qam::link::ComDevicePath(5), "");
    // A station's unit gets COM 1 as its by-id link, which follows the adapter plugged in again.
    EXPECT_EQ(qam::cli::UnitPort({1, "", "COM1"}), byId);
    EXPECT_EQ(qam::cli::UnitPort({2, "", "COM2"}), Dev("ttyUSB0"));
}

TEST_F(FakeSystem, PortsDirectoryLinksAloneDecideOnceThereIsOne) {
    Link(Dev("ttyACM0"), m_root / "ports/com7");
    Link("/dev/pts/99", m_root / "ports/com2");
    const std::vector<Row> expected{
        {"/dev/pts/99", 2, "", ":", "", "", ""},
        {Dev("ttyACM0"), 7, "cdc_acm", "2341:0043", "Arduino", "7543", ""},
        {Dev("ttyUSB1"), 0, "ftdi_sio", "0403:6001", "FTDI", "A600ABCD",
         (m_root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0").string()},
        {Dev("ttyUSB0"), 0, "pl2303", "067b:2303", "Prolific", "", ""},
        {Dev("ttyS0"), 0, "serial", ":", "", "", ""},
    };
    EXPECT_EQ(Rows(qam::link::ListSerialPorts()), expected);
    EXPECT_EQ(qam::link::ComDevicePath(7), (m_root / "ports/com7").string());
    EXPECT_EQ(qam::link::ComDevicePath(1), (m_root / "ports/com1").string());
}

} // namespace
