#pragma once

#include "common/ResultCode.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qam::cli {

// A module as a search found it.
struct ModuleIdentity {
    std::string dsp; // identification texts as the window shows them
    std::string pld;
    int tunerType = -1;
    std::string firmware; // the version read from the DSP identification
    bool settingsSupported = false;

    bool SameModule(const ModuleIdentity& other) const {
        return dsp == other.dsp && pld == other.pld && tunerType == other.tunerType;
    }
};

// One unit's line of the record file.
struct UnitRecord {
    std::string start; // ISO 8601, UTC
    std::string port;
    std::optional<ModuleIdentity> before;
    std::optional<ModuleIdentity> after;
    std::string fileName;
    std::int64_t fileSize = 0;
    std::string sha256;
    ResultCode code = RESULT_OK;
    std::string text;
    bool settingsRestored = false;
    double seconds = 0;
    std::string backupFile; // the settings saved before "CPRM"
    bool backupUsed = false;
    bool backupPending = false;
};

// The record of units: CSV (RFC 4180, a header line when the file is new; a file begun with the
// columns of an earlier qamtool keeps them) or, for a name ending in ".jsonl", JSON Lines. Every
// line goes in one write under an exclusive lock of the file and is flushed to disk, so that the
// units of a station, each in its own process, can share one file. A line is either whole in the
// file, or cut back and reported lost.
class CRecordFile {
public:
    explicit CRecordFile(std::string path);

    // Creates the file when missing and checks that lines can be added: false, with the reason,
    // when it cannot be written or begins with another header.
    bool Check(std::string& problem) const;
    // false, with the reason, when the line could not be written whole and flushed (nothing of it
    // stays).
    bool Append(const UnitRecord& record, std::string& problem) const;
    std::string Line(const UnitRecord& record) const;

    const std::string& Path() const { return m_path; }

private:
    // False for a CSV file begun with the header of the columns before the backup ones.
    bool BackupColumns() const;
    std::string Header() const;

    std::string m_path;
    bool m_jsonLines;
};

} // namespace qam::cli
