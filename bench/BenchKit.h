#pragma once

#include "tools/module-sim/Scenario.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <sys/resource.h>

// What the benchmarks share: the line's limit, CPU time, patterned data and the module they run against.
namespace qam::bench {

// 115200 baud at 11 bits a byte (start, 8 data, even parity, stop): 10,472.7 B/s.
inline constexpr double LINE_BYTES_PER_SECOND = 115200.0 / 11.0;

// User and system CPU seconds of RUSAGE_SELF, RUSAGE_THREAD or RUSAGE_CHILDREN.
inline double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
    }
    return bytes;
}

inline constexpr int ERASE_MS = 400;
inline constexpr int RESTART_MS = 2000;

// A paced module with settings on both channels.
inline sim::Scenario PacedModule() {
    sim::Scenario scenario;
    scenario.paced = true;
    scenario.eraseMs = ERASE_MS;
    scenario.restartMs = RESTART_MS;
    for (std::size_t channel = 0; channel < 2; ++channel) {
        scenario.channels[channel].settings = Pattern(40, static_cast<std::uint8_t>(channel));
        scenario.channels[channel].bls = Pattern(16, static_cast<std::uint8_t>(channel + 7));
    }
    return scenario;
}

} // namespace qam::bench
