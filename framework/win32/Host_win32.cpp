#include "framework/win32/Windows.h"

#include <commdlg.h>

#include "framework/FileDialog.h"
#include "framework/MessageWait.h"
#include "framework/SleepGuard.h"

#include <chrono>

namespace fw {

namespace backend {

bool ShowOpenFileDialog(OpenFileName& dialog) {
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog.owner;
    ofn.lpstrFilter = dialog.filter.empty() ? nullptr : dialog.filter.c_str();
    ofn.lpstrFile = dialog.file.data();
    ofn.nMaxFile = static_cast<DWORD>(dialog.file.size());
    ofn.lpstrFileTitle = dialog.fileTitle.data();
    ofn.nMaxFileTitle = static_cast<DWORD>(dialog.fileTitle.size());
    ofn.lpstrInitialDir = dialog.initialDir;
    ofn.lpstrTitle = dialog.title;
    ofn.lpstrDefExt = dialog.defaultExt;
    ofn.Flags = dialog.flags;
    return ::GetOpenFileNameA(&ofn) != FALSE;
}

} // namespace backend

bool DispatchOneWaitingMessage() {
    MSG message;
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    ::DispatchMessageA(&message);
    return true;
}

void WaitForMessageOrNextSecond() {
    // The clock's whole seconds come from the system time; one millisecond past the boundary, so
    // that the wait never ends just before it.
    using namespace std::chrono;
    const auto sinceSecond = duration_cast<milliseconds>(system_clock::now().time_since_epoch()) % seconds(1);
    const auto left = static_cast<DWORD>((milliseconds(1000) - sinceSecond + milliseconds(1)).count());
    // MWMO_INPUTAVAILABLE: a message seen by an earlier peek but left in the queue wakes it too.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void KeepSystemAwake(bool awake) {
    ::SetThreadExecutionState(awake ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
}

} // namespace fw
