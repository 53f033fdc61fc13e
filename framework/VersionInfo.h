#pragma once

#include "framework/WinTypes.h"

// The version information of a program file, as Win32's version functions give it.
namespace fw {

// The program's FileVersion text in its version block: language US English, code page Unicode.
inline constexpr const char* FILE_VERSION_QUERY = "\\StringFileInfo\\040904b0\\FileVersion";

DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle);
BOOL GetFileVersionInfoA(const char* fileName, DWORD handle, DWORD length, void* data);
// A value of the block read by GetFileVersionInfoA; for a text, length counts its characters.
BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length);

} // namespace fw
