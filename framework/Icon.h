#pragma once

#include "framework/WinTypes.h"

namespace fw {

// The program's icon resource with this id (LoadIconA on the program's own module).
HICON LoadAppIcon(UINT id);
// GetSystemMetrics: SM_CXICON, SM_CYICON, ...
int GetSystemMetrics(int index);

} // namespace fw
