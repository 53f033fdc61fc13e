#include "framework/win32/Windows.h"

#include "framework/Clock.h"
#include "framework/MessageWait.h"

namespace fw {

void WaitForMessageOrNextSecond(std::int64_t countedSecond) {
    const auto left = static_cast<DWORD>(MillisecondsToNextSecond(countedSecond, SystemClockMilliseconds()));
    // MWMO_INPUTAVAILABLE: a message seen by an earlier peek but left in the queue wakes it too.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

} // namespace fw
