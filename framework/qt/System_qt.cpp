#include "framework/VersionInfo.h"
#include "framework/WinApp.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace fw {

namespace {

// The program's version resource: its FileVersion text, as VERSIONINFO holds it on Windows, written
// into the program's Qt resources by the build from the one version number.
constexpr const char* FILE_VERSION_RESOURCE = ":/version/FileVersion";

// The version block of fileName: only the program's own file has one, and the block is its
// FileVersion text with a terminating zero.
QByteArray VersionBlock(const char* fileName) {
    if (fileName == nullptr || backend::ProgramBaseName() != fileName) {
        return {};
    }
    QFile resource(QString::fromLatin1(FILE_VERSION_RESOURCE));
    if (!resource.open(QIODevice::ReadOnly)) {
        return {};
    }
    return resource.readAll().trimmed() + '\0';
}

} // namespace

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    return static_cast<DWORD>(VersionBlock(fileName).size());
}

BOOL GetFileVersionInfoA(const char* fileName, DWORD, DWORD length, void* data) {
    const QByteArray block = VersionBlock(fileName);
    if (block.isEmpty() || data == nullptr || length < static_cast<DWORD>(block.size())) {
        return FALSE;
    }
    std::memcpy(data, block.constData(), static_cast<std::size_t>(block.size()));
    return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length) {
    if (block == nullptr || subBlock == nullptr || std::strcmp(subBlock, FILE_VERSION_QUERY) != 0) {
        return FALSE;
    }
    *buffer = const_cast<void*>(block);
    *length = static_cast<UINT>(std::strlen(static_cast<const char*>(block)));
    return TRUE;
}

namespace backend {

std::string ProgramBaseName() {
    // A Linux program's file has no extension to take off: its name is its base name.
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
}

void EnableVisualStyles() {
    // Qt draws its widgets in the desktop's own style already.
}

} // namespace backend

} // namespace fw
