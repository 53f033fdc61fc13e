#include "cli/Unit.h"

#include "cli/ExitStatus.h"
#include "framework/RegKey.h"
#include "link/PortList.h"
#include "module/SearchSettings.h"
#include "update/ErrorReport.h"
#include "update/FactoryDefaults.h"
#include "update/UpdateSequence.h"

#include <charconv>
#include <cstdio>

namespace qam::cli {

namespace {

constexpr const char* COM_LABEL = "COM%d";
constexpr const char* COM_IN_TEXTS = "COM %d"; // as the search's status texts name a port

const std::string NOTE_SAVED_USED = "the settings saved before a failed update on this port are used: ";
const std::string NOTE_SAVED_NOT_USED =
    "settings saved before a failed update on this port are not used (--use-saved-settings would): ";
constexpr const char* NOTE_NOT_SAVED =
    "the settings read could not be saved to the backups folder; the update went on";
const std::string NOTE_PENDING = "the settings were not written back; they are kept in ";

std::string ComLabel(int com, const char* format = COM_LABEL) {
    char label[32];
    std::snprintf(label, sizeof label, format, com);
    return label;
}

std::string VersionText(double version) {
    char text[32];
    const auto [end, problem] = std::to_chars(text, text + sizeof text, version);
    return problem == std::errc() ? std::string(text, end) : std::string();
}

} // namespace

CUnit::CUnit(CEventSink& sink, PortChoice port) : m_port(std::move(port)), m_host(sink) {
    m_host.SetPort(m_port.label);
    if (m_port.linked) {
        m_host.ShowComAs(ComLabel(*m_port.com, COM_IN_TEXTS), m_port.label);
    }
    m_proxy.m_comDevice = &m_link;
    m_proxy.m_progressBar = &m_host.ProgressBar();
    m_proxy.m_statusLine = &m_host.StatusLine();
}

bool CUnit::SearchPort(int com) {
    // With a port count of 1 the scan visits the preferred port less one (its one subtraction):
    // so it visits this port and no other, the update's reconnection too.
    m_search.portCount = 1;
    m_search.preferredPort = com + 1;
    m_searchedAlone = com;
    return qam::module::SearchModule(m_link, m_proxy, m_search, m_host.Dialog()) != 0;
}

std::optional<ModuleIdentity> CUnit::Search(bool quiet) {
    m_host.SetQuiet(quiet);
    bool found = false;
    m_searchedAlone.reset();
    if (m_port.com) {
        found = SearchPort(*m_port.com);
    } else {
        CRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, qam::module::SETTINGS_KEY, KEY_READ) == ERROR_SUCCESS) {
            qam::module::ReadSearchSettings(key, m_search);
            found = qam::module::SearchModule(m_link, m_proxy, m_search, m_host.Dialog()) != 0;
        } else {
            for (const qam::link::SerialPort& port : qam::link::ListSerialPorts()) {
                if (port.com > 0 && (found = SearchPort(port.com))) {
                    break;
                }
            }
        }
        if (found) {
            m_host.SetPort(ComLabel(m_search.foundPort));
        }
    }
    m_host.SetQuiet(false);
    return found ? std::optional(Identity()) : std::nullopt;
}

ModuleIdentity CUnit::Identity() const {
    return ModuleIdentity{m_search.dspText, m_search.pldText, m_search.tunerType,
                          VersionText(m_proxy.m_firmwareVersion), m_search.settingsSupported != 0};
}

Outcome CUnit::OutcomeOf(ResultCode code, bool written) const {
    Outcome outcome;
    outcome.code = code;
    // A command's report is its last box; success shows in its final status.
    outcome.text = code == RESULT_OK ? m_host.LastLowerText() : m_host.LastBoxText();
    outcome.exitStatus = ExitStatusOf(code, written);
    return outcome;
}

Outcome CUnit::Update(const UpdateImage& image, const SettingsChoice& settings,
                      std::function<ResultCode()> beforeClear) {
    if (settings.from != nullptr) {
        if (auto refused = OtherTuner(*settings.from)) {
            return *refused;
        }
    }
    if (m_searchedAlone) {
        m_search.preferredPort = *m_searchedAlone + 1; // the reconnection visits this port alone too
    }
    m_host.BeginRun();
    m_host.SetYesAnswer(settings.continueWithoutBackup);
    m_host.SetSavedSettingsAnswer(settings.useSaved);
    m_host.SetSectionLengths(image.sectionLengths);
    update::BackupReport backup;
    const std::string port = Label();
    // Set again only by the reconnection's search, which tells the module's identity after the update.
    m_search.foundPort = -1;
    const ResultCode code = update::RunUpdate(
        update::UpdateContext{m_link, m_proxy, m_search, m_host.Dialog(), image.name, settings.keep ? 1 : 0,
                              std::span(image.bytes), port, settings.from, &backup, std::move(beforeClear)});
    Outcome outcome = OutcomeOf(code, m_host.ReachedClear());
    outcome.restored = code == RESULT_OK && m_host.ReachedRestore();
    outcome.resetSent = m_host.ReachedReset();
    if (m_search.foundPort >= 0) {
        outcome.after = Identity();
    }
    if (!backup.offered.empty()) {
        Emit(MakeEvent(EVENT_NOTE, Label(),
                       (backup.used ? NOTE_SAVED_USED : NOTE_SAVED_NOT_USED) + backup.offered));
    }
    if (backup.saveFailed) {
        Emit(MakeEvent(EVENT_NOTE, Label(), NOTE_NOT_SAVED));
    }
    if (backup.pending) {
        Emit(MakeEvent(EVENT_NOTE, Label(), NOTE_PENDING + backup.saved));
    }
    // The report's line that names the backup: the result has a field of its own for it.
    outcome.text = outcome.text.substr(0, outcome.text.find('\n'));
    outcome.backup = backup;
    return outcome;
}

Outcome CUnit::Defaults(bool reset) {
    m_host.BeginRun();
    m_host.SetYesAnswer(reset);
    update::ResetReply lastResetReply{};
    const ResultCode code = update::ResetToDefaults(m_link, m_host.Dialog(), lastResetReply);
    m_link.Close();
    // "CPRM" is its first command: any failure may have left the settings erased.
    return OutcomeOf(code, true);
}

Outcome CUnit::NotFound() const {
    Outcome outcome;
    outcome.code = ERR_NO_RESPONSE;
    outcome.text = m_host.LastUpperText();
    outcome.exitStatus = STATUS_NO_MODULE;
    return outcome;
}

} // namespace qam::cli
