#pragma once

#include <cstdint>
#include <span>

namespace qam {

// CRC-32 as zip and Ethernet use it (reflected polynomial 0xEDB88320, inverted in and out).
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

} // namespace qam
