#pragma once

#include "cli/Json.h"
#include "common/ResultCode.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What one unit's run tells, as one structure: the terminal view and JSON Lines both write it, and
// a station's parent reads its children's lines back into it. cli/README.md lists the fields.
namespace qam::cli {

inline constexpr int EVENT_SCHEMA = 1;

inline constexpr const char* EVENT_STATUS = "status";     // a status text of the window
inline constexpr const char* EVENT_PROGRESS = "progress"; // the progress bar moved to another percent
inline constexpr const char* EVENT_BOX = "box";           // a message box, and the answer taken
inline constexpr const char* EVENT_NOTE = "note";         // qamtool's own word on the run
inline constexpr const char* EVENT_RESULT = "result";     // a unit's end

struct Event {
    std::string type;
    std::string port;
    std::string time; // ISO 8601, UTC
    std::string text;
    std::string caption; // box
    std::string answer;  // box: "Yes", "No" or "OK"
    int percent = 0;     // progress
    std::int64_t done = 0;
    std::int64_t total = 0;
    ResultCode code = RESULT_OK; // result
    double seconds = 0;
    int exitStatus = 0;
    std::string backupFile;     // result: the settings saved before "CPRM"
    bool backupUsed = false;    // ... a backup left pending by an earlier update, used again
    bool backupPending = false; // ... not written back: still pending
};

// The current time as ISO 8601 in UTC, to the millisecond ("2026-05-04T09:30:00.125Z").
std::string NowUtc();

// A result code as the output and the record write it: "0x%08X".
std::string CodeText(ResultCode code);

// Seconds as the output and the record give them: to the millisecond.
double RoundedSeconds(double seconds);
double SecondsSince(std::chrono::steady_clock::time_point started);

Event MakeEvent(const char* type, std::string port, std::string text = {});

// The members every object of the JSON output opens with: schema, time (now), port and type.
Json JsonOpening(const std::string& port, const char* type, const std::string& time = NowUtc());

// One line of JSON Lines, with its line end.
std::string ToJson(const Event& event);
// A line of ToJson read back; nothing for anything else.
std::optional<Event> ParseEvent(std::string_view line);

} // namespace qam::cli
