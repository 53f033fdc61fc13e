#pragma once

#include "common/ResultCode.h"
#include "update/SectionTransform.h"
#include "update/UpdateRecords.h"

#include <string_view>

// What the update-file reader tells while it reads, so that one reader serves the download (which
// shows status texts and writes sections), qamfile and the check before an update. Every call has
// a default that does nothing, so a plain CUpdateFileSink just reads the file through.
class CUpdateFileSink {
public:
    virtual ~CUpdateFileSink() = default;

    // A frame has been read and its payload has not. name is the BFN text for an FPGA section, the
    // DFN text for the other two kinds, and empty otherwise.
    virtual void OnRecord(const qam::update::RecordFrame& frame, std::string_view name) {
        static_cast<void>(frame);
        static_cast<void>(name);
    }
    // A version or name record read whole: its text up to the first zero.
    virtual void OnText(const qam::update::RecordFrame& frame, std::string_view text) {
        static_cast<void>(frame);
        static_cast<void>(text);
    }
    // A DATE record read whole: the section key it gives.
    virtual void OnKey(const qam::update::RecordFrame& frame, const qam::update::SectionKey& key) {
        static_cast<void>(frame);
        static_cast<void>(key);
    }
    // A section read whole and unscrambled; a non-zero answer ends reading with that code.
    virtual ResultCode OnSection(const qam::update::SectionRecord& section) {
        static_cast<void>(section);
        return RESULT_OK;
    }
};
