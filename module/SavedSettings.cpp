#include "module/SavedSettings.h"

#include "common/Crc32.h"
#include "framework/StateFiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <span>

namespace qam::module {

namespace {

constexpr std::string_view FORMAT_NAME = "qam-channel-settings";
constexpr std::string_view FORMAT_VERSION = "1";
constexpr std::string_view CHECKSUM_KEY = "crc32";
constexpr std::array<const char*, 2> CHANNEL_KEYS = {"channel0.", "channel1."};
constexpr const char* HEX_DIGITS = "0123456789ABCDEF";
constexpr std::size_t CHECKSUM_DIGITS = 8;
constexpr TunerType HIGHEST_TUNER_TYPE = 5;

// Bytes a line keeps as they are; the others, and the backslash, are written \xHH.
bool Plain(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7F && byte != '\\';
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

void AppendHex(std::string& text, unsigned char byte) {
    text += HEX_DIGITS[byte >> 4];
    text += HEX_DIGITS[byte & 0x0F];
}

std::string Escaped(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (Plain(byte)) {
            escaped += c;
        } else {
            escaped += "\\x";
            AppendHex(escaped, byte);
        }
    }
    return escaped;
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\') {
            if (i + 3 >= text.size()) {
                return false;
            }
            const int high = text[i + 1] == 'x' ? HexValue(text[i + 2]) : -1;
            const int low = HexValue(text[i + 3]);
            if (high < 0 || low < 0) {
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            i += 3;
        } else if (Plain(byte)) {
            out += static_cast<char>(byte);
        } else {
            return false;
        }
    }
    return true;
}

template <typename Number> bool ParseNumber(std::string_view text, Number& value) {
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size() && !text.empty();
}

void AppendBlock(std::string& text, const std::string& key, std::span<const std::uint8_t> data) {
    text += key + ' ' + std::to_string(data.size());
    if (!data.empty()) {
        text += ' ';
        for (const std::uint8_t byte : data) {
            AppendHex(text, byte);
        }
    }
    text += '\n';
}

// The lines of a text, each taken whole with its key.
class LineReader {
public:
    explicit LineReader(std::string_view text) : m_text(text) {}

    // The next line's value after "key ": None, or why it cannot be had.
    SavedSettingsError Value(std::string_view key, std::string_view& value) {
        const std::size_t end = m_text.find('\n', m_position);
        if (end == std::string_view::npos) {
            return SavedSettingsError::Truncated;
        }
        const std::string_view line = m_text.substr(m_position, end - m_position);
        m_position = end + 1;
        if (line.size() <= key.size() || !line.starts_with(key) || line[key.size()] != ' ') {
            return SavedSettingsError::Format;
        }
        value = line.substr(key.size() + 1);
        return SavedSettingsError::None;
    }

    std::size_t Position() const { return m_position; }
    bool AtEnd() const { return m_position == m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_position = 0;
};

SavedSettingsError ParseBlock(LineReader& lines, const std::string& key, std::size_t exact,
                              std::span<std::uint8_t> data, std::uint32_t* length) {
    std::string_view value;
    if (const SavedSettingsError error = lines.Value(key, value); error != SavedSettingsError::None) {
        return error;
    }
    const std::size_t space = value.find(' ');
    std::uint64_t count = 0;
    if (!ParseNumber(value.substr(0, space), count)) {
        return SavedSettingsError::Format;
    }
    if (exact != 0 && count != exact) {
        return SavedSettingsError::Bitmap;
    }
    if (count > data.size()) {
        return SavedSettingsError::Length;
    }
    const std::string_view hex =
        space == std::string_view::npos ? std::string_view() : value.substr(space + 1);
    if (hex.size() != 2 * count || (count == 0 && space != std::string_view::npos)) {
        return SavedSettingsError::Hex;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return SavedSettingsError::Hex;
        }
        data[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (length != nullptr) {
        *length = static_cast<std::uint32_t>(count);
    }
    return SavedSettingsError::None;
}

SavedSettingsError ParseLines(std::string_view text, SavedSettings& parsed) {
    const std::size_t firstEnd = text.find('\n');
    const std::string_view first = text.substr(0, firstEnd);
    if (!first.starts_with(FORMAT_NAME) || first.size() <= FORMAT_NAME.size() ||
        first[FORMAT_NAME.size()] != ' ') {
        return SavedSettingsError::Name;
    }
    if (first.substr(FORMAT_NAME.size() + 1) != FORMAT_VERSION) {
        return SavedSettingsError::Version;
    }
    LineReader lines(text);
    std::string_view value;
    SavedSettingsError error = lines.Value(FORMAT_NAME, value);
    auto next = [&](std::string_view key) {
        error = lines.Value(key, value);
        return error == SavedSettingsError::None;
    };
    auto fail = [&](SavedSettingsError otherwise) {
        return error != SavedSettingsError::None ? error : otherwise;
    };
    int tuner = 0;
    if (error != SavedSettingsError::None || !next("port") || !Unescape(value, parsed.port) ||
        !next("time") || !ParseNumber(value, parsed.time) || !next("dsp") || !Unescape(value, parsed.dsp) ||
        !next("pld") || !Unescape(value, parsed.pld) || !next("tuner") || !ParseNumber(value, tuner) ||
        tuner < TUNER_UNKNOWN || tuner > HIGHEST_TUNER_TYPE || !next("firmware") ||
        !ParseNumber(value, parsed.firmwareVersion) || !std::isfinite(parsed.firmwareVersion)) {
        return fail(SavedSettingsError::Format);
    }
    parsed.tunerType = tuner;
    for (std::size_t channel = 0; channel < parsed.channels.size(); ++channel) {
        ChannelBackup& backup = parsed.channels[channel];
        const std::string prefix = CHANNEL_KEYS[channel];
        for (const SavedSettingsError blockError :
             {ParseBlock(lines, prefix + "settings", 0, backup.settings.data, &backup.settings.length),
              ParseBlock(lines, prefix + "bls", 0, backup.bls.data, &backup.bls.length),
              ParseBlock(lines, prefix + "filter", FILTER_BITMAP_BYTES, backup.filterBitmap, nullptr)}) {
            if (blockError != SavedSettingsError::None) {
                return blockError;
            }
        }
    }
    const std::size_t content = lines.Position();
    std::uint32_t crc = 0;
    if (!next(CHECKSUM_KEY)) {
        return error;
    }
    const auto [end, problem] = std::from_chars(value.data(), value.data() + value.size(), crc, 16);
    if (value.size() != CHECKSUM_DIGITS || problem != std::errc() || end != value.data() + value.size()) {
        return SavedSettingsError::Format;
    }
    if (crc != Crc32(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), content))) {
        return SavedSettingsError::Checksum;
    }
    return lines.AtEnd() ? SavedSettingsError::None : SavedSettingsError::Oversized;
}

} // namespace

