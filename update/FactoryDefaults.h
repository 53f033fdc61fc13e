#pragma once

#include "common/ResultCode.h"

#include <array>

class CComDevice;
class CWnd;

namespace qam::update {

inline constexpr int RESET_REPLY_BYTES = 16;
using ResetReply = std::array<char, RESET_REPLY_BYTES>;

// The factory-defaults command, from the wait cursor to the final status: "CPRM" (with its own
// box), the question whether to reset, "RST0" on Yes, the report. The link is used as the last
// search left it and stays so. lastResetReply receives the reply buffer after "RST0". Answers the
// code reported.
ResultCode ResetToDefaults(CComDevice& link, const CWnd& dialog, ResetReply& lastResetReply);

} // namespace qam::update
