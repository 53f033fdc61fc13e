#include "update/MemorySource.h"
#include "update/UpdateFileReader.h"

#include <cstdlib>
#include <numeric>

using namespace qam::update;

namespace {

// Checks on every section what the download relies on, and touches every byte it would send.
class CCheckingSink : public CUpdateFileSink {
public:
    void OnRecord(const RecordFrame& frame, std::string_view name) override {
        if (name.size() > MAX_TEXT_LENGTH || frame.offset < m_lastOffset) {
            std::abort();
        }
        m_lastOffset = frame.offset;
    }
    ResultCode OnSection(const SectionRecord& section) override {
        if (section.data.size() != section.frame.length || section.data.size() > MAX_SECTION_LENGTH ||
            section.data.size() < MIN_SECTION_LENGTH || !IsSection(section.frame.kind)) {
            std::abort();
        }
        m_sum = std::accumulate(section.Sent().begin(), section.Sent().end(), m_sum);
        // Let some sections fail as a link would, so that reading ends there.
        return (section.controlWord & 0x80000000u) != 0 ? ERR_COM_WRITE : RESULT_OK;
    }

private:
    std::uint64_t m_lastOffset = 0;
    unsigned m_sum = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // The last byte, when odd, makes the "disk" fail part way through instead of ending.
    const std::size_t failFrom = size > 0 && (data[size - 1] & 1) != 0 ? size / 2 : SIZE_MAX;
    CMemorySource source(bytes, failFrom);
    CCheckingSink sink;
    CUpdateFileReader reader;
    const ResultCode result = reader.Read(source, sink);
    if ((result == RESULT_OK) != (reader.Failure().code == RESULT_OK)) {
        std::abort();
    }
    return 0;
}
