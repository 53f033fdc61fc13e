#include "cli/PortArgument.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace qam::cli {

namespace {
constexpr std::string_view COM_PREFIX = "COM";
} // namespace

std::optional<PortArgument> ParseComPort(std::string_view text) {
    // "COM3" as Windows names it, in any case, or the number alone.
    if (text.size() > COM_PREFIX.size() &&
        std::equal(COM_PREFIX.begin(), COM_PREFIX.end(), text.begin(),
                   [](char a, char b) { return a == std::toupper(static_cast<unsigned char>(b)); })) {
        text.remove_prefix(COM_PREFIX.size());
    }
    int number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, number);
    if (text.empty() || problem != std::errc() || stop != end || number < 1 || number > MOST_COM) {
        return std::nullopt;
    }
    return PortArgument{number, {}, "COM" + std::to_string(number)};
}

} // namespace qam::cli
