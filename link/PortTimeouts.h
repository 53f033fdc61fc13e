#pragma once

// The five serial time-outs in milliseconds, in the order SetTimeouts takes them.
namespace qam::link {

struct Timeouts {
    int readInterval;
    int readMultiplier;
    int readConstant;
    int writeMultiplier;
    int writeConstant;

    bool operator==(const Timeouts&) const = default;
};

// What the port is given when asked for these time-outs. The program links the identity
// (PortTimeouts.cpp); test builds link their own, which records the asked values and may shorten them.
Timeouts PortTimeouts(const Timeouts& asked);

} // namespace qam::link
