#pragma once

#include "common/ResultCode.h"

#include <array>
#include <string>

class CComDevice;
class CModuleProxy;
class CWnd;
struct SearchState;

namespace qam::update {

// The 16 bytes the replies to "CPRM" and "RST0" are read into, and one zero byte behind them.
inline constexpr int REPLY_AREA_BYTES = 16;
using ReplyArea = std::array<char, REPLY_AREA_BYTES + 1>;

struct UpdateOutcome {
    ResultCode result = RESULT_OK;
    ReplyArea reply{};
};

// What one update run works with: the window's link, proxy, search state and file, and the
// window itself for its controls and boxes.
struct UpdateContext {
    CComDevice& link;
    CModuleProxy& proxy;
    SearchState& search;
    const CWnd& dialog;
    const std::string& updateFilePath;
    int keepSettings;
};

// Every step of one firmware update up to its result: shows the wait cursor and disables the
// window first; the caller finishes (window enabled, error report, final status, port closed,
// wait cursor removed).
UpdateOutcome RunUpdateSequence(const UpdateContext& context);

// The type test of the file name: its last four characters, in lower case, are ".qam".
bool HasUpdateFileType(const std::string& path);

} // namespace qam::update
