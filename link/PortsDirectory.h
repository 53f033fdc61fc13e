#pragma once

#include <string>

// POSIX: port n is the device behind the symlink com<n> in the ports directory (the convention of
// Wine's dosdevices). Tests point it at a temporary folder.
namespace qam::link {

void SetPortsDirectory(std::string directory);
const std::string& PortsDirectory();

} // namespace qam::link
