#include "framework/win32/Windows.h"

#include "framework/VersionInfo.h"
#include "framework/WinApp.h"

#include <array>
#include <string>

namespace fw {

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle) {
    return ::GetFileVersionInfoSizeA(fileName, handle);
}

BOOL GetFileVersionInfoA(const char* fileName, DWORD handle, DWORD length, void* data) {
    return ::GetFileVersionInfoA(fileName, handle, length, data);
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length) {
    return ::VerQueryValueA(block, subBlock, buffer, length);
}

namespace backend {

std::string ProgramBaseName() {
    std::array<char, MAX_PATH + 1> path{};
    const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    std::string name(path.data(), length < MAX_PATH ? length : MAX_PATH);
    const std::size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

void EnableVisualStyles() {
    // With the common controls 6 manifest this gives the platform's visual styles.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&controls);
}

} // namespace backend

} // namespace fw
