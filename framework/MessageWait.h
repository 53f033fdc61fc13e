#pragma once

#include <cstdint>

namespace fw {

// Takes at most one waiting message of the thread (any window, any message) and dispatches it
// untranslated. True when there was one.
bool DispatchOneWaitingMessage();

// Blocks until a message waits in the thread's queue (one already seen but not yet taken counts
// too) or the clock's second after `countedSecond` is due, whichever comes first. A wait that counts
// whole seconds thus serves the window without burning the processor.
void WaitForMessageOrNextSecond(std::int64_t countedSecond);

} // namespace fw
