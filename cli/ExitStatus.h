#pragma once

#include "common/ResultCode.h"
#include "module/SavedSettings.h"

// qamtool's exit statuses, one per class, in order of severity: a station exits with its most
// severe unit's. No failure ever exits with STATUS_SUCCESS.
namespace qam::cli {

inline constexpr int STATUS_SUCCESS = 0;
// A station's unit stopped by the station's interrupt before anything was written to its module.
inline constexpr int STATUS_NOT_STARTED = 1;
inline constexpr int STATUS_USAGE = 2; // the command line is wrong; nothing was done
inline constexpr int STATUS_FILE_REFUSED =
    3; // the update file or the record file refused, before any module was touched
inline constexpr int STATUS_NO_MODULE = 4;    // no module answered
inline constexpr int STATUS_LINK_FAILURE = 5; // the link failed before anything was written to the module
inline constexpr int STATUS_UNKNOWN_STATE =
    6; // a failure once the module's settings or flash were being written

// A file of saved settings refused before any port was opened: one status per fault, from 10
// (cannot be read) to 19 (oversized), in the order of qam::module::SavedSettingsError.
inline constexpr int STATUS_SAVED_FILE_BASE = 9;
int ExitStatusOf(qam::module::SavedSettingsError error);
// The result of a unit that was stopped before it wrote anything (STATUS_NOT_STARTED); its own
// layer, 0x84, is qamtool's.
inline constexpr ResultCode RESULT_NOT_STARTED = 0x84000001;
inline constexpr const char* RESULT_NOT_STARTED_NAME = "RESULT_NOT_STARTED";

// The class of a command's result: `written` tells whether the run had come to its first command
// that changes the module ("CPRM").
int ExitStatusOf(ResultCode code, bool written);

} // namespace qam::cli
