#pragma once

#include "common/ResultCode.h"
#include "update/UpdateFileFormat.h"

#include <cstdint>
#include <span>
#include <string_view>

// What the update-file reader hands to its sink and what it reports when reading ends early.
namespace qam::update {

struct RecordFrame {
    std::uint64_t offset = 0; // of the frame's first byte in the file
    std::uint32_t tag = 0;
    std::uint32_t length = 0; // L as it stands in the frame
    RecordKind kind = RecordKind::Unknown;
};

// A section read whole, its body unscrambled where the control word asked.
struct SectionRecord {
    RecordFrame frame;
    std::uint32_t controlWord = 0;      // as stored
    bool scrambled = false;             // the kind's four control bits are non-zero
    std::span<const std::uint8_t> data; // all L bytes behind the control word

    // What reaches the module: data offsets 4 to L - 1.
    std::span<const std::uint8_t> Sent() const { return data.subspan(SENT_FROM); }
};

enum class ReadProblem {
    None,
    CannotOpen,
    FrameCut,        // fewer than 8 bytes for a frame (the end of the file included)
    PayloadCut,      // fewer than L payload bytes
    ControlWordCut,  // fewer than 4 control-word bytes
    SystemReadError, // the operating system refused a read
    UnknownTag,
    VersionMismatch,
    SectionTooLong,    // L above 0x40000
    SectionTooShort,   // L below 4
    DateLength,        // DATE with L other than 8
    TextTooLong,       // version or name text with L of 0x40000 or more
    NoSectionKey,      // a scrambled section before any DATE
    SectionNotWritten, // the sink (the download) failed on the section
};

std::string_view DescribeProblem(ReadProblem problem);

struct ReadFailure {
    ResultCode code = RESULT_OK;
    ReadProblem problem = ReadProblem::None;
    // The record being read when reading ended; for FrameCut only its offset is known.
    RecordFrame frame;
};

} // namespace qam::update
