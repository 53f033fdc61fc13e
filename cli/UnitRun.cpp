#include "cli/UnitRun.h"

#include "cli/ExitStatus.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace qam::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting port asks again when nothing answered at once.
constexpr std::chrono::seconds POLL_PAUSE{1};
// How long after its update a unit that was told to restart may take to answer again; meanwhile
// its silence does not make the port empty.
constexpr std::chrono::seconds RESTART_ALLOWANCE{60};

constexpr const char* NOTE_WAITING = "waiting for a module ...";
constexpr const char* NOTE_ALREADY_DONE =
    "the module answers as the previous unit did after its update: already done, not written";
constexpr const char* NOTE_BACK = "the unit answers again after its restart";
constexpr const char* NOTE_TAKE_AWAY = "done: take the module away";
constexpr const char* NOTE_EMPTY = "the port is empty";

double SecondsSince(Clock::time_point started) {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

} // namespace

CWriters::CWriters(bool json, bool oneLine) {
    if (json) {
        m_json.emplace(m_output);
    } else {
        m_view.emplace(m_output, console::OutputIsTerminal(), console::OutputWidth(), oneLine);
    }
}

Outcome RunUnit(CUnit& unit, const UnitJob& job, const std::optional<ModuleIdentity>& before,
                const std::string& start, Clock::time_point started) {
    Outcome outcome = unit.NotFound();
    if (before) {
        outcome = job.image != nullptr ? unit.Update(*job.image, job.settings) : unit.Defaults(job.reset);
    }

    Event result = MakeEvent(EVENT_RESULT, unit.Label(), outcome.text);
    result.code = outcome.code;
    result.seconds = SecondsSince(started);
    result.exitStatus = outcome.exitStatus;
    result.backupFile = outcome.backup.saved;
    result.backupUsed = outcome.backup.used;
    result.backupPending = outcome.backup.pending;
    unit.Emit(result);

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
        record.seconds = result.seconds;
        std::string problem;
        if (!job.record->Append(record, problem)) {
            // The line is not lost: it goes whole to standard error.
            std::fprintf(stderr, "qamtool: %s: %s; the unit's line:\n%s", job.record->Path().c_str(),
                         problem.c_str(), job.record->Line(record).c_str());
            unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_RECORD_LOST));
            outcome.recordLost = true;
            outcome.exitStatus = std::max(outcome.exitStatus, STATUS_FILE_REFUSED);
        }
    }
    return outcome;
}

namespace {

// Asks the port until its unit answers again after its restart, for RESTART_ALLOWANCE at most.
std::optional<ModuleIdentity> FindAgain(CUnit& unit) {
    const Clock::time_point until = Clock::now() + RESTART_ALLOWANCE;
    while (Clock::now() < until && !console::InputEnded()) {
        if (auto module = unit.Search(true)) {
            unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_BACK));
            return module;
        }
        std::this_thread::sleep_for(POLL_PAUSE);
    }
    return std::nullopt;
}

// Until the port has been without a module (no device, or no answer) for the interval; false when
// standard input ended first. A module that answers meanwhile is the unit still there.
bool WaitUntilEmpty(CUnit& unit, std::chrono::seconds interval,
                    std::optional<ModuleIdentity>& previousAfter) {
    unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_TAKE_AWAY));
    std::optional<Clock::time_point> emptySince;
    while (!console::InputEnded()) {
        const Clock::time_point asked = Clock::now();
        if (auto module = unit.Search(true)) {
            emptySince.reset();
            if (!previousAfter) {
                previousAfter = module;
            }
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
    // What the port's previous unit answered after its update: a module that answers so again is
    // that unit, not a new one.
    std::optional<ModuleIdentity> previousAfter;
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
        if (previousAfter && module->SameModule(*previousAfter)) {
            unit.Emit(MakeEvent(EVENT_NOTE, unit.Label(), NOTE_ALREADY_DONE));
        } else {
            const Outcome end = RunUnit(unit, job, module, start, started);
            worst = std::max(worst, end.exitStatus);
            if (end.recordLost) {
                break; // a unit without its record line: take no more
            }
            previousAfter = end.after;
            // A reset that answered all 16 bytes, or a restart slower than the update's own
            // search, leaves the unit silent for a while: that silence is no empty port.
            if (end.resetSent && !previousAfter) {
                previousAfter = FindAgain(unit);
            }
        }
        if (!WaitUntilEmpty(unit, std::chrono::seconds(intervalSeconds), previousAfter)) {
            break;
        }
    }
    return worst;
}

} // namespace qam::cli
