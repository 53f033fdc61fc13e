#pragma once

class CWnd;

// The context of one data exchange between a dialog's controls and its members.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, bool saveAndValidate)
        : m_dialog(dialog), m_saveAndValidate(saveAndValidate) {}

    CWnd* m_dialog;
    bool m_saveAndValidate; // true: controls to members; false: members to controls
};
