#pragma once

#include "framework/Object.h"
#include "framework/WinTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#if !(defined(_WIN32) && defined(_WINDOWS_))
#define OFN_OVERWRITEPROMPT 0x00000002L
#define OFN_HIDEREADONLY 0x00000004L
#define OFN_FILEMUSTEXIST 0x00001000L
#define OFN_EXPLORER 0x00080000L
#endif

class CWnd;

namespace fw {

// What the platform's open-file dialog is shown with: the parts of its record the program sets.
struct OpenFileName {
    static constexpr std::size_t FILE_BYTES = 260;
    static constexpr std::size_t FILE_TITLE_BYTES = 64;

    HWND owner = nullptr;
    // As the platform takes it: name, zero, pattern, zero, ..., and one more zero at the end.
    std::string filter;
    const char* title = nullptr;
    const char* initialDir = nullptr; // null or empty: the platform chooses
    const char* defaultExt = nullptr;
    DWORD flags = 0;
    std::array<char, FILE_BYTES> file{};            // in: the initial name; out: the chosen full path
    std::array<char, FILE_TITLE_BYTES> fileTitle{}; // out: the chosen name without its directory
};

namespace backend {
// Runs the platform's open-file dialog modally; true when the operator chose a file.
bool ShowOpenFileDialog(OpenFileName& dialog);
} // namespace backend

} // namespace fw

// The common open-file dialog (the program never asks for a save dialog). The filter is written
// with vertical bars for the separators ("Update-Files (.qam)|*.qam||"); the framework adds its
// explorer style to the flags.
class CFileDialog : public CObject {
public:
    CFileDialog(const char* defaultExt, const char* fileName, DWORD flags, const char* filter,
                const CWnd* parent);

    // IDOK when a file was chosen, else IDCANCEL.
    INT_PTR DoModal();
    // The chosen file's full path.
    std::string GetPathName() const;

    fw::OpenFileName m_ofn;
};
