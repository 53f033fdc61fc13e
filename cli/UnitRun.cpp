#include "cli/UnitRun.h"

#include "cli/ExitStatus.h"
#include "update/ErrorReport.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>

namespace qam::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting port asks again when nothing answered at once.
constexpr std::chrono::seconds POLL_PAUSE{1};
// How long after its update a unit that was told to restart may take to answer again; meanwhile
// its silence does not make the port empty.
constexpr std::chrono::seconds RESTART_ALLOWANCE{60};

constexpr const char* TEXT_ALREADY_DONE = "already done";
constexpr const char* TEXT_NOT_STARTED = "not started";
constexpr const char* NOTE_WAITING = "waiting for a module ...";
constexpr const char* NOTE_ALREADY_DONE =
    "the module answers as the previous unit did after its update: already done, not written";
constexpr const char* NOTE_BACK = "the unit answers again after its restart";
constexpr const char* NOTE_TAKE_AWAY = "done: take the module away";
constexpr const char* NOTE_EMPTY = "the port is empty";

} // namespace

int PrepareFiles(const Options& options, UpdateImage* image, std::optional<CRecordFile>& record) {
    const auto refused = [&](const std::string& file, const std::string& why) {
        std::fprintf(stderr, "qamtool %s: %s: %s\n", options.command.c_str(), file.c_str(), why.c_str());
        return STATUS_FILE_REFUSED;
    };
    if (image != nullptr) {
        if (const ResultCode problem = LoadUpdateImage(options.file, *image); problem != RESULT_OK) {
            return refused(options.file, update::ErrorText(problem));
        }
    }
    if (!options.record.empty()) {
        record.emplace(options.record);
        if (std::string problem; !record->Check(problem)) {
            return refused(options.record, problem);
        }
    }
    return STATUS_SUCCESS;
}

CWriters::CWriters(bool json, bool oneLine) {
    if (json) {
        m_json.emplace(m_output);
    } else {
        m_view.emplace(m_output, console::OutputIsTerminal(), console::OutputWidth(), oneLine);
    }
}

namespace {

// The unit's end: its record line first, then its result event, whose exit is the status the
// process ends with (a record line that could not be written raises it).
Outcome Finish(CUnit& unit, const UnitJob& job, Outcome outcome, const std::optional<ModuleIdentity>& before,
               const std::string& start, Clock::time_point started) {
    const double seconds = SecondsSince(started);
    if (job.record != nullptr) {
        UnitRecord record;
        record.start = start;
        record.port = unit.Label();
        record.before = before;
        record.after = outcome.after;
        if (job.image != nullptr) {
            record.fileName = job.image->name;
            record.fileSize = static_cast<std::int64_t>(job.image->bytes.size());
            record.sha256 = job.image->sha256;
        }
        record.code = outcome.code;
        record.text = outcome.text;
        record.settingsRestored = outcome.restored;
        record.backupFile = outcome.backup.saved;
        record.backupUsed = outcome.backup.used;
        record.backupPending = outcome.backup.pending;
        record.seconds = seconds;
        std::string problem;
        if (!job.record->Append(record, problem)) {
            // The line is not in the file: it goes whole to standard error.
            std::fprintf(stderr, "qamtool: %s: %s; the unit's line:\n%s", job.record->Path().c_str(),
                         problem.c_str(), job.record->Line(record).c_str());
            unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_RECORD_LOST));
            outcome.recordLost = true;
            outcome.exitStatus = std::max(outcome.exitStatus, STATUS_FILE_REFUSED);
        }
    }
    Event result = MakeEvent(EVENT_RESULT, unit.Label(), outcome.text);
    result.code = outcome.code;
    result.seconds = seconds;
    result.exitStatus = outcome.exitStatus;
    result.backupFile = outcome.backup.saved;
    result.backupUsed = outcome.backup.used;
    result.backupPending = outcome.backup.pending;
    unit.Emit(result);
    return outcome;
}

Outcome EndWithoutWriting(ResultCode code, const char* text, int exitStatus) {
    Outcome outcome;
    outcome.code = code;
    outcome.text = text;
    outcome.exitStatus = exitStatus;
    return outcome;
}

} // namespace

