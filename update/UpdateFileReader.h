#pragma once

#include "common/ResultCode.h"
#include "update/ByteSource.h"
#include "update/SectionTransform.h"
#include "update/UpdateFileSink.h"
#include "update/UpdateRecords.h"

#include <string>
#include <vector>

// Reads an update file record by record, front to back, until STOP or the first failure; nothing
// is skipped and nothing is tried again. One reader serves one file: its section buffer is
// allocated and cleared once, and its state starts empty.
class CUpdateFileReader {
public:
    CUpdateFileReader();
    CUpdateFileReader(const CUpdateFileReader&) = delete;
    CUpdateFileReader& operator=(const CUpdateFileReader&) = delete;

    // RESULT_OK when STOP was reached; otherwise the code of the first failure (see Failure()).
    ResultCode Read(CByteSource& source, CUpdateFileSink& sink);

    const qam::update::ReadFailure& Failure() const { return m_failure; }

private:
    ResultCode ReadRecord(CByteSource& source, CUpdateFileSink& sink);
    ResultCode ReadText(CByteSource& source, CUpdateFileSink& sink, const qam::update::RecordFrame& frame,
                        std::string* keep);
    ResultCode ReadDate(CByteSource& source, CUpdateFileSink& sink, const qam::update::RecordFrame& frame);
    ResultCode ReadSection(CByteSource& source, CUpdateFileSink& sink, const qam::update::RecordFrame& frame);
    // Reads exactly destination.size() bytes, or fails with ERR_FILE_READ and this problem.
    ResultCode ReadExactly(CByteSource& source, std::span<std::uint8_t> destination,
                           qam::update::ReadProblem shortProblem);
    ResultCode Fail(ResultCode code, qam::update::ReadProblem problem);

    std::vector<std::uint8_t> m_sectionBuffer;
    std::string m_bitFileName;
    std::string m_dumpFileName;
    qam::update::SectionKey m_sectionKey{};
    bool m_haveKey = false;
    bool m_stopped = false;
    std::uint64_t m_position = 0;
    qam::update::RecordFrame m_frame;
    qam::update::ReadFailure m_failure;
};
