#include "update/UpdateFileFormat.h"

namespace qam::update {

RecordKind KindOfTag(std::uint32_t tag) {
    switch (tag) {
    case TAG_VERS:
        return RecordKind::Version;
    case TAG_DATE:
        return RecordKind::Date;
    case TAG_BFN:
        return RecordKind::BitFileName;
    case TAG_DFN:
        return RecordKind::DumpFileName;
    case TAG_BDAT:
        return RecordKind::FpgaSection;
    case TAG_DDAT:
        return RecordKind::AppDataSection;
    case TAG_DPRG:
        return RecordKind::AppCodeSection;
    case TAG_STOP:
        return RecordKind::Stop;
    default:
        return RecordKind::Unknown;
    }
}

bool IsSection(RecordKind kind) {
    return kind == RecordKind::FpgaSection || kind == RecordKind::AppDataSection ||
           kind == RecordKind::AppCodeSection;
}

const SectionFormat& FormatOf(RecordKind kind) {
    for (const SectionFormat& format : SECTION_FORMATS) {
        if (format.kind == kind) {
            return format;
        }
    }
    return SECTION_FORMATS[0];
}

std::string TagName(std::uint32_t tag) {
    std::string name(4, '.');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((tag >> (8 * (3 - i))) & 0xFF);
        if (c >= 0x20 && c < 0x7F) {
            name[static_cast<std::size_t>(i)] = c;
        }
    }
    return name;
}

unsigned ControlBits(RecordKind kind, std::uint32_t controlWord) {
    return (controlWord >> FormatOf(kind).shift) & 0xFu;
}

} // namespace qam::update
