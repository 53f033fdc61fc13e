#pragma once

#include "cli/Options.h"

// qamtool's commands; each answers the exit status (cli/ExitStatus.h).
namespace qam::cli {

int RunPorts(const Options& options);
int RunIdentify(const Options& options);
int RunUpdate(const Options& options);
int RunDefaults(const Options& options);
// The parent of a station (Station.cpp) and each of its units, a process of its own.
int RunStation(const Options& options);
int RunStationUnit(const Options& options);

} // namespace qam::cli
