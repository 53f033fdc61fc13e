#include "framework/win32/Windows.h"

#include <commdlg.h>

#include "framework/FileDialog.h"
#include "framework/MessageWait.h"
#include "framework/SleepGuard.h"

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

void KeepSystemAwake(bool awake) {
    ::SetThreadExecutionState(awake ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
}

} // namespace fw
