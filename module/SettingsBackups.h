#pragma once

#include "module/SavedSettings.h"

#include <optional>
#include <string>
#include <vector>

// The backups folder: the settings every update saves before "CPRM". A backup is pending until
// it has been written back (or deliberately not); settling it moves it into a history of the last
// 20. Nothing here is ever deleted at once.
namespace qam::module {

inline constexpr std::size_t BACKUP_HISTORY_LENGTH = 20;

struct StoredBackup {
    std::string path;
    bool pending = false;
    SavedSettings settings;
};

// "<state folder>/backups"; nothing when the platform names no state folder.
std::optional<std::string> BackupsDirectory();

// Saves settings as a pending backup: its file, or nothing when it could not be written.
std::optional<std::string> SaveBackup(const SavedSettings& settings);
// The newest pending backup taken on this port; damaged files are passed over.
std::optional<StoredBackup> FindPendingBackup(const std::string& port);
// Moves a pending backup into the history and drops the oldest beyond its length: its path there.
std::string SettleBackup(const std::string& path);
// Every backup that reads whole: pending first, then the history, each newest first.
std::vector<StoredBackup> ListBackups();

} // namespace qam::module
