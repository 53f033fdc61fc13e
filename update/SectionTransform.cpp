#include "update/SectionTransform.h"

#include "update/DateMask.h"

namespace qam::update {

SectionKey KeyFromDate(std::span<const std::uint8_t, 8> payload) {
    return KeyFromDate(payload, DATE_MASK);
}

SectionKey KeyFromDate(std::span<const std::uint8_t, 8> payload, std::span<const std::uint8_t, 8> mask) {
    SectionKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<std::uint8_t>(payload[i] ^ mask[i]);
    }
    return key;
}

void UnscrambleBody(std::span<std::uint8_t> body, std::uint8_t letter, const SectionKey& key) {
    for (std::uint8_t& s : body) {
        const auto t = static_cast<std::uint8_t>(s ^ letter);
        s = static_cast<std::uint8_t>(t ^ (key[t & 3u] & 0xF8u));
    }
}

void ScrambleBody(std::span<std::uint8_t> body, std::uint8_t letter, const SectionKey& key) {
    // The low bits of the output are those of t, so they name the key byte the reader will use.
    for (std::uint8_t& plain : body) {
        const auto t = static_cast<std::uint8_t>(plain ^ (key[plain & 3u] & 0xF8u));
        plain = static_cast<std::uint8_t>(t ^ letter);
    }
}

} // namespace qam::update
