#include "cli/UpdateImage.h"

#include "cli/Sha256.h"
#include "update/MemorySource.h"
#include "update/UpdateFileCheck.h"
#include "update/UpdateSequence.h"

#include <fstream>

namespace qam::cli {

namespace {

// Far above any file the reader accepts (three sections of 256 KiB and a few texts).
constexpr std::streamoff MOST_BYTES = 16 * 1024 * 1024;

class CSectionLengths final : public CUpdateFileSink {
public:
    explicit CSectionLengths(std::vector<std::int64_t>& lengths) : m_lengths(lengths) {}
    ResultCode OnSection(const update::SectionRecord& section) override {
        m_lengths.push_back(static_cast<std::int64_t>(section.Sent().size()));
        return RESULT_OK;
    }

private:
    std::vector<std::int64_t>& m_lengths;
};

} // namespace

ResultCode LoadUpdateImage(const std::string& path, UpdateImage& image) {
    image.name = path;
    if (!update::HasUpdateFileType(path)) {
        return ERR_FILE_TYPE;
    }
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        return ERR_FILE_OPEN;
    }
    const std::streamoff size = file.tellg();
    if (size < 0) {
        return ERR_FILE_READ;
    }
    if (size > MOST_BYTES) {
        return ERR_FILE_TOO_BIG;
    }
    image.bytes.resize(static_cast<std::size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(image.bytes.data()), size)) {
        return ERR_FILE_READ;
    }
    return CheckUpdateImage(image);
}

ResultCode CheckUpdateImage(UpdateImage& image) {
    image.sectionLengths.clear();
    CSectionLengths sink(image.sectionLengths);
    CMemorySource source(image.bytes);
    if (const ResultCode checked = update::CheckUpdateFile(source, sink); checked != RESULT_OK) {
        return checked;
    }
    image.sha256 = Sha256Hex(image.bytes);
    return RESULT_OK;
}

} // namespace qam::cli
