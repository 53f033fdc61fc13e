#pragma once

#include "framework/WinTypes.h"

#include <span>

// A dialog template described once, as data: the Win32 backend builds an in-memory DLGTEMPLATEEX
// from it, the headless backend its in-memory windows. Positions and sizes are dialog units.
namespace fw {

struct DialogItem {
    int id;
    const char* className; // "Button", "Static", "msctls_progress32", ...
    const char* text;
    short x;
    short y;
    short cx;
    short cy;
    DWORD style; // WS_CHILD is added by the backends
    DWORD exStyle;
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    short x;
    short y;
    short cx;
    short cy;
    DWORD style;
    DWORD exStyle;
    const char* fontName;
    WORD pointSize;
    std::span<const DialogItem> items; // in template order, which is the tab order
};

} // namespace fw
