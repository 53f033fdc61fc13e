#include "framework/win32/Windows.h"

#include "framework/Clock.h"
#include "framework/MessageWait.h"

namespace {

// The one clock of the reset wait: its whole seconds and its sleeps are both read here, so that
// the sleep never ends before the second it waits for.
std::int64_t NowMilliseconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL; // 100 ns ticks from 1601 to 1970
    return static_cast<std::int64_t>((ticks - kUnixEpochTicks) / 10000);
}

} // namespace

namespace fw {

std::int64_t CurrentTimeSeconds() {
    return NowMilliseconds() / 1000;
}

void WaitForMessageOrNextSecond() {
    const auto left = static_cast<DWORD>(MillisecondsToNextSecond(NowMilliseconds()));
    // MWMO_INPUTAVAILABLE: a message seen by an earlier peek but left in the queue wakes it too.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

} // namespace fw
