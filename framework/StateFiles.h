#pragma once

#include <optional>
#include <string>
#include <string_view>

// The user's own files of the program that are no configuration: its state folder, and files
// written whole so that a crash never leaves half of one behind.
namespace fw {

// "%LOCALAPPDATA%\qamupdate" on Windows; "$XDG_STATE_HOME/qamupdate", by default
// "$HOME/.local/state/qamupdate", elsewhere. Nothing when the platform names no such folder. It
// need not exist yet.
std::optional<std::string> StateDirectory();

// Writes content to path whole: a temporary file beside it, flushed to the disk, then renamed over
// path. False when any step failed; path is then as it was.
bool WriteFileWhole(const std::string& path, std::string_view content);

} // namespace fw
