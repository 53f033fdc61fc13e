#pragma once

#include "common/ResultCode.h"

#include <cstdint>
#include <span>

class CModuleProxy;

namespace qam::update {

// The firmware download of CModuleProxy::DownloadUpdateFile over a file's image already in memory:
// the same steps, texts and bytes on the wire, whatever happens to the file on disk meanwhile.
ResultCode DownloadUpdateImage(CModuleProxy& proxy, std::span<const std::uint8_t> image);

} // namespace qam::update
