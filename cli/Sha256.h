#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qam::cli {

// The SHA-256 of the bytes in lower-case hexadecimal, from the platform (OpenSSL's libcrypto on
// Linux, CNG on Windows); empty if the platform failed.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace qam::cli
