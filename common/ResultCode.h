#pragma once

#include <cstdint>
#include <string_view>

// Status of every module and file operation: 0 is success, the high byte names the layer
// (0x81 module link, 0x82 update file, 0x83 sections and memory).
using ResultCode = std::uint32_t;

inline constexpr ResultCode RESULT_OK = 0;

inline constexpr ResultCode ERR_COM_WRITE = 0x81000001;
inline constexpr ResultCode ERR_NO_RESPONSE = 0x81000002;
inline constexpr ResultCode ERR_BAD_RESPONSE = 0x81000003;
inline constexpr ResultCode ERR_MODULE_REFUSED = 0x81000005;

inline constexpr ResultCode ERR_FILE_OPEN = 0x82000001;
inline constexpr ResultCode ERR_FILE_FORMAT = 0x82000002;
inline constexpr ResultCode ERR_FILE_TOO_BIG = 0x82000003;
inline constexpr ResultCode ERR_FILE_READ = 0x82000004;
inline constexpr ResultCode ERR_FILE_TYPE = 0x82000005;

inline constexpr ResultCode ERR_SECTION_NOT_FOUND = 0x83000001;
inline constexpr ResultCode ERR_NO_MEMORY = 0x83000002;

// The firmware download's answer when its proxy is not wired; reported as an unknown error.
inline constexpr ResultCode RESULT_NOT_WIRED = 1;
// A command that met an exception other than a failed allocation; reported as an unknown error.
inline constexpr ResultCode RESULT_UNEXPECTED = 1;

namespace qam {

// The code's name ("ERR_NO_RESPONSE"), or "" for a value outside the table. For logs and tests.
std::string_view ResultCodeName(ResultCode code);

} // namespace qam
