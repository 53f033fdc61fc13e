#pragma once

// What each backend (win32/, headless/) provides to the backend-neutral framework code.
namespace fw::backend {

void ShowWaitCursor(bool wait);

} // namespace fw::backend
