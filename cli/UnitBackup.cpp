#include "cli/ExitStatus.h"
#include "cli/Unit.h"
#include "common/Resource.h"
#include "framework/Clock.h"
#include "module/SettingsBackups.h"
#include "update/ErrorReport.h"

#include <charconv>

namespace qam::cli {

namespace {

constexpr const char* TEXT_READING = "read current settings ...";
constexpr const char* TEXT_RESTORED = "Restore Successful";
constexpr const char* TEXT_NOT_RESTORED = "Restore Failed";
const std::string NOTE_UNDO = "the module's settings before the restore are kept in ";
const std::string NOTE_LOST =
    "the module's settings before the restore could not be saved: nothing was written";

} // namespace

qam::module::SavedSettings CUnit::Saved() const {
    qam::module::SavedSettings saved;
    saved.port = Label();
    saved.time = fw::CurrentTimeSeconds();
    saved.dsp = m_search.dspText;
    saved.pld = m_search.pldText;
    saved.tunerType = m_search.tunerType;
    saved.firmwareVersion = m_proxy.m_firmwareVersion;
    return saved;
}

std::optional<Outcome> CUnit::OtherTuner(const qam::module::SavedSettings& saved) {
    if (saved.tunerType == m_search.tunerType) {
        return std::nullopt;
    }
    m_link.Close();
    Outcome refused;
    refused.code = ERR_FILE_FORMAT;
    refused.text = "the saved settings are of tuner type " + std::to_string(saved.tunerType) +
                   ", the module's is " + std::to_string(m_search.tunerType) + ": nothing was sent";
    refused.exitStatus = STATUS_FILE_REFUSED;
    return refused;
}

Outcome CUnit::Backup(qam::module::SavedSettings& saved) {
    m_host.BeginRun();
    saved = Saved();
    m_host.Dialog().SetDlgItemText(IDC_STATUS_LOWER, TEXT_READING);
    const ResultCode code = qam::module::ReadChannelBackups(m_proxy, saved.channels);
    m_link.Close();
    update::ReportError(m_host.Dialog(), code);
    return OutcomeOf(code, false);
}

Outcome CUnit::Restore(const qam::module::SavedSettings& saved) {
    if (auto refused = OtherTuner(saved)) {
        return *refused;
    }
    m_host.BeginRun();
    const CWnd& dialog = m_host.Dialog();
    qam::module::SavedSettings current = Saved();
    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_READING);
    ResultCode code = qam::module::ReadChannelBackups(m_proxy, current.channels);
    std::optional<std::string> undo;
    if (code == RESULT_OK && !(undo = qam::module::SaveBackup(current))) {
        m_link.Close();
        Outcome refused;
        refused.code = ERR_FILE_OPEN;
        refused.text = NOTE_LOST;
        refused.exitStatus = STATUS_FILE_REFUSED;
        return refused;
    }
    bool cleared = false;
    if (code == RESULT_OK) {
        // The write only sets filter bits: what the module holds goes first.
        dialog.SetDlgItemText(IDC_STATUS_LOWER, update::TEXT_CLEAR_SETTINGS);
        update::ReplyArea reply{};
        code = update::ClearSettings(m_link, reply);
        cleared = code != ERR_COM_WRITE;
    }
    if (code == RESULT_OK) {
        dialog.SetDlgItemText(IDC_STATUS_LOWER, update::TEXT_RESTORE);
        code = qam::module::WriteChannelBackups(m_proxy, saved.channels);
    }
    m_link.Close();
    update::ReportError(dialog, code);
    dialog.SetDlgItemText(IDC_STATUS_LOWER, code == RESULT_OK ? TEXT_RESTORED : TEXT_NOT_RESTORED);
    Outcome outcome = OutcomeOf(code, cleared);
    if (undo) {
        // Undone by restoring it; pending while the module may hold neither the old settings nor the new.
        outcome.backup.pending = code != RESULT_OK && cleared;
        outcome.backup.saved = outcome.backup.pending ? *undo : qam::module::SettleBackup(*undo);
        Emit(MakeEvent(EVENT_NOTE, Label(), NOTE_UNDO + outcome.backup.saved));
    }
    return outcome;
}

} // namespace qam::cli
