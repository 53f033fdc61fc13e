#include "common/Crc32.h"
#include "module/SavedSettings.h"

#include <cstdio>
#include <cstdlib>

using namespace qam::module;

namespace {

// A text the reader accepts writes back to one that reads to the same settings and writes the same.
void CheckRoundTrip(std::string_view text) {
    SavedSettings settings;
    if (ParseSavedSettings(text, settings) != SavedSettingsError::None) {
        return;
    }
    const std::string written = FormatSavedSettings(settings);
    SavedSettings again;
    if (ParseSavedSettings(written, again) != SavedSettingsError::None || !(again == settings) ||
        FormatSavedSettings(again) != written) {
        std::abort();
    }
}

} // namespace

// The input as it is, and as the content of a file whose checksum line fits it, so that the
// mutations reach past the checksum.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckRoundTrip(text);
    char line[32];
    std::snprintf(line, sizeof line, "crc32 %08X\n", static_cast<unsigned>(qam::Crc32({data, size})));
    CheckRoundTrip(std::string(text) + line);
    return 0;
}
