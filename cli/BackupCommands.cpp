#include "cli/BackupCommands.h"

#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/UnitRun.h"
#include "module/SettingsBackups.h"

#include <cstdio>
#include <ctime>

namespace qam::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* RESTORE_INTERRUPT_NOTICE =
    "\nqamtool: interrupt: the restore goes on to its end, so that the module keeps settings\n";
constexpr const char* BACKUP_TYPE = "backup";
constexpr const char* PENDING = "pending";
constexpr const char* SETTLED = "settled";
constexpr const char* SAVED_TO = "settings saved to ";
constexpr const char* NOT_WRITTEN = "the settings could not be written to ";

std::string SavedTime(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    char text[32] = "";
    if (const std::tm* utc = std::gmtime(&time)) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    }
    return text;
}

// backup and restore: the one module found on the port, its operation and the result.
template <typename Operation>
int RunOnModule(const Options& options, const char* interruptNotice, Operation operation) {
    const CPortBinding binding(options.port);
    CWriters writers(options.json, true);
    CUnit unit(writers.Sink(), binding.Choice());
    const Clock::time_point started = Clock::now();
    const bool found = binding.Ready() && unit.Search().has_value();
    if (interruptNotice != nullptr) {
        console::CatchInterrupts(interruptNotice);
    }
    const Outcome outcome = found ? operation(unit) : unit.NotFound();
    Event result = MakeEvent(EVENT_RESULT, unit.Label(), outcome.text);
    result.code = outcome.code;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.exitStatus = outcome.exitStatus;
    result.backupFile = outcome.backup.saved;
    result.backupPending = outcome.backup.pending;
    unit.Emit(result);
    return outcome.exitStatus;
}

} // namespace

int LoadSavedSettings(const Options& options, const std::string& path, qam::module::SavedSettings& settings) {
    const qam::module::SavedSettingsError error = qam::module::ReadSavedSettingsFile(path, settings);
    if (error != qam::module::SavedSettingsError::None) {
        std::fprintf(stderr, "qamtool %s: %s: %s; nothing was sent\n", options.command.c_str(), path.c_str(),
                     qam::module::SavedSettingsErrorText(error));
    }
    return ExitStatusOf(error);
}

int RunBackup(const Options& options) {
    return RunOnModule(options, nullptr, [&](CUnit& unit) {
        qam::module::SavedSettings saved;
        Outcome outcome = unit.Backup(saved);
        if (outcome.code == RESULT_OK) {
            const bool written = qam::module::WriteSavedSettingsFile(options.output, saved);
            outcome.text = (written ? SAVED_TO : NOT_WRITTEN) + options.output;
            outcome.exitStatus = written ? STATUS_SUCCESS : STATUS_FILE_REFUSED;
        }
        return outcome;
    });
}

int RunRestore(const Options& options) {
    qam::module::SavedSettings saved;
    if (const int refused = LoadSavedSettings(options, options.file, saved); refused != STATUS_SUCCESS) {
        return refused;
    }
    return RunOnModule(options, RESTORE_INTERRUPT_NOTICE, [&](CUnit& unit) { return unit.Restore(saved); });
}

int RunBackups(const Options& options) {
    COutput output;
    for (const qam::module::StoredBackup& backup : qam::module::ListBackups()) {
        const qam::module::SavedSettings& saved = backup.settings;
        char firmware[32];
        std::snprintf(firmware, sizeof firmware, "%g", saved.firmwareVersion);
        if (options.json) {
            Json json = JsonOpening(saved.port, BACKUP_TYPE);
            json.update({{"state", backup.pending ? PENDING : SETTLED},
                         {"saved", SavedTime(saved.time)},
                         {"dsp", Printable(saved.dsp)},
                         {"pld", Printable(saved.pld)},
                         {"tuner", saved.tunerType},
                         {"firmware", std::string(firmware)},
                         {"file", JsonText(backup.path)}});
            output.Write(JsonLine(json));
        } else {
            output.Write(std::string(backup.pending ? PENDING : SETTLED) + "  " + Printable(saved.port) +
                         "  " + SavedTime(saved.time) + "  DSP " + Printable(saved.dsp) + "  PLD " +
                         Printable(saved.pld) + "  tuner " + std::to_string(saved.tunerType) + "  firmware " +
                         firmware + "  " + backup.path + "\n");
        }
    }
    return STATUS_SUCCESS;
}

} // namespace qam::cli
