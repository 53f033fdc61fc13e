#include "framework/Dialog.h"

const CRuntimeClass CDialog::classCDialog{"CDialog", &CWnd::classCWnd};

const fw::MessageMapEntry* fw::MessageMap::Find(UINT message, WPARAM wParam) const {
    for (const MessageMap* map = this; map != nullptr; map = map->base) {
        for (const MessageMapEntry& entry : map->entries) {
            if (entry.message != message) {
                continue;
            }
            if (message != WM_COMMAND || (LOWORD(wParam) == entry.id && HIWORD(wParam) == entry.code)) {
                return &entry;
            }
        }
    }
    return nullptr;
}

namespace {
constexpr fw::MessageMapEntry dialogEntries[] = {
    fw::OnCommand<&CDialog::OnOK>(IDOK),
    fw::OnCommand<&CDialog::OnCancel>(IDCANCEL),
};
} // namespace

const fw::MessageMap CDialog::messageMap{nullptr, dialogEntries};

CDialog::CDialog(const fw::DialogTemplate& dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_parent(parent) {}

CDialog::~CDialog() = default;

const CRuntimeClass* CDialog::GetRuntimeClass() const {
    return &classCDialog;
}

const fw::MessageMap* CDialog::GetMessageMap() const {
    return &messageMap;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result) {
    m_result = result;
    m_ended = true;
    // Wakes the modal loop should it be waiting for a message when the end comes from elsewhere.
    PostMessage(0);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate != FALSE);
    DoDataExchange(&exchange);
    return TRUE;
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_INITDIALOG) {
        result = OnInitDialog();
        return true;
    }
    const fw::MessageMapEntry* entry = GetMessageMap()->Find(message, wParam);
    if (entry == nullptr) {
        return false;
    }
    m_default = false;
    result = entry->invoke(*this, wParam, lParam);
    const bool handled = !m_default;
    m_default = false;
    return handled;
}
