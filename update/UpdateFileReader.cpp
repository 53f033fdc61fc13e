#include "update/UpdateFileReader.h"

#include "common/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace qam::update;

namespace qam::update {

std::string_view DescribeProblem(ReadProblem problem) {
    switch (problem) {
    case ReadProblem::None:
        return "no problem";
    case ReadProblem::CannotOpen:
        return "the file cannot be opened for reading";
    case ReadProblem::FrameCut:
        return "the file ends inside a record frame (or before its STOP record)";
    case ReadProblem::PayloadCut:
        return "the file ends inside the record's payload";
    case ReadProblem::ControlWordCut:
        return "the file ends inside the section's control word";
    case ReadProblem::SystemReadError:
        return "the system reported an error while reading the file";
    case ReadProblem::UnknownTag:
        return "unknown record tag";
    case ReadProblem::VersionMismatch:
        return "the version text does not match";
    case ReadProblem::SectionTooLong:
        return "the section's data is longer than 0x40000 bytes";
    case ReadProblem::SectionTooShort:
        return "the section's data is shorter than 4 bytes";
    case ReadProblem::DateLength:
        return "the DATE record's length is not 8";
    case ReadProblem::TextTooLong:
        return "the text record's length is 0x40000 or more";
    case ReadProblem::NoSectionKey:
        return "the section asks to be unscrambled but no DATE record came before it";
    case ReadProblem::SectionNotWritten:
        return "the section could not be written";
    }
    return "unknown problem";
}

} // namespace qam::update

CUpdateFileReader::CUpdateFileReader() : m_sectionBuffer(SECTION_BUFFER_SIZE, 0) {}

ResultCode CUpdateFileReader::Read(CByteSource& source, CUpdateFileSink& sink) {
    ResultCode result = RESULT_OK;
    while (result == RESULT_OK && !m_stopped) {
        result = ReadRecord(source, sink);
    }
    return result;
}

ResultCode CUpdateFileReader::Fail(ResultCode code, ReadProblem problem) {
    m_failure = ReadFailure{code, problem, m_frame};
    return code;
}

ResultCode CUpdateFileReader::ReadExactly(CByteSource& source, std::span<std::uint8_t> destination,
                                          ReadProblem shortProblem) {
    const CByteSource::ReadOutcome outcome = source.Read(destination);
    m_position += outcome.count;
    if (outcome.failed) {
        return Fail(ERR_FILE_READ, ReadProblem::SystemReadError);
    }
    if (outcome.count < destination.size()) {
        return Fail(ERR_FILE_READ, shortProblem);
    }
    return RESULT_OK;
}

ResultCode CUpdateFileReader::ReadRecord(CByteSource& source, CUpdateFileSink& sink) {
    m_frame = RecordFrame{m_position, 0, 0, RecordKind::Unknown};
    std::array<std::uint8_t, FRAME_SIZE> frameBytes{};
    if (const ResultCode result = ReadExactly(source, frameBytes, ReadProblem::FrameCut);
        result != RESULT_OK) {
        return result;
    }
    m_frame.tag = qam::le::Read32(frameBytes, 0);
    m_frame.length = qam::le::Read32(frameBytes, 4);
    m_frame.kind = KindOfTag(m_frame.tag);

    switch (m_frame.kind) {
    case RecordKind::Version:
        return ReadText(source, sink, m_frame, nullptr);
    case RecordKind::Date:
        return ReadDate(source, sink, m_frame);
    case RecordKind::BitFileName:
        return ReadText(source, sink, m_frame, &m_bitFileName);
    case RecordKind::DumpFileName:
        return ReadText(source, sink, m_frame, &m_dumpFileName);
    case RecordKind::FpgaSection:
    case RecordKind::AppDataSection:
    case RecordKind::AppCodeSection:
        return ReadSection(source, sink, m_frame);
    case RecordKind::Stop:
        // Its length is never examined and nothing behind it is read.
        sink.OnRecord(m_frame, {});
        m_stopped = true;
        return RESULT_OK;
    case RecordKind::Unknown:
        break;
    }
    sink.OnRecord(m_frame, {});
    return Fail(ERR_FILE_FORMAT, ReadProblem::UnknownTag);
}

