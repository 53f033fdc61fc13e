#include "framework/win32/Windows.h"

#include "framework/StateFiles.h"

#include <shlobj.h>

#include <array>
#include <memory>

namespace fw {

namespace {

constexpr const char* PROGRAM_FOLDER = "\\qamupdate";
constexpr const char* TEMPORARY_SUFFIX = ".tmp";

struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

} // namespace

std::optional<std::string> StateDirectory() {
    std::array<char, MAX_PATH> folder{};
    if (::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder.data()) !=
        S_OK) {
        return std::nullopt;
    }
    return std::string(folder.data()) + PROGRAM_FOLDER;
}

bool WriteFileWhole(const std::string& path, std::string_view content) {
    const std::string temporary = path + TEMPORARY_SUFFIX;
    bool written = false;
    {
        UniqueHandle file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            file.release();
            return false;
        }
        DWORD done = 0;
        written =
            ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
            done == content.size() && ::FlushFileBuffers(file.get());
    }
    if (!written ||
        !::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace fw
