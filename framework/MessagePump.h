#pragma once

namespace fw {

// Removes every message waiting in the thread's queue and dispatches it to its window procedure,
// without keyboard translation or dialog navigation, until the queue is empty.
void PumpWaitingMessages();

} // namespace fw
