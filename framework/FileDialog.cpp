#include "framework/FileDialog.h"

#include "framework/Wnd.h"

CFileDialog::CFileDialog(const char* defaultExt, const char* fileName, DWORD flags, const char* filter,
                         const CWnd* parent) {
    m_ofn.owner = parent != nullptr ? parent->m_hWnd : nullptr;
    m_ofn.defaultExt = defaultExt;
    m_ofn.flags = flags | OFN_EXPLORER;
    if (fileName != nullptr) {
        const std::size_t length = std::min(std::strlen(fileName), m_ofn.file.size() - 1);
        std::copy_n(fileName, length, m_ofn.file.begin());
    }
    if (filter != nullptr) {
        m_ofn.filter = filter;
        std::replace(m_ofn.filter.begin(), m_ofn.filter.end(), '|', '\0');
    }
}

INT_PTR CFileDialog::DoModal() {
    return fw::backend::ShowOpenFileDialog(m_ofn) ? IDOK : IDCANCEL;
}

std::string CFileDialog::GetPathName() const {
    return std::string(m_ofn.file.data(), ::strnlen(m_ofn.file.data(), m_ofn.file.size()));
}
