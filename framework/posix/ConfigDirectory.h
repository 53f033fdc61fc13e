#pragma once

#include <optional>
#include <string>

namespace fw::posix {

// The program's own configuration directory, "$XDG_CONFIG_HOME/qamupdate" or, without that,
// "$HOME/.config/qamupdate". Nothing when neither variable names an absolute directory. These
// two and XDG_STATE_HOME (fw::StateDirectory) are all the program reads from its environment.
std::optional<std::string> ConfigDirectory();

} // namespace fw::posix
