#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qam::ui {

// The window title before the version is known, and after any failure to learn it.
std::string FallbackTitle();

// The title for a FileVersion text read as "%d,%d,%d" (blanks before each number skipped, each
// comma right after its number): the prefix, a blank and "%d.%d%d". Nothing when the text does
// not hold three such numbers.
std::optional<std::string> TitleFromFileVersion(std::string_view text);

} // namespace qam::ui
