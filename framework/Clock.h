#pragma once

#include <cstdint>

namespace fw {

// The current time in whole seconds (the platform's clock; the headless backend's can be set).
std::int64_t CurrentTimeSeconds();

} // namespace fw
