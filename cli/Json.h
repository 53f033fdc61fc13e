#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// JSON as qamtool writes it: one flat object per line, and the reading back of such a line.
namespace qam::cli {

class CJsonObject {
public:
    CJsonObject& Add(std::string_view key, std::string_view text);
    CJsonObject& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
    CJsonObject& Add(std::string_view key, std::int64_t number);
    CJsonObject& Add(std::string_view key, int number) { return Add(key, static_cast<std::int64_t>(number)); }
    CJsonObject& Add(std::string_view key, double number);
    CJsonObject& Add(std::string_view key, bool flag);
    // The object's text, without a line end.
    std::string Text() const { return "{" + m_members + "}"; }

private:
    void Key(std::string_view key);
    std::string m_members;
};

// The members of one flat object (strings decoded; numbers, true and false as written); nothing
// when the line is no such object.
std::optional<std::map<std::string, std::string>> ParseFlatObject(std::string_view line);

// A module's or a file's text for a line of output or a record: printable ASCII as it is, the
// backslash doubled, every other byte as \xHH.
std::string Printable(std::string_view bytes);

} // namespace qam::cli
