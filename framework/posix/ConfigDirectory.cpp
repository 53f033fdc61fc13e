#include "framework/posix/ConfigDirectory.h"

#include "framework/StateFiles.h"

#include <cstdlib>

namespace fw::posix {

namespace {

// "$variable/qamupdate", or without it "$HOME/underHome/qamupdate". Relative values are ignored,
// as the XDG base directory rules ask.
std::optional<std::string> XdgDirectory(const char* variable, const char* underHome) {
    for (const char* name : {variable, "HOME"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] == '/') {
            return std::string(value) + (name == variable ? "" : underHome) + "/qamupdate";
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> ConfigDirectory() {
    return XdgDirectory("XDG_CONFIG_HOME", "/.config");
}

} // namespace fw::posix

namespace fw {

std::optional<std::string> StateDirectory() {
    return posix::XdgDirectory("XDG_STATE_HOME", "/.local/state");
}

} // namespace fw