Outcome RunUnit(CUnit& unit, const UnitJob& job, const std::optional<ModuleIdentity>& before,
                const std::string& start, Clock::time_point started) {
    Outcome outcome = unit.NotFound();
    if (before && job.image != nullptr) {
        // A station's unit asks last before "CPRM": once its input ended it writes nothing.
        const auto stop = [] { return console::InputEnded() ? RESULT_NOT_STARTED : RESULT_OK; };
        outcome = unit.Update(*job.image, job.settings, job.station ? stop : std::function<ResultCode()>());
        if (outcome.code == RESULT_NOT_STARTED) {
            outcome.text = TEXT_NOT_STARTED;
        }
    } else if (before) {
        outcome = unit.Defaults(job.reset);
    }
    return Finish(unit, job, std::move(outcome), before, start, started);
}

namespace {

// Asks the port until a module answers after the unit's restart, for RESTART_ALLOWANCE at most.
std::optional<ModuleIdentity> FindAgain(CUnit& unit) {
    const Clock::time_point until = Clock::now() + RESTART_ALLOWANCE;
    while (Clock::now() < until && !console::InputEnded()) {
        if (auto module = unit.Search(true)) {
            return module;
        }
        std::this_thread::sleep_for(POLL_PAUSE);
    }
    return std::nullopt;
}

// Until the port has been without a module (no device, or no answer) for the interval; false when
// standard input ended first. A module that answers meanwhile is the unit still there.
bool WaitUntilEmpty(CUnit& unit, std::chrono::seconds interval) {
    unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_TAKE_AWAY));
    std::optional<Clock::time_point> emptySince;
    while (!console::InputEnded()) {
        const Clock::time_point asked = Clock::now();
        if (unit.Search(true)) {
            emptySince.reset();
        } else {
            emptySince = emptySince.value_or(asked);
            if (Clock::now() - *emptySince >= interval) {
                unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_EMPTY));
                return true;
            }
        }
        std::this_thread::sleep_for(POLL_PAUSE);
    }
    return false;
}

} // namespace

int RunUnitsAsTheyCome(CUnit& unit, const UnitJob& job, int intervalSeconds) {
    int worst = STATUS_SUCCESS;
    // The port's previous unit as its update saw it again, when that update succeeded: a module
    // that answers so is that unit, already done. Nothing else makes a module already done.
    std::optional<ModuleIdentity> previousAfter;
    // The module now written was taken for a new unit because it answered as the old firmware did
    // after the previous unit's restart.
    bool takenAfterRestart = false;
    bool told = false;
    while (!console::InputEnded()) {
        if (!told) {
            unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_WAITING));
            told = true;
        }
        const std::string start = NowUtc();
        const Clock::time_point started = Clock::now();
        const std::optional<ModuleIdentity> module = unit.Search(true);
        if (!module) {
            std::this_thread::sleep_for(POLL_PAUSE);
            continue;
        }
        told = false;
        const bool alreadyDone = previousAfter && module->SameModule(*previousAfter);
        if (alreadyDone) {
            unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_ALREADY_DONE));
        }
        const Outcome end =
            alreadyDone ? Finish(unit, job, EndWithoutWriting(RESULT_OK, TEXT_ALREADY_DONE, STATUS_SUCCESS),
                                 module, start, started)
                        : RunUnit(unit, job, module, start, started);
        worst = std::max(worst, end.exitStatus);
        if (end.recordLost) {
            break; // a unit without its record line: take no more
        }
        if (!alreadyDone) {
            const bool succeeded = end.exitStatus == STATUS_SUCCESS;
            previousAfter = succeeded ? end.after : std::nullopt;
            // A reset that answered all 16 bytes, or a restart slower than the update's own
            // search, leaves the unit silent for a while: that silence is no empty port. What
            // answers as the old firmware did is a new unit (once: an update that does not change
            // the identification would take the same unit again and again).
            if (end.resetSent && !end.after) {
                const std::optional<ModuleIdentity> back = FindAgain(unit);
                if (back && back->SameModule(*module) && !takenAfterRestart) {
                    takenAfterRestart = true;
                    continue;
                }
                if (back) {
                    unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_BACK));
                    previousAfter = succeeded ? back : std::nullopt;
                }
            }
        }
        takenAfterRestart = false;
        if (!WaitUntilEmpty(unit, std::chrono::seconds(intervalSeconds))) {
            break;
        }
    }
    return worst;
}

} // namespace qam::cli
