#include "framework/WaitCursor.h"

#include "framework/Backend.h"

namespace fw {

namespace {
int waitCursorCount = 0;
}

void BeginWaitCursor() {
    ++waitCursorCount;
    backend::ShowWaitCursor(true);
}

void RestoreWaitCursor() {
    backend::ShowWaitCursor(waitCursorCount > 0);
}

void EndWaitCursor() {
    if (waitCursorCount > 0) {
        --waitCursorCount;
    }
    backend::ShowWaitCursor(waitCursorCount > 0);
}

int WaitCursorCount() {
    return waitCursorCount;
}

} // namespace fw
