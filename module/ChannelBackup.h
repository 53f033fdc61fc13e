#pragma once

#include <array>
#include <cstdint>

// One channel's settings kept across an update: the settings image as "RSTA" sends it, the BLS
// block of "RBLS" (sent back unchanged by "WBLS") and the filter bitmap of "RFLT".
struct SettingsRecord {
    std::uint32_t length = 0; // bytes received
    std::array<std::uint8_t, 256> data{};

    bool operator==(const SettingsRecord&) const = default;
};

using BlsBlock = SettingsRecord;

inline constexpr int FILTER_BITMAP_BYTES = 1024;

struct ChannelBackup {
    SettingsRecord settings;
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> filterBitmap{};
    BlsBlock bls;

    bool operator==(const ChannelBackup&) const = default;
};

// The values of a settings image as the write takes them: image bytes 0..17, whatever the length
// word says. Multi-byte values are little-endian. Which of them go out depends on the tuner type
// and the firmware version (module/ChannelSettings.h).
struct ChannelSettings {
    std::uint16_t j = 0;   // bytes 0..1: "J"/"j", tuner types other than 5
    std::uint32_t j24 = 0; // bytes 0..2: "J"/"j", tuner type 5
    std::uint16_t i = 0;   // bytes 2..3: "I"/"i", tuner types other than 5
    std::uint8_t i8 = 0;   // byte 3: "i", tuner type 5
    std::uint8_t mode = 0; // byte 4: bits 1 to 4 give the M number
    std::uint16_t h = 0;   // bytes 6..7: "H"/"h" divided by 10, channel 0 only
    std::uint16_t s = 0;   // bytes 8..9: "S"/"s"
    std::uint16_t q = 0;   // bytes 10..11: "Q", at most 8 sent
    std::uint16_t y = 0;   // bytes 14..15: "y", at most 999 sent
    std::uint8_t lnb = 0;  // byte 16: "LNB", at most 5 sent; or the first byte of the PLP pair
    std::uint8_t lnd = 0;  // byte 17: "LND" only up to 15; or the second byte of the PLP pair

    bool operator==(const ChannelSettings&) const = default;
};
