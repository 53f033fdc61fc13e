#include "update/UpdateFileCheck.h"

#include "update/MemorySource.h"
#include "update/StdioFile.h"
#include "update/UpdateFileReader.h"

namespace qam::update {

ResultCode CheckUpdateFile(CByteSource& source, CUpdateFileSink& sink, ReadFailure* failure) {
    CUpdateFileReader reader;
    const ResultCode result = reader.Read(source, sink);
    if (failure != nullptr) {
        *failure = reader.Failure();
    }
    return result;
}

ResultCode CheckUpdateFile(const std::string& path, CUpdateFileSink& sink, ReadFailure* failure) {
    CStdioFile file;
    if (!file.Open(path)) {
        if (failure != nullptr) {
            *failure = ReadFailure{ERR_FILE_OPEN, ReadProblem::CannotOpen, {}};
        }
        return ERR_FILE_OPEN;
    }
    return CheckUpdateFile(file, sink, failure);
}

ResultCode CheckUpdateFile(const std::string& path, ReadFailure* failure) {
    CUpdateFileSink passThrough;
    return CheckUpdateFile(path, passThrough, failure);
}

ResultCode CheckUpdateImage(std::span<const std::uint8_t> image) {
    CMemorySource source(image);
    CUpdateFileSink passThrough;
    return CheckUpdateFile(source, passThrough);
}

} // namespace qam::update
