#pragma once

#include "common/ResultCode.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace qam::module {
struct SavedSettings;
}

class CComDevice;
class CModuleProxy;
class CWnd;
struct SearchState;

namespace qam::update {

// The 16 bytes the replies to "CPRM" and "RST0" are read into, and one zero byte behind them.
inline constexpr int REPLY_AREA_BYTES = 16;
using ReplyArea = std::array<char, REPLY_AREA_BYTES + 1>;

// What became of a run's backup on disk: for qamtool's notes, events and record.
struct BackupReport {
    std::string offered;     // a pending backup of the port, offered before the read
    bool used = false;       // ... and used as the run's backup
    std::string saved;       // the run's backup on disk (the offered one when used); empty: none
    bool saveFailed = false; // the backup could not be written, and the update went on
    bool pending = false;    // it stays pending: its settings were not written back
};

// What one update run works with: the window's link, proxy, search state and file, and the
// window itself for its controls and boxes.
struct UpdateContext {
    CComDevice& link;
    CModuleProxy& proxy;
    SearchState& search;
    const CWnd& dialog;
    const std::string& updateFilePath;
    int keepSettings;
    // The file's bytes, read once before the run: the check and the download then take these
    // rather than the file on disk, whose name is still tested. Without an image the file is read.
    std::optional<std::span<const std::uint8_t>> image = std::nullopt;
    // The port as saved backups name it; without it "COM<found port>".
    std::string portName = {};
    // A backup to use instead of reading the module (qamtool's --settings-from).
    const qam::module::SavedSettings* settingsFrom = nullptr;
    BackupReport* backupReport = nullptr;
    // Asked once the settings are in hand, before they are saved and "CPRM" is sent: a code other
    // than RESULT_OK ends the run there with it, nothing written and no error box (qamtool's
    // station interrupt, which reports it itself).
    std::function<ResultCode()> beforeClear = {};
};

// The question before the read when a backup is pending for the port: %s the time the settings
// were read (local, "YYYY-MM-DD HH:MM") and the saved module's DSP identification.
inline constexpr const char* SAVED_SETTINGS_TEXT =
    "Settings Saved Before A Failed Update (%s, %s) Found. Restore These Instead Of The Current Settings ?";
inline constexpr const char* SAVED_SETTINGS_CAPTION = "Saved Settings";

// Lower status texts of the steps whose start changes what the module holds; a program that
// follows the run by its texts (qamtool) tells from them how far it came.
inline constexpr const char* TEXT_CLEAR_SETTINGS = "clear current settings ...";
inline constexpr const char* TEXT_RESET = "reset module ...";
inline constexpr const char* TEXT_RESTORE = "restore settings ...";

// One firmware update from the wait cursor to the end: the window disabled, the file checked, the
// settings backed up (a pending backup of the port offered first) and saved, "CPRM", the download, the reset
// and its wait, the reconnection, the restore; then the backup settled or left pending, the window enabled,
// the report (naming a pending backup's file), the final status and the port closed. The computer is kept
// awake meanwhile. Answers the code reported.
ResultCode RunUpdate(const UpdateContext& context);

// "CPRM", which erases both channels' settings, under its own time-out (a 4-byte reply into reply,
// no box of its own); the link's time-outs are back to normal after it, whatever it gave.
ResultCode ClearSettings(CComDevice& link, std::span<char> reply);

// The type test of the file name: its last four characters, in lower case, are ".qam".
bool HasUpdateFileType(const std::string& path);

} // namespace qam::update
