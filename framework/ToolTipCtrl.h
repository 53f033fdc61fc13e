#pragma once

#include "framework/Wnd.h"

// The tooltip control ("tooltips_class32"). Owns its window: the destructor destroys it.
class CToolTipCtrl : public CWnd {
public:
    CToolTipCtrl() = default;
    ~CToolTipCtrl() override;
    CToolTipCtrl(const CToolTipCtrl&) = delete;
    CToolTipCtrl& operator=(const CToolTipCtrl&) = delete;

    // Creates the control, owned by parent. FALSE when it could not be created.
    BOOL Create(CWnd* parent);
    // A tool over rect (client coordinates of window), known by id (not by the window's handle).
    BOOL AddTool(const CWnd& window, const char* text, const RECT& rect, UINT_PTR id);
    void Activate(BOOL activate) const { SendMessage(TTM_ACTIVATE, static_cast<WPARAM>(activate)); }
    // Lets the control see a message on its way to its window, so that tips show on hover.
    void RelayEvent(MSG* message) const { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message)); }

    void DestroyWindow();
};
