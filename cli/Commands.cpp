#include "cli/Commands.h"

#include "cli/BackupCommands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/UnitRun.h"
#include "link/PortList.h"
#include "module/ModuleSearch.h"
#include "update/ErrorReport.h"

#include <cstdio>

namespace qam::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Written from the interrupt handler as it is: a text of its own, not an event.
constexpr const char* UPDATE_INTERRUPT_NOTICE =
    "\nqamtool: interrupt: the update goes on to its end, so that the module is not left half-written\n";
constexpr const char* DEFAULTS_INTERRUPT_NOTICE =
    "\nqamtool: interrupt: the factory defaults go on to their end\n";

class CNoEvents final : public CEventSink {
public:
    void Emit(const Event&) override {}
};

std::string ModuleJson(const std::string& port, const ModuleIdentity& module) {
    Json json = JsonOpening(port, "module");
    json.update({{"dsp", Printable(module.dsp)},
                 {"pld", Printable(module.pld)},
                 {"tuner", module.tunerType},
                 {"tuner_name", Printable(qam::module::TunerName(module.tunerType))},
                 {"firmware", module.firmware},
                 {"settings", module.settingsSupported}});
    return JsonLine(json);
}

std::string ModuleText(const std::string& port, const ModuleIdentity& module) {
    const std::string tuner =
        std::to_string(module.tunerType) + " " + Printable(qam::module::TunerName(module.tunerType));
    return "port      " + port + "\nDSP       " + Printable(module.dsp) + "\nPLD       " +
           Printable(module.pld) + "\ntuner     " + tuner + "\nfirmware  " + module.firmware +
           "\nsettings  " + (module.settingsSupported ? "kept across an update" : "not supported") + "\n";
}

std::string PortJson(const qam::link::SerialPort& port) {
    Json json = JsonOpening(port.name, "port");
    json.update({{"com", port.com},
                 {"by_id", JsonText(port.byId)},
                 {"description", Printable(port.description)},
                 {"vendor_id", port.vendorId},
                 {"product_id", port.productId},
                 {"manufacturer", Printable(port.manufacturer)},
                 {"product", Printable(port.product)},
                 {"serial", Printable(port.serialNumber)}});
    return JsonLine(json);
}

std::string PortText(const qam::link::SerialPort& port) {
    std::string text = port.name;
    if (port.com > 0 && port.name.rfind("COM", 0) != 0) {
        text += "  COM" + std::to_string(port.com);
    }
    for (const std::string* part : {&port.byId, &port.description, &port.manufacturer, &port.product}) {
        if (!part->empty()) {
            text += "  ";
            text += Printable(*part);
        }
    }
    if (!port.vendorId.empty()) {
        text += "  " + port.vendorId + ":" + port.productId;
    }
    if (!port.serialNumber.empty()) {
        text += "  serial ";
        text += Printable(port.serialNumber);
    }
    return text + "\n";
}

// update and defaults: one unit on the module the search finds.
int RunOneUnit(const Options& options, const UnitJob& job, const char* interruptNotice) {
    const CPortBinding binding(options.port);
    CWriters writers(options.json, true);
    CUnit unit(writers.Sink(), binding.Choice());
    const std::string start = NowUtc();
    const Clock::time_point started = Clock::now();
    const std::optional<ModuleIdentity> before = binding.Ready() ? unit.Search() : std::nullopt;
    // From here on the module is written: an interrupt no longer ends the program.
    console::CatchInterrupts(interruptNotice);
    return RunUnit(unit, job, before, start, started).exitStatus;
}

} // namespace

int RunPorts(const Options& options) {
    const std::vector<qam::link::SerialPort> ports = qam::link::ListSerialPorts();
    COutput output;
    bool answered = false;
    for (const qam::link::SerialPort& port : ports) {
        output.Write(options.json ? PortJson(port) : PortText(port));
        if (!options.probe || port.com <= 0) {
            continue;
        }
        CNoEvents quiet;
        CUnit unit(quiet, PortChoice{port.com, port.name});
        if (const auto module = unit.Search()) {
            answered = true;
            output.Write(options.json ? ModuleJson(port.name, *module) : ModuleText(port.name, *module));
        } else if (!options.json) {
            output.Write("  no module answers\n");
        }
    }
    return options.probe && !answered ? STATUS_NO_MODULE : STATUS_SUCCESS;
}

