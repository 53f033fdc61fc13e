#pragma once

#include "common/TunerType.h"
#include "module/ChannelBackup.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// A module's channel settings kept on disk: the backup an update takes before "CPRM", and the
// files of qamtool's backup and restore. One small versioned text format (module/README.md).
namespace qam::module {

struct SavedSettings {
    std::string port;      // where the module answered: "COM3", or a device path
    std::int64_t time = 0; // when the settings were read, in seconds since 1970 (UTC)
    std::string dsp;       // the module's identification before the update, as the search showed it
    std::string pld;
    TunerType tunerType = TUNER_UNKNOWN;
    double firmwareVersion = 0.0;
    std::array<ChannelBackup, 2> channels;

    bool operator==(const SavedSettings&) const = default;
};

// Why a file was refused. Each has its own text, and its own exit status in qamtool.
enum class SavedSettingsError {
    None,
    Open,      // the file cannot be opened or read
    Name,      // the first line does not name this format
    Version,   // a version of the format this program does not know
    Format,    // a line that is not the one expected there, or a value out of its range
    Hex,       // a block's data is not hexadecimal of twice its length
    Length,    // a settings or BLS block longer than 256 bytes
    Bitmap,    // a filter bitmap that is not 1024 bytes
    Checksum,  // the content does not match its CRC-32
    Truncated, // the file ends before its checksum line, or inside a line
    Oversized, // bytes after the checksum line, or a file larger than any such file can be
};

inline constexpr std::size_t SAVED_SETTINGS_MAX_BYTES = 16384;

// The operator's text for an error ("" for None).
const char* SavedSettingsErrorText(SavedSettingsError error);

// The file's text for these settings; blocks beyond their length word are not kept.
std::string FormatSavedSettings(const SavedSettings& settings);
// Reads text whole: settings is filled only when the answer is None.
SavedSettingsError ParseSavedSettings(std::string_view text, SavedSettings& settings);

SavedSettingsError ReadSavedSettingsFile(const std::string& path, SavedSettings& settings);
// Written whole (temporary file, flushed, renamed): false when it could not be.
bool WriteSavedSettingsFile(const std::string& path, const SavedSettings& settings);

} // namespace qam::module
