#pragma once

#include "framework/DataExchange.h"
#include "framework/DialogTemplate.h"
#include "framework/MessageMap.h"
#include "framework/Wnd.h"

// A dialog built from a template and run modally with a message loop of its own, so that
// PreTranslateMessage sees every message first. Messages reach the virtual handlers through
// OnWndMsg: WM_INITDIALOG to OnInitDialog, everything else through the message maps, the
// confirm (IDOK) and cancel (IDCANCEL) commands to OnOK and OnCancel unless a derived map takes them.
class CDialog : public CWnd {
public:
    explicit CDialog(const fw::DialogTemplate& dialogTemplate, CWnd* parent = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCDialog;

    virtual const fw::MessageMap* GetMessageMap() const;
    virtual void DoDataExchange(CDataExchange* exchange);
    // TRUE when the message was handled here and must not be dispatched.
    virtual BOOL PreTranslateMessage(MSG* message);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Runs the dialog until EndDialog; answers EndDialog's result, or -1 when it could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    // Members to controls (FALSE) or controls to members (TRUE) through DoDataExchange.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Called by the backends for every message of the dialog window. TRUE when handled; result
    // is the message's answer then.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    static const fw::MessageMap messageMap;

protected:
    // From a handler: let the platform's default processing run for the current message too.
    void Default() { m_default = true; }

private:
    const fw::DialogTemplate& m_template;
    CWnd* m_parent;
    bool m_ended = false;
    bool m_default = false;
    int m_result = IDCANCEL;
};
