#include "cli/PortArgument.h"

#include "link/PortList.h"

#include <cctype>

namespace qam::cli {

std::optional<PortArgument> ParseComPort(std::string_view text) {
    // "COM3" as Windows names it, in any case, or the number alone.
    const bool numberAlone = !text.empty() && std::isdigit(static_cast<unsigned char>(text.front())) != 0;
    const int number = link::ComNumber(numberAlone ? "COM" + std::string(text) : std::string(text));
    if (number < 1 || number > MOST_COM) {
        return std::nullopt;
    }
    return PortArgument{number, {}, "COM" + std::to_string(number)};
}

} // namespace qam::cli
