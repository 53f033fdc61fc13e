#pragma once

// The Win32 vocabulary the program speaks, with Windows' own values. On Windows the Win32
// backends include <windows.h> (through framework/win32/Windows.h) before any framework header
// and take everything from there; everywhere else these definitions stand in.

#include <cstdint>

#if !(defined(_WIN32) && defined(_WINDOWS_))

typedef unsigned int UINT;
typedef int BOOL;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
#ifdef _WIN32
typedef unsigned long DWORD;
typedef long LONG;
#else
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
#endif

struct HWND__;
typedef HWND__* HWND;
struct HKEY__;
typedef HKEY__* HKEY;
struct HICON__;
typedef HICON__* HICON;

#define TRUE 1
#define FALSE 0

#define WM_USER 0x0400
#define WM_COMMAND 0x0111
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BN_CLICKED 0

#define MB_OK 0x00000000L
#define MB_YESNO 0x00000004L
#define MB_ICONERROR 0x00000010L
#define MB_ICONINFORMATION 0x00000040L

#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define MAKELPARAM(l, h) ((LPARAM)(DWORD)((std::uint16_t)(l) | ((DWORD)(std::uint16_t)(h) << 16)))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)((std::uint16_t)(l) | ((DWORD)(std::uint16_t)(h) << 16)))

#endif
