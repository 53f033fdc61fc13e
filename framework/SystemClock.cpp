#include "framework/Clock.h"

#include <chrono>

namespace fw {

std::int64_t SystemClockMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t CurrentTimeSeconds() {
    return SystemClockMilliseconds() / 1000;
}

} // namespace fw
