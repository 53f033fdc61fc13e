#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The layout of a ".qam" update file: tagged little-endian records read front to back.
namespace qam::update {

// A tag's value spells its name from the most significant byte down, so the four bytes in the
// file spell it backwards ("VERS" stands as "SREV").
inline constexpr std::uint32_t TAG_VERS = 0x56455253;
inline constexpr std::uint32_t TAG_DATE = 0x44415445;
inline constexpr std::uint32_t TAG_BFN = 0x42464E20;
inline constexpr std::uint32_t TAG_DFN = 0x44464E20;
inline constexpr std::uint32_t TAG_BDAT = 0x42444154;
inline constexpr std::uint32_t TAG_DDAT = 0x44444154;
inline constexpr std::uint32_t TAG_DPRG = 0x44505247;
inline constexpr std::uint32_t TAG_STOP = 0x53544F50;

inline constexpr std::size_t FRAME_SIZE = 8;
inline constexpr std::size_t CONTROL_WORD_SIZE = 4;
inline constexpr std::size_t DATE_SIZE = 8;

// Everything is read into one buffer of this size; texts need a zero behind them.
inline constexpr std::uint32_t SECTION_BUFFER_SIZE = 0x40000;
inline constexpr std::uint32_t MAX_SECTION_LENGTH = SECTION_BUFFER_SIZE;
inline constexpr std::uint32_t MAX_TEXT_LENGTH = SECTION_BUFFER_SIZE - 1;
// Data offsets 0..3 are the unused head word; offsets 4..11 are sent untouched; the body follows.
inline constexpr std::uint32_t MIN_SECTION_LENGTH = 4;
inline constexpr std::uint32_t SENT_FROM = 4;
inline constexpr std::uint32_t BODY_FROM = 12;

inline constexpr std::string_view VERSION_TEXT = "KESTRAN UpdateFile Vers 2.00";

enum class RecordKind {
    Version,
    Date,
    BitFileName,
    DumpFileName,
    FpgaSection,
    AppDataSection,
    AppCodeSection,
    Stop,
    Unknown
};

// What differs between the three kinds of flash section in the file.
struct SectionFormat {
    RecordKind kind;
    std::uint32_t tag;
    std::uint8_t letter; // enters the section transform
    unsigned shift;      // of the control word before its low four bits are tested
    std::string_view tagName;
};

inline constexpr SectionFormat SECTION_FORMATS[] = {
    {RecordKind::FpgaSection, TAG_BDAT, 'B', 0, "BDAT"},
    {RecordKind::AppDataSection, TAG_DDAT, 'D', 8, "DDAT"},
    {RecordKind::AppCodeSection, TAG_DPRG, 'P', 16, "DPRG"},
};

RecordKind KindOfTag(std::uint32_t tag);
bool IsSection(RecordKind kind);
// Only for section kinds.
const SectionFormat& FormatOf(RecordKind kind);
// The four characters of a tag value, most significant byte first; non-printable bytes as '.'.
std::string TagName(std::uint32_t tag);
// The bits of the control word that this kind looks at, shifted down (0..15); non-zero asks for the
// transform.
unsigned ControlBits(RecordKind kind, std::uint32_t controlWord);

} // namespace qam::update
