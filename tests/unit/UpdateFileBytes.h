#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Update files written byte by byte for the reader's tests, independent of the writer under test:
// tags are given as the four bytes that stand in the file ("SREV" for VERS).
namespace qam::test {

using FileBytes = std::vector<std::uint8_t>;

inline constexpr std::string_view FILE_VERS = "SREV";
inline constexpr std::string_view FILE_DATE = "ETAD";
inline constexpr std::string_view FILE_BFN = " NFB";
inline constexpr std::string_view FILE_DFN = " NFD";
inline constexpr std::string_view FILE_BDAT = "TADB";
inline constexpr std::string_view FILE_DDAT = "TADD";
inline constexpr std::string_view FILE_DPRG = "GRPD";
inline constexpr std::string_view FILE_STOP = "POTS";

inline void PutWord(FileBytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline void PutFrame(FileBytes& out, std::string_view fileTag, std::uint32_t length) {
    out.insert(out.end(), fileTag.begin(), fileTag.end());
    PutWord(out, length);
}

inline void PutRecord(FileBytes& out, std::string_view fileTag, const FileBytes& payload) {
    PutFrame(out, fileTag, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

inline void PutText(FileBytes& out, std::string_view fileTag, std::string_view text) {
    PutRecord(out, fileTag, FileBytes(text.begin(), text.end()));
}

inline void PutSection(FileBytes& out, std::string_view fileTag, std::uint32_t control,
                       const FileBytes& stored) {
    PutFrame(out, fileTag, static_cast<std::uint32_t>(stored.size()));
    PutWord(out, control);
    out.insert(out.end(), stored.begin(), stored.end());
}

inline void PutStop(FileBytes& out) {
    PutFrame(out, FILE_STOP, 0);
}

// count bytes that run 0, 1, 2, ... from start.
inline FileBytes Ramp(std::size_t count, std::uint8_t start = 0) {
    FileBytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(start + i);
    }
    return bytes;
}

} // namespace qam::test
