#include "ui/VersionTitle.h"

#include <cstdlib>
#include <string>

using namespace qam::ui;

// The title parse fed any version text: it never reads past the text, and a title it makes
// always starts like the fallback title and stays within the title buffer.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> title = TitleFromFileVersion(text);
    static const std::string fallback = FallbackTitle();
    const std::string prefix = fallback.substr(0, fallback.size() - 4);
    if (title && (title->compare(0, prefix.size(), prefix) != 0 || title->size() >= 128)) {
        std::abort();
    }
    if (title && text.find(',') == std::string::npos) {
        std::abort();
    }
    return 0;
}
