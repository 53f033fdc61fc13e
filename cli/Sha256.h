#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace qam::cli {

inline constexpr std::size_t SHA256_BYTES = 32;
using Sha256Digest = std::array<std::uint8_t, SHA256_BYTES>;

// The SHA-256 of the bytes, from the platform (OpenSSL's libcrypto on Linux, CNG on Windows,
// Sha256_posix.cpp, Sha256_win32.cpp); false if the platform failed.
bool Sha256(std::span<const std::uint8_t> bytes, Sha256Digest& digest);

// The same in lower-case hexadecimal; empty if the platform failed.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace qam::cli
