#include "module/SettingsBackups.h"

#include "framework/StateFiles.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace qam::module {

namespace {

namespace fs = std::filesystem;

constexpr const char* BACKUPS_FOLDER = "backups";
constexpr const char* HISTORY_FOLDER = "history";
constexpr const char* BACKUP_EXTENSION = ".qamsettings";
constexpr const char* NAME_TIME = "%Y%m%d-%H%M%S";

// The backups of one folder, newest first (the names begin with the time).
std::vector<fs::path> BackupFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == BACKUP_EXTENSION && it->is_regular_file(error)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end(), std::greater<>());
    return files;
}

// "20261209-031415-COM3.qamsettings": the time in UTC and the port, with anything but letters
// and digits in it made '_'; "_2", "_3", ... after it when that name is taken here or in the history.
fs::path BackupFile(const fs::path& folder, const SavedSettings& settings) {
    const std::time_t time = static_cast<std::time_t>(settings.time);
    char stamp[32] = "";
    if (const std::tm* utc = std::gmtime(&time)) {
        std::strftime(stamp, sizeof stamp, NAME_TIME, utc);
    }
    std::string port = settings.port;
    std::replace_if(
        port.begin(), port.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; },
        '_');
    const std::string name = std::string(stamp) + '-' + port;
    std::error_code error;
    for (int n = 1;; ++n) {
        std::string file = name;
        if (n > 1) {
            file += '_';
            file += std::to_string(n);
        }
        file += BACKUP_EXTENSION;
        if (!fs::exists(folder / file, error) && !fs::exists(folder / HISTORY_FOLDER / file, error)) {
            return folder / file;
        }
    }
}

} // namespace

std::optional<std::string> BackupsDirectory() {
    const std::optional<std::string> state = fw::StateDirectory();
    if (!state) {
        return std::nullopt;
    }
    return (fs::path(*state) / BACKUPS_FOLDER).string();
}

std::optional<std::string> SaveBackup(const SavedSettings& settings) {
    const std::optional<std::string> folder = BackupsDirectory();
    std::error_code error;
    if (!folder || (fs::create_directories(*folder, error), error)) {
        return std::nullopt;
    }
    const std::string path = BackupFile(*folder, settings).string();
    if (!WriteSavedSettingsFile(path, settings)) {
        return std::nullopt;
    }
    return path;
}

std::optional<StoredBackup> FindPendingBackup(const std::string& port) {
    const std::optional<std::string> folder = BackupsDirectory();
    if (!folder) {
        return std::nullopt;
    }
    for (const fs::path& file : BackupFiles(*folder)) {
        StoredBackup backup{file.string(), true, {}};
        if (ReadSavedSettingsFile(backup.path, backup.settings) == SavedSettingsError::None &&
            backup.settings.port == port) {
            return backup;
        }
    }
    return std::nullopt;
}

std::string SettleBackup(const std::string& path) {
    const fs::path history = fs::path(path).parent_path() / HISTORY_FOLDER;
    const fs::path settledPath = history / fs::path(path).filename();
    std::error_code error;
    fs::create_directories(history, error);
    fs::rename(path, settledPath, error);
    const std::vector<fs::path> settled = BackupFiles(history);
    for (std::size_t i = BACKUP_HISTORY_LENGTH; i < settled.size(); ++i) {
        fs::remove(settled[i], error);
    }
    return settledPath.string();
}

std::vector<StoredBackup> ListBackups() {
    std::vector<StoredBackup> backups;
    const std::optional<std::string> folder = BackupsDirectory();
    if (!folder) {
        return backups;
    }
    for (const bool pending : {true, false}) {
        for (const fs::path& file :
             BackupFiles(pending ? fs::path(*folder) : fs::path(*folder) / HISTORY_FOLDER)) {
            StoredBackup backup{file.string(), pending, {}};
            if (ReadSavedSettingsFile(backup.path, backup.settings) == SavedSettingsError::None) {
                backups.push_back(std::move(backup));
            }
        }
    }
    return backups;
}

} // namespace qam::module
