#include "ui/UpdaterApp.h"

#include "framework/Path.h"
#include "framework/VersionInfo.h"
#include "ui/UpdaterDialog.h"
#include "ui/VersionTitle.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr DWORD VERSION_BUFFER_BYTES = 2048;

// The title from the version information of the program's own file, or nothing.
std::optional<std::string> TitleFromOwnVersion(const std::string& exeName) {
    std::array<char, 272> fileName{};
    std::snprintf(fileName.data(), fileName.size(), fw::PROGRAM_FILE_FORMAT, exeName.c_str());
    DWORD handle = 0;
    const DWORD size = fw::GetFileVersionInfoSizeA(fileName.data(), &handle);
    if (size < 1 || size >= VERSION_BUFFER_BYTES) {
        return std::nullopt;
    }
    std::array<char, VERSION_BUFFER_BYTES> block{};
    if (!fw::GetFileVersionInfoA(fileName.data(), handle, VERSION_BUFFER_BYTES, block.data())) {
        return std::nullopt;
    }
    void* text = nullptr;
    UINT length = 0;
    if (!fw::VerQueryValueA(block.data(), fw::FILE_VERSION_QUERY, &text, &length) || text == nullptr ||
        length == 0) {
        return std::nullopt;
    }
    // The value lies inside the block; it is read no further than its length or the block's end.
    const auto* begin = static_cast<const char*>(text);
    const std::size_t room = static_cast<std::size_t>(block.data() + block.size() - begin);
    const std::size_t limit = length < room ? length : room;
    return qam::ui::TitleFromFileVersion(std::string_view(begin, ::strnlen(begin, limit)));
}

} // namespace

const CRuntimeClass CUpdaterApp::classCUpdaterApp{"CUpdaterApp", &CWinApp::classCWinApp};
const fw::MessageMap CUpdaterApp::messageMap{&CWinApp::messageMap, {}};

CUpdaterApp::~CUpdaterApp() = default;

const CRuntimeClass* CUpdaterApp::GetRuntimeClass() const {
    return &classCUpdaterApp;
}

const fw::MessageMap* CUpdaterApp::GetMessageMap() const {
    return &messageMap;
}

BOOL CUpdaterApp::InitInstance() {
    Enable3dControls();

    auto dialog = std::make_unique<CUpdaterDialog>();
    m_mainWnd = dialog.get();

    dialog->m_title = qam::ui::FallbackTitle();
    if (auto title = TitleFromOwnVersion(m_exeName)) {
        dialog->m_title = *title;
    }

    dialog->DoModal();

    m_mainWnd = nullptr;
    dialog.reset();
    // The window was the program: nothing is left to run.
    return FALSE;
}
