#pragma once

#include "common/ResultCode.h"

#include <new>
#include <span>
#include <string>

class CWnd;

namespace qam::update {

// The operator's text for a result code, as the error box shows it; empty for 0. For
// ERR_BAD_RESPONSE the reply's printable start goes between the brackets: it ends before the
// first byte of 32 or less or of 128 or more, and never reaches beyond the reply given.
std::string ErrorText(ResultCode code, std::span<const char> reply = {});

// One "ERROR" box owned by `owner` for a non-zero code, the detail text on a line of its own;
// nothing for 0. The end of every command of the window and of qamtool.
void ReportError(const CWnd& owner, ResultCode code, std::span<const char> reply = {},
                 const char* detail = nullptr);

// Runs a command's steps up to their result. An exception met there becomes the result, so that the
// command's own end (window enabled, report, final status) still runs: ERR_NO_MEMORY for a failed
// allocation, the unknown failure for anything else.
template <typename Steps> ResultCode GuardedResult(Steps&& steps) noexcept {
    try {
        return steps();
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEMORY;
    } catch (...) {
        return RESULT_UNEXPECTED;
    }
}

} // namespace qam::update
