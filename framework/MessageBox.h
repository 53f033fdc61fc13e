#pragma once

#include "framework/WinTypes.h"

namespace fw {

// A modal message box (MessageBoxA): owner may be null. Returns the button pressed (IDOK, IDYES, ...).
int MessageBox(HWND owner, const char* text, const char* caption, UINT type);

} // namespace fw
