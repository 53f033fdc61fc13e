#pragma once

#include <array>
#include <cstdint>
#include <span>

// The scrambling of section bodies. Each byte depends only on itself, the section letter and key
// bytes 0..3, and the low three bits pass through, so the transform has an exact inverse.
namespace qam::update {

using SectionKey = std::array<std::uint8_t, 8>;

// Key byte i is DATE payload byte i XOR mask byte i (the build's mask unless one is given).
SectionKey KeyFromDate(std::span<const std::uint8_t, 8> payload);
SectionKey KeyFromDate(std::span<const std::uint8_t, 8> payload, std::span<const std::uint8_t, 8> mask);

// Unscrambles a stored body in place (what the reader applies before a section is sent).
void UnscrambleBody(std::span<std::uint8_t> body, std::uint8_t letter, const SectionKey& key);
// The inverse: what a file must store so that UnscrambleBody gives these bytes back.
void ScrambleBody(std::span<std::uint8_t> body, std::uint8_t letter, const SectionKey& key);

} // namespace qam::update
