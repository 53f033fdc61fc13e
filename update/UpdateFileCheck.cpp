#include "update/UpdateFileCheck.h"

#include "update/StdioFile.h"
#include "update/UpdateFileReader.h"

namespace qam::update {

ResultCode CheckUpdateFile(const std::string& path, CUpdateFileSink& sink, ReadFailure* failure) {
    CUpdateFileReader reader;
    CStdioFile file;
    ResultCode result = RESULT_OK;
    ReadFailure ended;
    if (!file.Open(path)) {
        result = ERR_FILE_OPEN;
        ended = ReadFailure{result, ReadProblem::CannotOpen, {}};
    } else {
        result = reader.Read(file, sink);
        ended = reader.Failure();
    }
    if (failure != nullptr) {
        *failure = ended;
    }
    return result;
}

ResultCode CheckUpdateFile(const std::string& path, ReadFailure* failure) {
    CUpdateFileSink passThrough;
    return CheckUpdateFile(path, passThrough, failure);
}

} // namespace qam::update
