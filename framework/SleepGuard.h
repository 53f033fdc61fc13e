#pragma once

namespace fw {

// Asks the platform to keep the computer awake (true) or lets it sleep again (false).
void KeepSystemAwake(bool awake);

} // namespace fw

// Keeps the computer from sleeping for the lifetime of the object: a PC that sleeps in the middle
// of a flash write leaves the module half-written.
class CSleepGuard {
public:
    CSleepGuard() { fw::KeepSystemAwake(true); }
    ~CSleepGuard() { fw::KeepSystemAwake(false); }
    CSleepGuard(const CSleepGuard&) = delete;
    CSleepGuard& operator=(const CSleepGuard&) = delete;
};
