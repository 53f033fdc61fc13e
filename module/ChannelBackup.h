#pragma once

#include <array>
#include <cstdint>

// One channel's settings kept across an update: the settings image as "RSTA" sends it, the BLS
// block of "RBLS" (sent back unchanged by "WBLS") and the filter bitmap of "RFLT".
struct SettingsRecord {
    std::uint32_t length = 0; // bytes received
    std::array<std::uint8_t, 256> data{};
};

using BlsBlock = SettingsRecord;

inline constexpr int FILTER_BITMAP_BYTES = 1024;

struct ChannelBackup {
    SettingsRecord settings;
    std::array<std::uint8_t, FILTER_BITMAP_BYTES> filterBitmap{};
    BlsBlock bls;
};
