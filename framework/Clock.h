#pragma once

#include <algorithm>
#include <cstdint>

namespace fw {

// The current time in whole seconds of the platform's clock.
std::int64_t CurrentTimeSeconds();

// The clock of the Win32 and Qt backends (framework/SystemClock.cpp): the system's, in milliseconds
// since 1970. The reset wait's whole seconds and its sleeps are both read from it, so that a sleep
// never ends before the second it waits for.
std::int64_t SystemClockMilliseconds();

// How long to sleep, from `nowMilliseconds`, until just past the end of `countedSecond`, both of the
// same clock: a millisecond beyond the boundary, so that a wait never ends just before it; none
// when the clock has passed it already (a message dispatched in between), so no second is skipped.
constexpr int MillisecondsToNextSecond(std::int64_t countedSecond, std::int64_t nowMilliseconds) {
    const std::int64_t left = (countedSecond + 1) * 1000 + 1 - nowMilliseconds;
    return static_cast<int>(std::max<std::int64_t>(left, 0));
}

} // namespace fw
