#pragma once

#include "cli/Options.h"
#include "module/SavedSettings.h"

// qamtool's commands on saved channel settings; each answers the exit status (cli/ExitStatus.h).
namespace qam::cli {

int RunBackup(const Options& options);
int RunRestore(const Options& options);
int RunBackups(const Options& options);

// Reads a file of saved settings whole, before any port is opened: STATUS_SUCCESS, or its refusal's
// status after a message on standard error.
int LoadSavedSettings(const Options& options, const std::string& path, qam::module::SavedSettings& settings);

} // namespace qam::cli
