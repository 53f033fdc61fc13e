#include "common/LittleEndian.h"
#include "framework/VersionInfo.h"
#include "framework/WinApp.h"
#include "framework/headless/Desktop.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

namespace {

// The block GetFileVersionInfoA leaves in the caller's buffer: a mark, flags, the text's length,
// the text and its zero byte. Only this backend reads it back.
constexpr std::uint32_t blockMark = 0x31495651; // "QVI1"
constexpr std::size_t headerSize = 12;
constexpr std::string_view fileVersionBlock = "\\StringFileInfo\\040904b0\\FileVersion";

DWORD BlockSize(const headless::VersionResource& version) {
    return static_cast<DWORD>(headerSize + version.fileVersion.size() + 1);
}

} // namespace

namespace fw {

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle) {
    headless::Desktop& desktop = headless::Desktop::Instance();
    desktop.VersionFilesAsked().push_back(fileName);
    if (handle != nullptr) {
        *handle = 0;
    }
    const headless::VersionResource& version = desktop.Version();
    if (!version.present) {
        return 0;
    }
    // The platform reports about twice the resource and a little more.
    return version.reportedSize != 0 ? version.reportedSize : 2 * BlockSize(version) + 4;
}

BOOL GetFileVersionInfoA(const char* fileName, DWORD, DWORD length, void* data) {
    headless::Desktop& desktop = headless::Desktop::Instance();
    desktop.VersionFilesAsked().push_back(fileName);
    const headless::VersionResource& version = desktop.Version();
    if (!version.present || length < headerSize + 1) {
        return FALSE;
    }
    std::span<std::uint8_t> block(static_cast<std::uint8_t*>(data), length);
    const std::size_t textLength = std::min<std::size_t>(version.fileVersion.size(), length - headerSize - 1);
    qam::le::Write32(block, 0, blockMark);
    qam::le::Write32(block, 4, version.hasFileVersion ? 1 : 0);
    qam::le::Write32(block, 8, static_cast<std::uint32_t>(textLength));
    std::memcpy(block.data() + headerSize, version.fileVersion.data(), textLength);
    block[headerSize + textLength] = 0;
    return TRUE;
}

BOOL VerQueryValueA(const void* data, const char* subBlock, void** buffer, UINT* length) {
    // The block's own length was checked when it was written; the header says what follows.
    std::span<const std::uint8_t> header(static_cast<const std::uint8_t*>(data), headerSize);
    if (qam::le::Read32(header, 0) != blockMark || qam::le::Read32(header, 4) == 0 ||
        std::string_view(subBlock) != fileVersionBlock) {
        return FALSE;
    }
    const std::uint32_t textLength = qam::le::Read32(header, 8);
    *buffer = const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(data) + headerSize);
    // As the platform counts a text: its characters and the zero byte; an empty text counts 0.
    *length = textLength == 0 ? 0 : textLength + 1;
    return TRUE;
}

namespace backend {

std::string ProgramBaseName() {
    return headless::Desktop::Instance().ProgramName();
}

void EnableVisualStyles() {
    headless::Desktop::Instance().EnableVisualStyles();
}

} // namespace backend

} // namespace fw
