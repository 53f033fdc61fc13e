#include "cli/Sha256.h"

namespace qam::cli {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char HEX_DIGITS[] = "0123456789abcdef";
    Sha256Digest digest{};
    if (!Sha256(bytes, digest)) {
        return {};
    }
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += HEX_DIGITS[byte >> 4];
        hex += HEX_DIGITS[byte & 0x0F];
    }
    return hex;
}

} // namespace qam::cli
