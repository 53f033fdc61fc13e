#pragma once

#include "framework/WinTypes.h"

#include <memory>

class CWnd;

// The device context of one WM_PAINT (BeginPaint/EndPaint), for the lifetime of the object.
class CPaintDC {
public:
    explicit CPaintDC(const CWnd& window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) const;

    struct Paint;

private:
    HWND m_window;
    std::unique_ptr<Paint> m_paint;
    HDC m_hDC = nullptr;
};
