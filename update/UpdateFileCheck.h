#pragma once

#include "common/ResultCode.h"
#include "update/ByteSource.h"
#include "update/UpdateFileSink.h"
#include "update/UpdateRecords.h"

#include <cstdint>
#include <span>
#include <string>

namespace qam::update {

// Reads a whole update file as the download does, without a module: RESULT_OK only when reading
// ends at STOP. The sink sees every record; failure (when given) receives where and why it ended.
ResultCode CheckUpdateFile(const std::string& path, CUpdateFileSink& sink, ReadFailure* failure = nullptr);
ResultCode CheckUpdateFile(const std::string& path, ReadFailure* failure = nullptr);
// The same over bytes already read (a file's image in memory).
ResultCode CheckUpdateFile(CByteSource& source, CUpdateFileSink& sink, ReadFailure* failure = nullptr);
ResultCode CheckUpdateImage(std::span<const std::uint8_t> image);

} // namespace qam::update
