#include "update/UpdateFileWriter.h"

#include "common/LittleEndian.h"
#include "update/DateMask.h"

namespace qam::update {

namespace {

void AppendWord(Bytes& out, std::uint32_t value) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    le::Write32(out, at, value);
}

std::uint32_t LengthOf(const UpdateFileParts& parts, std::uint32_t tag, std::size_t trueLength) {
    const auto found = parts.length.find(tag);
    return found != parts.length.end() ? found->second : static_cast<std::uint32_t>(trueLength);
}

void AppendRecordAs(Bytes& out, const UpdateFileParts& parts, std::uint32_t tag,
                    std::span<const std::uint8_t> payload) {
    if (parts.omit.count(tag) != 0) {
        return;
    }
    AppendFrame(out, tag, LengthOf(parts, tag, payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes TextPayload(const std::string& text) {
    Bytes payload(text.begin(), text.end());
    payload.push_back(0);
    return payload;
}

void AppendSectionAs(Bytes& out, const UpdateFileParts& parts, RecordKind kind, const SectionInput& input,
                     const SectionKey& key) {
    const std::uint32_t tag = FormatOf(kind).tag;
    if (parts.omit.count(tag) != 0) {
        return;
    }
    const std::uint32_t control = input.control.value_or(input.scramble ? ScrambleControlWord(kind) : 0);
    const std::size_t at = out.size();
    AppendSection(out, kind, control, input.data, key);
    le::Write32(out, at + 4, LengthOf(parts, tag, input.data.size()));
}

} // namespace

std::uint32_t ScrambleControlWord(RecordKind kind) {
    return 1u << FormatOf(kind).shift;
}

void AppendFrame(Bytes& out, std::uint32_t tag, std::uint32_t length) {
    AppendWord(out, tag);
    AppendWord(out, length);
}

void AppendRecord(Bytes& out, std::uint32_t tag, std::span<const std::uint8_t> payload) {
    AppendFrame(out, tag, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

void AppendSection(Bytes& out, RecordKind kind, std::uint32_t controlWord, std::span<const std::uint8_t> data,
                   const SectionKey& key) {
    const SectionFormat& format = FormatOf(kind);
    AppendFrame(out, format.tag, static_cast<std::uint32_t>(data.size()));
    AppendWord(out, controlWord);
    const std::size_t at = out.size();
    out.insert(out.end(), data.begin(), data.end());
    if (ControlBits(kind, controlWord) != 0 && data.size() > BODY_FROM) {
        ScrambleBody(std::span<std::uint8_t>(out).subspan(at + BODY_FROM), format.letter, key);
    }
}

std::array<std::uint8_t, DATE_SIZE> MaskDate(const std::array<std::uint8_t, DATE_SIZE>& date) {
    std::array<std::uint8_t, DATE_SIZE> masked{};
    for (std::size_t i = 0; i < masked.size(); ++i) {
        masked[i] = static_cast<std::uint8_t>(date[i] ^ DATE_MASK[i]);
    }
    return masked;
}

Bytes BuildUpdateFile(const UpdateFileParts& parts) {
    Bytes out;
    // The key a reader derives from the stored DATE is the creation date itself.
    const SectionKey key = parts.date;

    AppendRecordAs(out, parts, TAG_VERS, TextPayload(parts.versionText));
    AppendRecordAs(out, parts, TAG_DATE, MaskDate(parts.date));
    if (parts.bitFileName) {
        AppendRecordAs(out, parts, TAG_BFN, TextPayload(*parts.bitFileName));
    }
    if (parts.fpga) {
        AppendSectionAs(out, parts, RecordKind::FpgaSection, *parts.fpga, key);
    }
    if (parts.dumpFileName) {
        AppendRecordAs(out, parts, TAG_DFN, TextPayload(*parts.dumpFileName));
    }
    if (parts.appCode) {
        AppendSectionAs(out, parts, RecordKind::AppCodeSection, *parts.appCode, key);
    }
    if (parts.appData) {
        AppendSectionAs(out, parts, RecordKind::AppDataSection, *parts.appData, key);
    }
    if (parts.omit.count(TAG_STOP) == 0) {
        AppendFrame(out, TAG_STOP, LengthOf(parts, TAG_STOP, 0));
    }
    out.insert(out.end(), parts.trailer.begin(), parts.trailer.end());
    return out;
}

} // namespace qam::update
