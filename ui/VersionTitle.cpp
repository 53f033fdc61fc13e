#include "ui/VersionTitle.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace qam::ui {

namespace {

constexpr const char* TITLE_PREFIX = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V";
constexpr const char* FALLBACK_FORMAT = "%s ?.??";
constexpr const char* TITLE_FORMAT = "%s %d.%d%d";

// One "%d" of a scan format: blanks skipped, an optional sign, at least one digit. Numbers out of
// range saturate, where the C library's scan would be undefined.
bool ScanNumber(std::string_view text, std::size_t& at, int& number) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    std::size_t digits = at;
    if (digits < text.size() && (text[digits] == '+' || text[digits] == '-')) {
        ++digits;
    }
    if (digits >= text.size() || !std::isdigit(static_cast<unsigned char>(text[digits]))) {
        return false;
    }
    const bool negative = text[at] == '-';
    long long value = 0;
    for (at = digits; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    value = negative ? -value : value;
    number = static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
    return true;
}

} // namespace

std::string FallbackTitle() {
    std::array<char, 128> title{};
    std::snprintf(title.data(), title.size(), FALLBACK_FORMAT, TITLE_PREFIX);
    return title.data();
}

std::optional<std::string> TitleFromFileVersion(std::string_view text) {
    std::array<int, 3> numbers{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != ',') {
                return std::nullopt;
            }
            ++at;
        }
        if (!ScanNumber(text, at, numbers[i])) {
            return std::nullopt;
        }
    }
    std::array<char, 128> title{};
    std::snprintf(title.data(), title.size(), TITLE_FORMAT, TITLE_PREFIX, numbers[0], numbers[1], numbers[2]);
    return std::string(title.data());
}

} // namespace qam::ui
