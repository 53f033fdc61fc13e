#include "update/SectionTransform.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace qam::update;

namespace {

std::vector<std::uint8_t> EveryByte() {
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

TEST(SectionTransform, WorkedExamples) {
    const SectionKey key{0x10, 0x20, 0x30, 0x40, 0x99, 0x99, 0x99, 0x99};
    struct Case {
        std::uint8_t letter;
        std::uint8_t stored;
        std::uint8_t plain;
    };
    const Case cases[] = {
        {'B', 0x00, 0x72}, // t = 0x42, key byte 2 (0x30)
        {'B', 0xFF, 0x9D}, // t = 0xBD, key byte 1 (0x20)
        {'D', 0x44, 0x10}, // t = 0x00, key byte 0 (0x10)
        {'P', 0x53, 0x43}, // t = 0x03, key byte 3 (0x40)
    };
    for (const Case& c : cases) {
        std::uint8_t byte = c.stored;
        UnscrambleBody({&byte, 1}, c.letter, key);
        EXPECT_EQ(byte, c.plain) << c.letter << " " << int{c.stored};
    }
}

TEST(SectionTransform, KeyBytesUsedAreOnlyTheTopFiveBitsOfBytes0To3) {
    const auto stored = EveryByte();
    SectionKey key{0xA8, 0x51, 0x33, 0xFE, 0, 0, 0, 0};
    SectionKey sameEffect{0xAF, 0x56, 0x34, 0xF9, 0x12, 0x34, 0x56, 0x78};
    for (const std::uint8_t letter : {'B', 'D', 'P'}) {
        auto a = stored;
        auto b = stored;
        UnscrambleBody(a, letter, key);
        UnscrambleBody(b, letter, sameEffect);
        EXPECT_EQ(a, b) << letter;
    }
}

TEST(SectionTransform, ScrambleIsTheExactInverse) {
    std::mt19937 random(11);
    for (int round = 0; round < 50; ++round) {
        SectionKey key{};
        for (auto& b : key) {
            b = static_cast<std::uint8_t>(random());
        }
        for (const std::uint8_t letter : {'B', 'D', 'P'}) {
            const auto plain = EveryByte();
            auto bytes = plain;
            ScrambleBody(bytes, letter, key);
            auto stored = bytes;
            UnscrambleBody(bytes, letter, key);
            EXPECT_EQ(bytes, plain);
            // And the other way round: the transform is a permutation of the 256 bytes.
            UnscrambleBody(stored, letter, key);
            ScrambleBody(stored, letter, key);
            auto again = plain;
            ScrambleBody(again, letter, key);
            EXPECT_EQ(stored, again);
        }
    }
}

TEST(SectionTransform, KeyIsPayloadXorMask) {
    const std::array<std::uint8_t, 8> payload{0x00, 0xFF, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78};
    const std::array<std::uint8_t, 8> mask{0xFF, 0xFF, 0x00, 0x00, 0x12, 0x00, 0x50, 0x08};
    const SectionKey key = KeyFromDate(payload, mask);
    EXPECT_EQ(key, (SectionKey{0xFF, 0x00, 0x0F, 0xF0, 0x00, 0x34, 0x06, 0x70}));
}

} // namespace
