#pragma once

#include "common/TunerType.h"
#include "module/ChannelBackup.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// The settings encoding of the channel write: which commands carry a settings image, BLS block
// and filter bitmap back to the module. CModuleProxy::WriteChannelSettings runs the plan over the
// link; the tests and fuzzers look at the plan itself.
namespace qam::module {

inline constexpr int SETTINGS_IMAGE_BYTES = 18; // the write uses image bytes 0..17
inline constexpr int FILTER_BITS = FILTER_BITMAP_BYTES * 8;
inline constexpr int BLOCK_DATA_BYTES = 256; // data area of a settings record or BLS block

// Firmware from which tuner type 5 takes bytes 16 and 17 as the PLP pair.
inline constexpr double PLP_FIRMWARE_VERSION = 1.16;
inline constexpr TunerType PLP_TUNER_TYPE = 5;

// The decoded values of image (bytes beyond its end read as 0).
ChannelSettings DecodeChannelSettings(std::span<const std::uint8_t> image);

// The M number of the mode byte: 700 with bit 2, else 800; +10 with bit 1; +2, +3 or +1 for
// bits 4..3 equal to 01, 10, or 00/11.
int ModeNumber(std::uint8_t mode);

// "%03d" of value after the letters, cut to the four bytes that go on the wire ("J16777" -> "J167").
std::array<char, 4> NumberCommand(const char* format, std::uint32_t value);

struct WriteStep {
    enum class Kind {
        Timeouts, // SetCommandTimeouts(link, readConstant)
        Command,  // ExecuteCommand with a 4-byte reply
        Block,    // SendBlock of data, no progress display
    };

    Kind kind = Kind::Command;
    std::array<char, 4> command{};
    bool showBox = false;
    bool resultDropped = false; // a failure neither shows a box nor ends the write
    bool commit = false;        // "ZAll": its result is the write's, after the time-out set behind it
    int readConstant = 0;
    std::span<const std::uint8_t> data; // points into the caller's records
};

// Every step of one channel's write, in order; each part may be null (absent). filterBitmap holds
// FILTER_BITMAP_BYTES bytes. Block steps point into the given records.
std::vector<WriteStep> PlanChannelWrite(int channel, const SettingsRecord* settings,
                                        const std::uint8_t* filterBitmap, const BlsBlock* bls,
                                        TunerType tunerType, double firmwareVersion);

} // namespace qam::module
