#pragma once

#include "cli/Console.h"
#include "cli/EventView.h"
#include "cli/Options.h"
#include "cli/RecordFile.h"
#include "cli/Unit.h"
#include "cli/UpdateImage.h"

#include <optional>

// What the commands that write to a module share: their writers, and a unit from its search to
// its record line.
namespace qam::cli {

// Standard output and the writer of events the command asks for.
class CWriters {
public:
    // oneLine: the view's one line is this process's one unit.
    CWriters(bool json, bool oneLine);

    CEventSink& Sink() { return m_json ? static_cast<CEventSink&>(*m_json) : *m_view; }
    COutput& Output() { return m_output; }
    CTerminalView* View() { return m_view ? &*m_view : nullptr; }

private:
    COutput m_output; // written out last: declared first
    std::optional<CJsonLines> m_json;
    std::optional<CTerminalView> m_view;
};

// The update file (image: the command takes one) read, checked whole and hashed, and the record
// file checked, before any port is opened: STATUS_SUCCESS, or STATUS_FILE_REFUSED with a message
// on standard error.
int PrepareFiles(const Options& options, UpdateImage* image, std::optional<CRecordFile>& record);

// A unit's note when its record line could not be written: the station then takes no more units.
inline constexpr const char* NOTE_RECORD_LOST =
    "the record line could not be written (it went to standard error): no more units are taken";

// What a unit is to get and what becomes of its end.
struct UnitJob {
    const UpdateImage* image = nullptr; // null: the factory defaults
    SettingsChoice settings;
    bool reset = false;
    const CRecordFile* record = nullptr;
    // A station's unit: the end of its standard input is the station's word to take no more, and
    // a unit that has not written anything yet then stops.
    bool station = false;
};

// One unit on the module just found (or none found): the update or the factory defaults, its
// record line and then its result event, whose exit is the unit's status.
Outcome RunUnit(CUnit& unit, const UnitJob& job, const std::optional<ModuleIdentity>& before,
                const std::string& start, std::chrono::steady_clock::time_point started);

// The production line on one port until standard input ends (qamtool station --auto): the exit
// status of its most severe unit.
int RunUnitsAsTheyCome(CUnit& unit, const UnitJob& job, int intervalSeconds);

} // namespace qam::cli
