#include "framework/posix/ConfigDirectory.h"

#include <cstdlib>

namespace fw::posix {

namespace {

// Relative values are ignored, as the XDG base directory rules ask.
std::optional<std::string> AbsoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::string(value);
}

} // namespace

std::optional<std::string> ConfigDirectory() {
    if (const auto base = AbsoluteVariable("XDG_CONFIG_HOME")) {
        return *base + "/qamupdate";
    }
    if (const auto home = AbsoluteVariable("HOME")) {
        return *home + "/.config/qamupdate";
    }
    return std::nullopt;
}

} // namespace fw::posix
