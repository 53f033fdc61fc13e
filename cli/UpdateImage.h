#pragma once

#include "common/ResultCode.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qam::cli {

// An update file read once: every unit downloads these bytes, whatever happens to the file on disk.
struct UpdateImage {
    std::string name; // as the command line gave it
    std::vector<std::uint8_t> bytes;
    std::string sha256;
    std::vector<std::int64_t> sectionLengths; // what each section's block send carries, in order
};

// Reads the file and checks it whole as the update does before it touches a module: RESULT_OK,
// or the code that refuses it (its name's type, opening, reading, its records).
ResultCode LoadUpdateImage(const std::string& path, UpdateImage& image);
// Checks an image whose bytes came another way (a station's unit gets them from its parent).
ResultCode CheckUpdateImage(UpdateImage& image);

} // namespace qam::cli