int RunIdentify(const Options& options) {
    const CPortBinding binding(options.port);
    CWriters writers(options.json, true);
    CUnit unit(writers.Sink(), binding.Choice());
    const Clock::time_point started = Clock::now();
    const std::optional<ModuleIdentity> module = binding.Ready() ? unit.Search() : std::nullopt;
    const Outcome outcome = unit.NotFound();
    Event result = MakeEvent(EVENT_RESULT, unit.Label(), module ? std::string("found") : outcome.text);
    result.code = module ? RESULT_OK : outcome.code;
    result.exitStatus = module ? STATUS_SUCCESS : outcome.exitStatus;
    result.seconds = SecondsSince(started);
    if (module) {
        writers.Output().Write(options.json ? ModuleJson(unit.Label(), *module)
                                            : ModuleText(unit.Label(), *module));
    }
    unit.Emit(result);
    return result.exitStatus;
}

int RunUpdate(const Options& options) {
    UpdateImage image;
    std::optional<CRecordFile> record;
    if (const int refused = PrepareFiles(options, &image, record); refused != STATUS_SUCCESS) {
        return refused;
    }
    qam::module::SavedSettings settingsFrom;
    if (!options.settingsFrom.empty()) {
        if (const int refused = LoadSavedSettings(options, options.settingsFrom, settingsFrom);
            refused != STATUS_SUCCESS) {
            return refused;
        }
    }
    UnitJob job;
    job.image = &image;
    job.settings = {options.keepSettings, options.continueWithoutBackup, options.useSavedSettings,
                    options.settingsFrom.empty() ? nullptr : &settingsFrom};
    job.record = record ? &*record : nullptr;
    return RunOneUnit(options, job, UPDATE_INTERRUPT_NOTICE);
}

int RunDefaults(const Options& options) {
    std::optional<CRecordFile> record;
    if (const int refused = PrepareFiles(options, nullptr, record); refused != STATUS_SUCCESS) {
        return refused;
    }
    UnitJob job;
    job.reset = options.reset;
    job.record = record ? &*record : nullptr;
    return RunOneUnit(options, job, DEFAULTS_INTERRUPT_NOTICE);
}

int RunStationUnit(const Options& options) {
    // The parent alone answers to the terminal's interrupt.
    console::IgnoreInterrupts();
    UpdateImage image;
    image.name = options.file;
    image.bytes.resize(static_cast<std::size_t>(options.imageSize));
    if (!console::ReadInput(image.bytes) || CheckUpdateImage(image) != RESULT_OK ||
        image.sha256 != options.sha256) {
        std::fprintf(stderr, "qamtool unit: the update image did not come whole from the station\n");
        return STATUS_FILE_REFUSED;
    }
    std::optional<CRecordFile> record;
    if (!options.record.empty()) {
        record.emplace(options.record);
    }
    UnitJob job;
    job.image = &image;
    job.settings.useSaved = options.useSavedSettings;
    job.record = record ? &*record : nullptr;
    job.station = true;

    const CPortBinding binding(options.port);
    PortChoice choice = binding.Choice();
    choice.label = options.label;
    CWriters writers(true, true);
    CUnit unit(writers.Sink(), choice);
    if (options.autoMode) {
        return RunUnitsAsTheyCome(unit, job, options.intervalSeconds);
    }
    const std::string start = NowUtc();
    const Clock::time_point started = Clock::now();
    const std::optional<ModuleIdentity> before = binding.Ready() ? unit.Search() : std::nullopt;
    return RunUnit(unit, job, before, start, started).exitStatus;
}

} // namespace qam::cli