const char* SavedSettingsErrorText(SavedSettingsError error) {
    switch (error) {
    case SavedSettingsError::None:
        return "";
    case SavedSettingsError::Open:
        return "cannot be read";
    case SavedSettingsError::Name:
        return "is no file of saved channel settings";
    case SavedSettingsError::Version:
        return "is of a version of the settings format this program does not know";
    case SavedSettingsError::Format:
        return "holds a line that is not the one expected there";
    case SavedSettingsError::Hex:
        return "holds a block whose data is not hexadecimal of its length";
    case SavedSettingsError::Length:
        return "holds a settings or BLS block longer than 256 bytes";
    case SavedSettingsError::Bitmap:
        return "holds a filter bitmap that is not 1024 bytes";
    case SavedSettingsError::Checksum:
        return "does not match its checksum";
    case SavedSettingsError::Truncated:
        return "is cut short";
    case SavedSettingsError::Oversized:
        return "is longer than a file of saved channel settings";
    }
    return "";
}

std::string FormatSavedSettings(const SavedSettings& settings) {
    std::string text;
    text += std::string(FORMAT_NAME) + ' ' + std::string(FORMAT_VERSION) + '\n';
    text += "port " + Escaped(settings.port) + '\n';
    text += "time " + std::to_string(settings.time) + '\n';
    text += "dsp " + Escaped(settings.dsp) + '\n';
    text += "pld " + Escaped(settings.pld) + '\n';
    text += "tuner " + std::to_string(settings.tunerType) + '\n';
    char version[32];
    const auto [end, problem] = std::to_chars(version, version + sizeof version, settings.firmwareVersion);
    text += "firmware " + (problem == std::errc() ? std::string(version, end) : std::string("0")) + '\n';
    for (std::size_t channel = 0; channel < settings.channels.size(); ++channel) {
        const ChannelBackup& backup = settings.channels[channel];
        const std::string prefix = CHANNEL_KEYS[channel];
        AppendBlock(
            text, prefix + "settings",
            std::span(backup.settings.data).first(std::min<std::size_t>(backup.settings.length, 256)));
        AppendBlock(text, prefix + "bls",
                    std::span(backup.bls.data).first(std::min<std::size_t>(backup.bls.length, 256)));
        AppendBlock(text, prefix + "filter", backup.filterBitmap);
    }
    char crc[CHECKSUM_DIGITS + 1];
    std::snprintf(crc, sizeof crc, "%08X",
                  static_cast<unsigned>(
                      Crc32(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))));
    text += std::string(CHECKSUM_KEY) + ' ' + crc + '\n';
    return text;
}

SavedSettingsError ParseSavedSettings(std::string_view text, SavedSettings& settings) {
    if (text.size() > SAVED_SETTINGS_MAX_BYTES) {
        return SavedSettingsError::Oversized;
    }
    SavedSettings parsed;
    const SavedSettingsError error = ParseLines(text, parsed);
    if (error == SavedSettingsError::None) {
        settings = parsed;
    }
    return error;
}

SavedSettingsError ReadSavedSettingsFile(const std::string& path, SavedSettings& settings) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return SavedSettingsError::Open;
    }
    // One byte beyond the largest file tells an oversized one.
    std::string text(SAVED_SETTINGS_MAX_BYTES + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        return SavedSettingsError::Open;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    return ParseSavedSettings(text, settings);
}

bool WriteSavedSettingsFile(const std::string& path, const SavedSettings& settings) {
    return fw::WriteFileWhole(path, FormatSavedSettings(settings));
}

} // namespace qam::module
