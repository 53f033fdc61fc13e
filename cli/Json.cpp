#include "cli/Json.h"

#include <charconv>
#include <cstdio>

namespace qam::cli {

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F) {
            // Never more than a byte: texts reach here through Printable or are ASCII of our own.
            out += "\\u00";
            out += HEX_DIGITS[byte >> 4];
            out += HEX_DIGITS[byte & 0x0F];
        } else {
            out += c;
        }
    }
    out += '"';
}

class FlatReader {
public:
    explicit FlatReader(std::string_view text) : m_text(text) {}

    std::optional<std::map<std::string, std::string>> Object() {
        std::map<std::string, std::string> members;
        if (!Take('{')) {
            return std::nullopt;
        }
        if (Take('}')) {
            return End() ? std::optional(members) : std::nullopt;
        }
        do {
            auto key = String();
            if (!key || !Take(':')) {
                return std::nullopt;
            }
            auto value = Peek() == '"' ? String() : Bare();
            if (!value) {
                return std::nullopt;
            }
            members[*key] = *value;
        } while (Take(','));
        return Take('}') && End() ? std::optional(members) : std::nullopt;
    }

private:
    void Blanks() {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r')) {
            ++m_at;
        }
    }
    char Peek() {
        Blanks();
        return m_at < m_text.size() ? m_text[m_at] : '\0';
    }
    bool Take(char c) {
        if (Peek() != c) {
            return false;
        }
        ++m_at;
        return true;
    }
    bool End() { return Peek() == '\0' && m_at == m_text.size(); }

    std::optional<std::string> String() {
        if (!Take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size()) {
                return std::nullopt;
            }
            const char escaped = m_text[m_at++];
            switch (escaped) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'u': {
                // Only what AppendQuoted writes: one byte as \u00HH.
                if (m_at + 4 > m_text.size() || m_text.substr(m_at, 2) != "00") {
                    return std::nullopt;
                }
                unsigned char byte = 0;
                const char* first = m_text.data() + m_at + 2;
                if (const auto [end, problem] = std::from_chars(first, first + 2, byte, 16);
                    problem != std::errc() || end != first + 2) {
                    return std::nullopt;
                }
                out += static_cast<char>(byte);
                m_at += 4;
                break;
            }
            default:
                out += escaped;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> Bare() {
        Blanks();
        const std::size_t start = m_at;
        while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '}' && m_text[m_at] != ' ') {
            ++m_at;
        }
        if (m_at == start) {
            return std::nullopt;
        }
        return std::string(m_text.substr(start, m_at - start));
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

} // namespace

void CJsonObject::Key(std::string_view key) {
    if (!m_members.empty()) {
        m_members += ',';
    }
    AppendQuoted(m_members, key);
    m_members += ':';
}

CJsonObject& CJsonObject::Add(std::string_view key, std::string_view text) {
    Key(key);
    AppendQuoted(m_members, text);
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, std::int64_t number) {
    Key(key);
    m_members += std::to_string(number);
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, double number) {
    Key(key);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", number);
    m_members += text;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, bool flag) {
    Key(key);
    m_members += flag ? "true" : "false";
    return *this;
}

std::optional<std::map<std::string, std::string>> ParseFlatObject(std::string_view line) {
    return FlatReader(line).Object();
}

std::string Printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
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
