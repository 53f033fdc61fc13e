#include "framework/win32/Windows.h"

#include "link/ComDevice_win32.h"
#include "link/Port.h"

#include <cstdio>
#include <memory>

namespace qam::link::win32 {

namespace {

constexpr DWORD kInputQueue = 65536;
constexpr DWORD kOutputQueue = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Owns a device handle: closed on destruction unless released by Close().
class DeviceHandle {
public:
    DeviceHandle() = default;
    ~DeviceHandle() { Close(); }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }

    void Reset(HANDLE handle) {
        Close();
        m_handle = handle;
    }

    // CancelIo, then CloseHandle: the result of the closing, 0 when nothing was open.
    int Close() {
        if (!Valid()) {
            return 0;
        }
        ::CancelIo(m_handle);
        const BOOL closed = ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Owns the overlapped record's event for the life of the port, so that scans that open port after
// port reuse it rather than create one per open.
class EventHandle {
public:
    EventHandle() = default;
    ~EventHandle() {
        if (m_event != nullptr) {
            ::CloseHandle(m_event);
        }
    }
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;

    // Auto-reset, not signalled, unnamed; created on first use.
    HANDLE Get() {
        if (m_event == nullptr) {
            m_event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        }
        return m_event;
    }

private:
    HANDLE m_event = nullptr;
};

class Win32Port final : public CComDevice::Port {
public:
    bool IsOpen() const override { return m_device.Valid(); }

    bool Open(int port, int baudRate, int parity, int xonXoff) override {
        m_device.Close();
        m_device.Reset(::CreateFileA(DeviceName(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!m_device.Valid()) {
            return false;
        }
        // Every later failure releases the device at once: a scan goes on to the next port
        // without Close and must not leave this one held.
        if (!Configure(baudRate, parity, xonXoff)) {
            m_device.Close();
            return false;
        }
        return true;
    }

    bool SetTimeouts(const Timeouts& timeouts) override {
        if (!IsOpen()) {
            return false;
        }
        COMMTIMEOUTS values{};
        values.ReadIntervalTimeout = static_cast<DWORD>(timeouts.readInterval);
        values.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.readMultiplier);
        values.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.readConstant);
        values.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.writeMultiplier);
        values.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.writeConstant);
        return ::SetCommTimeouts(m_device.Get(), &values) != FALSE;
    }

    bool Purge() override { return IsOpen() && ::PurgeComm(m_device.Get(), kPurgeAll) != FALSE; }

    IoResult Read(void* buffer, int count) override {
        if (!IsOpen() || count < 0) {
            return {};
        }
        const BOOL done =
            ::ReadFile(m_device.Get(), buffer, static_cast<DWORD>(count), nullptr, &m_overlapped);
        return Complete(done);
    }

    IoResult Write(const void* buffer, int count) override {
        if (!IsOpen() || count < 0) {
            return {};
        }
        const BOOL done =
            ::WriteFile(m_device.Get(), buffer, static_cast<DWORD>(count), nullptr, &m_overlapped);
        return Complete(done);
    }

    int Close() override { return m_device.Close(); }

private:
    bool Configure(int baudRate, int parity, int xonXoff) {
        const HANDLE device = m_device.Get();
        if (!::SetupComm(device, kInputQueue, kOutputQueue)) {
            return false;
        }
        DCB read{};
        read.DCBlength = sizeof(DCB);
        if (!::GetCommState(device, &read)) {
            return false;
        }
        DCB written = BuildLineSettings(read, baudRate, parity, xonXoff);
        if (!::SetCommState(device, &written)) {
            return false;
        }
        if (!::SetCommMask(device, EV_RXCHAR)) {
            return false;
        }
        const HANDLE event = m_event.Get();
        if (event == nullptr) {
            return false;
        }
        m_overlapped = OVERLAPPED{};
        m_overlapped.Offset = 0;
        m_overlapped.OffsetHigh = 0;
        m_overlapped.hEvent = event;
        return true;
    }

    // The byte count decides, never the completion status: Wine completes a read that timed out
    // with ERROR_TIMEOUT where Windows reports success, with the same count.
    IoResult Complete(BOOL done) {
        DWORD transferred = 0;
        if (done) {
            ::GetOverlappedResult(m_device.Get(), &m_overlapped, &transferred, FALSE);
            return {static_cast<int>(transferred), false};
        }
        if (::GetLastError() != ERROR_IO_PENDING) {
            return {0, true};
        }
        ::GetOverlappedResult(m_device.Get(), &m_overlapped, &transferred, TRUE);
        return {static_cast<int>(transferred), false};
    }

    // Declared before the device so that the device, and with it any pending I/O, ends first.
    EventHandle m_event;
    OVERLAPPED m_overlapped{};
    DeviceHandle m_device;
};

} // namespace

std::string DeviceName(int port) {
    // Sized for the longest 32-bit number, sign included.
    char name[sizeof "\\\\.\\COM-2147483648"];
    std::snprintf(name, sizeof name, "\\\\.\\COM%i", port);
    return name;
}

DCB BuildLineSettings(const DCB& read, int baudRate, int parity, int xonXoff) {
    DCB settings = read;
    settings.BaudRate = static_cast<DWORD>(baudRate);
    settings.fBinary = 1;
    settings.fParity = parity == 1 ? 1 : 0;
    settings.Parity = parity != 0 ? EVENPARITY : NOPARITY;
    settings.ByteSize = 8;
    settings.StopBits = ONESTOPBIT;
    settings.fOutxCtsFlow = 0;
    settings.fOutxDsrFlow = 0;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    settings.fRtsControl = RTS_CONTROL_DISABLE;
    settings.fOutX = xonXoff != 0 ? 1 : 0;
    settings.fInX = xonXoff != 0 ? 1 : 0;
    settings.fNull = 0;
    settings.fAbortOnError = 0;
    settings.fDsrSensitivity = 0;
    settings.XonLim = 32768;
    settings.XoffLim = 8192;
    settings.XonChar = 0x11;
    settings.XoffChar = 0x13;
    return settings;
}

} // namespace qam::link::win32

namespace qam::link {

std::unique_ptr<CComDevice::Port> CreatePlatformPort() {
    return std::make_unique<win32::Win32Port>();
}

} // namespace qam::link
