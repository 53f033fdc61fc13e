#pragma once

namespace fw {

// The application's wait cursor is a count: it shows while the count is above zero, so that an
// operation inside another (the search inside an update) does not take the outer one's away.
void BeginWaitCursor();
// Shows the wait cursor again after something (a message box, a dispatched message) replaced it.
void RestoreWaitCursor();
void EndWaitCursor();
int WaitCursorCount();

} // namespace fw

// Shows the wait cursor for the lifetime of the object.
class CWaitCursor {
public:
    CWaitCursor() { fw::BeginWaitCursor(); }
    ~CWaitCursor() { fw::EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

    void Restore() { fw::RestoreWaitCursor(); }
};
