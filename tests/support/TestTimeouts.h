#pragma once

#include "link/PortTimeouts.h"

#include <vector>

// The test builds' time-out seam, in place of link/PortTimeouts.cpp: every set the code asks for is
// recorded, and the port gets it scaled down while a test asks, so that long waits end quickly.
namespace qam::test {

// Every set asked for since the last ClearAskedTimeouts(), in order.
const std::vector<link::Timeouts>& AskedTimeouts();
void ClearAskedTimeouts();

// Port gets value * numerator / denominator for the read multiplier and the read and write total
// constants (at least 1 ms); 1/1 restores the asked values.
void ScaleTimeoutConstants(int numerator, int denominator);

class ScopedTimeoutScale {
public:
    ScopedTimeoutScale(int numerator, int denominator) { ScaleTimeoutConstants(numerator, denominator); }
    ~ScopedTimeoutScale() { ScaleTimeoutConstants(1, 1); }
    ScopedTimeoutScale(const ScopedTimeoutScale&) = delete;
    ScopedTimeoutScale& operator=(const ScopedTimeoutScale&) = delete;
};

} // namespace qam::test
