#pragma once

// The one way the Win32 backends take in <windows.h>: included first, before any framework
// header, so that framework/WinTypes.h sees the real definitions and stands back. The generic
// (A/W) macros below would otherwise rename the framework's own members of the same names
// (CWnd::SendMessage becoming SendMessageA in one file and not in another); the backends call
// the ...A functions by their full names instead.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef STRICT
#define STRICT
#endif

#include <windows.h>
// commctrl.h needs the types of windows.h: a block of its own, so that sorting keeps it second.
#include <commctrl.h>

// After <windows.h>, which it needs: kept in a block of its own so that sorting leaves the order.
#include <commctrl.h>

#undef SendMessage
#undef PostMessage
#undef MessageBox
#undef SetWindowText
#undef GetWindowText
#undef GetWindowTextLength
#undef SetDlgItemText
#undef GetDlgItemText
#undef CreateWindow
#undef CreateDialog
#undef DialogBox
#undef DrawText
#undef GetClassName
#undef LoadCursor
#undef LoadIcon
#undef LoadString
#undef GetObject
#undef GetMessage
#undef PeekMessage
#undef DispatchMessage
#undef DefWindowProc
#undef RegisterClass
#undef FindWindow
#undef GetOpenFileName