ResultCode CUpdateFileReader::ReadText(CByteSource& source, CUpdateFileSink& sink, const RecordFrame& frame,
                                       std::string* keep) {
    sink.OnRecord(frame, {});
    // The text and the zero behind it must fit the section buffer.
    if (frame.length > MAX_TEXT_LENGTH) {
        return Fail(ERR_FILE_FORMAT, ReadProblem::TextTooLong);
    }
    const std::span<std::uint8_t> payload(m_sectionBuffer.data(), frame.length);
    if (const ResultCode result = ReadExactly(source, payload, ReadProblem::PayloadCut);
        result != RESULT_OK) {
        return result;
    }
    m_sectionBuffer[frame.length] = 0;
    const auto* begin = reinterpret_cast<const char*>(m_sectionBuffer.data());
    const std::string_view text(begin, std::strlen(begin));
    sink.OnText(frame, text);

    if (keep != nullptr) {
        *keep = text;
        return RESULT_OK;
    }
    // A zero or the end of the text within the first 28 characters is a mismatch; what follows is not looked
    // at.
    if (text.size() < VERSION_TEXT.size() || text.substr(0, VERSION_TEXT.size()) != VERSION_TEXT) {
        return Fail(ERR_FILE_FORMAT, ReadProblem::VersionMismatch);
    }
    return RESULT_OK;
}

ResultCode CUpdateFileReader::ReadDate(CByteSource& source, CUpdateFileSink& sink, const RecordFrame& frame) {
    sink.OnRecord(frame, {});
    // The key holds exactly eight bytes.
    if (frame.length != DATE_SIZE) {
        return Fail(ERR_FILE_FORMAT, ReadProblem::DateLength);
    }
    std::array<std::uint8_t, DATE_SIZE> payload{};
    if (const ResultCode result = ReadExactly(source, payload, ReadProblem::PayloadCut);
        result != RESULT_OK) {
        return result;
    }
    m_sectionKey = KeyFromDate(payload);
    m_haveKey = true;
    sink.OnKey(frame, m_sectionKey);
    return RESULT_OK;
}

ResultCode CUpdateFileReader::ReadSection(CByteSource& source, CUpdateFileSink& sink,
                                          const RecordFrame& frame) {
    const SectionFormat& format = FormatOf(frame.kind);
    sink.OnRecord(frame, frame.kind == RecordKind::FpgaSection ? m_bitFileName : m_dumpFileName);

    std::array<std::uint8_t, CONTROL_WORD_SIZE> controlBytes{};
    if (const ResultCode result = ReadExactly(source, controlBytes, ReadProblem::ControlWordCut);
        result != RESULT_OK) {
        return result;
    }
    const std::uint32_t controlWord = qam::le::Read32(controlBytes, 0);
    const bool scrambled = ControlBits(frame.kind, controlWord) != 0;

    if (frame.length > MAX_SECTION_LENGTH) {
        return Fail(ERR_NO_MEMORY, ReadProblem::SectionTooLong);
    }
    if (frame.length < MIN_SECTION_LENGTH) {
        return Fail(ERR_FILE_FORMAT, ReadProblem::SectionTooShort);
    }
    // Without a DATE the key is not defined: refuse rather than guess one.
    if (scrambled && !m_haveKey) {
        return Fail(ERR_FILE_FORMAT, ReadProblem::NoSectionKey);
    }

    const std::span<std::uint8_t> data(m_sectionBuffer.data(), frame.length);
    if (const ResultCode result = ReadExactly(source, data, ReadProblem::PayloadCut); result != RESULT_OK) {
        return result;
    }
    if (scrambled && data.size() > BODY_FROM) {
        UnscrambleBody(data.subspan(BODY_FROM), format.letter, m_sectionKey);
    }

    const SectionRecord section{frame, controlWord, scrambled, data};
    if (const ResultCode result = sink.OnSection(section); result != RESULT_OK) {
        return Fail(result, ReadProblem::SectionNotWritten);
    }
    return RESULT_OK;
}
