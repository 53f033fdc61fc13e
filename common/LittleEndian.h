#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Wire words, file frames and settings images are little-endian byte layouts; they are read and
// written only through these helpers, never by casting a struct onto bytes.
namespace qam::le {

inline std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline std::uint32_t Read24(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16);
}

inline std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return Read24(bytes, offset) | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline void Write32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace qam::le
