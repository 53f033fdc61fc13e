#pragma once

#include "cli/PortArgument.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qam::cli {

// The command line, parsed in the usual GNU form (getopt_long).
struct Options {
    std::string command;
    std::string file;
    std::optional<PortArgument> port;
    std::vector<PortArgument> ports;
    std::string record;
    bool json = false;
    bool probe = false;
    bool keepSettings = true;
    bool continueWithoutBackup = false;
    bool useSavedSettings = false; // answer "Saved Settings" Yes
    std::string settingsFrom;      // update: the backup to use instead of reading the module
    std::string output;            // backup: the file written
    bool reset = false;
    bool autoMode = false;
    int intervalSeconds = 10;
    // A station's unit: what the parent says of the image it sends.
    std::int64_t imageSize = 0;
    std::string sha256;
    std::string label; // the port as the station's command line named it
};

struct ParsedCommandLine {
    std::optional<Options> options; // nothing: help was shown, or the line was refused
    int exitStatus = 0;
};

// Parses the arguments; --help prints the command's help on standard output, a refused line a
// message and a hint on standard error.
ParsedCommandLine ParseCommandLine(int argc, char** argv);

// The name of the hidden command a station starts for each of its units.
inline constexpr const char* UNIT_COMMAND = "unit";

} // namespace qam::cli
