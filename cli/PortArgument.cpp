#include "cli/PortArgument.h"

#include <charconv>

namespace qam::cli {

std::optional<PortArgument> ParseComPort(std::string_view text) {
    int number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, number);
    if (text.empty() || problem != std::errc() || stop != end || number < 1 || number > MOST_COM) {
        return std::nullopt;
    }
    return PortArgument{number, {}, "COM" + std::to_string(number)};
}

} // namespace qam::cli
