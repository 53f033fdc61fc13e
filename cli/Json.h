#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// JSON as qamtool writes and reads it (nlohmann-json): objects keep their members in the order
// written; a text's bytes are its characters U+0000 to U+00FF, so that a byte outside ASCII is
// written \u00HH and reads back as the same byte.
namespace qam::cli {

using Json = nlohmann::ordered_json;

Json JsonText(std::string_view bytes);
// A text member read back as its bytes; empty when it is missing or no text.
std::string BytesOf(const Json& object, const char* key);
// One line of JSON Lines, ASCII only, with its line end.
std::string JsonLine(const Json& object);

// A module's text for a line of output or a record: printable ASCII as it is, every other byte as
// \xHH.
std::string Printable(std::string_view bytes);

} // namespace qam::cli
