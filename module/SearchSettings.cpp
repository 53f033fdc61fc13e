#include "module/SearchSettings.h"

#include "framework/RegKey.h"
#include "module/ModuleSearch.h"

namespace qam::module {

namespace {

constexpr int MISSING_PORT_COUNT = 32;
constexpr int DEFAULT_PREFERRED_PORT = 1;

// A 32-bit number value; anything else (a text, a value of another size) counts as a failed read.
bool QueryNumber(const CRegKey& key, const char* name, int& number) {
    DWORD value = 0;
    if (key.QueryDWORDValue(name, value) != ERROR_SUCCESS) {
        return false;
    }
    // Stored as given: the scan's own arithmetic copes with any value.
    number = static_cast<int>(value);
    return true;
}

} // namespace

void ReadSearchSettings(const CRegKey& key, SearchState& state) {
    if (!QueryNumber(key, PORT_COUNT_VALUE, state.portCount)) {
        state.portCount = MISSING_PORT_COUNT;
    }
    if (!QueryNumber(key, PREFERRED_PORT_VALUE, state.preferredPort)) {
        state.preferredPort = DEFAULT_PREFERRED_PORT;
    }
}

} // namespace qam::module
