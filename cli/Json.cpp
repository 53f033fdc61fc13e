#include "cli/Json.h"

namespace qam::cli {

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";
constexpr unsigned char LAST_ONE_BYTE = 0x7F;
constexpr unsigned char TWO_BYTES = 0xC0;
constexpr unsigned char FOLLOWING = 0x80;
constexpr unsigned char LOW_SIX = 0x3F;
constexpr unsigned char FIRST_OF_NON_LATIN = 0xC4;

} // namespace

Json JsonText(std::string_view bytes) {
    // Latin-1 to UTF-8: a byte above 0x7F becomes two.
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= LAST_ONE_BYTE) {
            text += c;
        } else {
            text += static_cast<char>(TWO_BYTES | (byte >> 6));
            text += static_cast<char>(FOLLOWING | (byte & LOW_SIX));
        }
    }
    return text;
}

std::string BytesOf(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return {};
    }
    // UTF-8 back to bytes; a character beyond U+00FF (written by no qamtool) as '?'.
    const std::string& text = found->get_ref<const std::string&>();
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte <= LAST_ONE_BYTE) {
            bytes += text[i];
        } else if ((byte & TWO_BYTES) == FOLLOWING) {
            continue; // the rest of a character beyond U+00FF
        } else if (byte < FIRST_OF_NON_LATIN && i + 1 < text.size()) {
            bytes +=
                static_cast<char>(((byte & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & LOW_SIX));
        } else {
            bytes += '?';
        }
    }
    return bytes;
}

std::string JsonLine(const Json& object) {
    return object.dump(-1, ' ', true, Json::error_handler_t::replace) + "\n";
}

std::string Printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < LAST_ONE_BYTE) {
            out += c;
        } else {
            out += "\\x";
            out += HEX_DIGITS[byte >> 4];
            out += HEX_DIGITS[byte & 0x0F];
        }
    }
    return out;
}

} // namespace qam::cli
