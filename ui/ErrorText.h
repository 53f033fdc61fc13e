#pragma once

#include "common/ResultCode.h"

#include <span>
#include <string>

namespace qam::ui {

// The operator's text for a result code, as the error box shows it; empty for 0. For
// ERR_BAD_RESPONSE the reply's printable start goes between the brackets: it ends before the
// first byte of 32 or less or of 128 or more, and never reaches beyond the reply given.
std::string ErrorText(ResultCode code, std::span<const char> reply = {});

// The printable start of a reply, as ErrorText cuts it.
std::string ReplyText(std::span<const char> reply);

} // namespace qam::ui
