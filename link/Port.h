#pragma once

// Inside link/ only: what each platform's port (ComDevice_win32.cpp, ComDevice_posix.cpp) gives the
// link, which is written once on top of it (ComDevice.cpp).

#include "link/ComDevice.h"
#include "link/PortTimeouts.h"

#include <memory>

namespace qam::link {

struct IoResult {
    int count = 0;        // bytes moved before completion or time-out
    bool refused = false; // the request failed outright (not a time-out): the caller shows its box
};

} // namespace qam::link

// One per CComDevice, for the device's whole life; opened and closed as the link is.
class CComDevice::Port {
public:
    virtual ~Port() = default;

    virtual bool IsOpen() const = 0;
    // Steps up to the purge: the device opened exclusively, queues, line settings, event mask,
    // event. A failure releases whatever this call took and leaves the port closed.
    virtual bool Open(int port, int baudRate, int parity, int xonXoff) = 0;
    virtual bool SetTimeouts(const qam::link::Timeouts& timeouts) = 0;
    virtual bool Purge() = 0;
    virtual qam::link::IoResult Read(void* buffer, int count) = 0;
    virtual qam::link::IoResult Write(const void* buffer, int count) = 0;
    // The platform's result of closing (non-zero on success); nothing happens when closed.
    virtual int Close() = 0;
};

namespace qam::link {

std::unique_ptr<CComDevice::Port> CreatePlatformPort();

} // namespace qam::link
