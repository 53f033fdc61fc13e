#pragma once

#include "cli/Console.h"
#include "cli/EventView.h"
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

// A unit's note when its record line could not be written: the station then takes no more units.
inline constexpr const char* NOTE_RECORD_LOST =
    "the record line could not be written (it went to standard error): no more units are taken";

// What a unit is to get and what becomes of its end.
struct UnitJob {
    const UpdateImage* image = nullptr; // null: the factory defaults
    SettingsChoice settings;
    bool reset = false;
    const CRecordFile* record = nullptr;
};

// One unit on the module just found (or none found): the update or the factory defaults, its
// result event and its record line.
Outcome RunUnit(CUnit& unit, const UnitJob& job, const std::optional<ModuleIdentity>& before,
                const std::string& start, std::chrono::steady_clock::time_point started);

// The production line on one port until standard input ends (qamtool station --auto): the exit
// status of its most severe unit.
int RunUnitsAsTheyCome(CUnit& unit, const UnitJob& job, int intervalSeconds);

} // namespace qam::cli
