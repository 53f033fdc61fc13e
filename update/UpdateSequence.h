#pragma once

#include "common/ResultCode.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

class CComDevice;
class CModuleProxy;
class CWnd;
struct SearchState;

namespace qam::update {

// The 16 bytes the replies to "CPRM" and "RST0" are read into, and one zero byte behind them.
inline constexpr int REPLY_AREA_BYTES = 16;
using ReplyArea = std::array<char, REPLY_AREA_BYTES + 1>;

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
};

// Lower status texts of the steps whose start changes what the module holds; a program that
// follows the run by its texts (qamtool) tells from them how far it came.
inline constexpr const char* TEXT_CLEAR_SETTINGS = "clear current settings ...";
inline constexpr const char* TEXT_RESET = "reset module ...";
inline constexpr const char* TEXT_RESTORE = "restore settings ...";

// One firmware update from the wait cursor to the end: the window disabled, the file checked, the
// settings backed up, "CPRM", the download, the reset and its wait, the reconnection, the restore;
// then the window enabled, the report, the final status and the port closed. The computer is kept
// awake meanwhile. Answers the code reported.
ResultCode RunUpdate(const UpdateContext& context);

// The type test of the file name: its last four characters, in lower case, are ".qam".
bool HasUpdateFileType(const std::string& path);

} // namespace qam::update
