#pragma once

#include <cstdint>

namespace fw {

// The current time in whole seconds of the platform's clock.
std::int64_t CurrentTimeSeconds();

// The clock of the Win32 and Qt backends (framework/SystemClock.cpp): the system's, in milliseconds
// since 1970. The reset wait's whole seconds and its sleeps are both read from it, so that a sleep
// never ends before the second it waits for.
std::int64_t SystemClockMilliseconds();

// How long to sleep, from `nowMilliseconds` on the same clock, until just past its next whole
// second: a millisecond beyond the boundary, so that a wait never ends just before it.
constexpr int MillisecondsToNextSecond(std::int64_t nowMilliseconds) {
    const std::int64_t intoSecond = ((nowMilliseconds % 1000) + 1000) % 1000;
    return static_cast<int>(1000 - intoSecond + 1);
}

} // namespace fw
