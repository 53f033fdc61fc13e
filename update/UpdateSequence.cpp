#include "update/UpdateSequence.h"

#include "common/Resource.h"
#include "framework/Clock.h"
#include "framework/MessageWait.h"
#include "framework/SleepGuard.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"
#include "link/ComDevice.h"
#include "module/ChannelBackup.h"
#include "module/ModuleProxy.h"
#include "module/ModuleSearch.h"
#include "module/SettingsBackups.h"
#include "update/DownloadUpdateImage.h"
#include "update/ErrorReport.h"
#include "update/UpdateFileCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

namespace qam::update {

namespace {

constexpr const char* TEXT_CHECKING_FILE = "checking update file ...";
constexpr const char* TEXT_READ_SETTINGS = "read current settings ...";
constexpr const char* TEXT_RECONNECT = "reconnect ...";
constexpr const char* TEXT_UPDATE_SUCCESSFUL = "Update Successful";
constexpr const char* TEXT_UPDATE_FAILED = "Update Failed";

constexpr const char* READ_FAILED_TEXT = "Do You Want To Continue ?";
constexpr const char* READ_FAILED_CAPTION = "Can NOT Read Settings";
constexpr const char* TUNER_CHANGED_TEXT =
    "New Firmware Supports Other Tuner Type !\n Previous Settings will NOT Be Restored, Using Defaults.";
constexpr const char* TUNER_CHANGED_CAPTION = "Can NOT Restore Settings";

// The error box's line after a failure that left the settings unwritten.
constexpr const char* SAVED_SETTINGS_DETAIL = "Saved Settings: ";
constexpr const char* BOX_TIME = "%Y-%m-%d %H:%M";
constexpr const char* COM_NAME = "COM%d";

constexpr const char* FILE_TYPE = ".qam";
constexpr std::size_t FILE_TYPE_LENGTH = 4;

constexpr char CPRM[] = "CPRM";
constexpr char RST0[] = "RST0";
constexpr int COMMAND_LENGTH = 4;
constexpr int CPRM_REPLY_LENGTH = 4;
constexpr char RESET_MARK[] = "NUV";
constexpr std::size_t RESET_MARK_LENGTH = 3;

constexpr int READ_CONSTANT_CLEAR_SETTINGS = 10000;
constexpr int READ_CONSTANT_NORMAL = 5000;

// The module restarts within this many whole seconds of the clock.
constexpr std::int64_t RESTART_SECONDS = 9;

// The run's backup on disk and what decides its end: it is settled once written back, or when the
// tuner changed, or when "CPRM" never went out (unless it came from an earlier run, whose
// settings the module lost then); otherwise it stays pending.
struct SavedRun {
    std::string path;
    bool carried = false;
    bool settle = false;
};

std::string PortName(const UpdateContext& context) {
    if (!context.portName.empty()) {
        return context.portName;
    }
    char name[32];
    std::snprintf(name, sizeof name, COM_NAME, context.search.foundPort);
    return name;
}

// The "Saved Settings" question about a pending backup: true for Yes.
bool UseSavedBackup(const CWnd& dialog, const qam::module::StoredBackup& pending) {
    const auto time = static_cast<std::time_t>(pending.settings.time);
    char when[32] = "";
    if (const std::tm* local = std::localtime(&time)) {
        std::strftime(when, sizeof when, BOX_TIME, local);
    }
    std::vector<char> text(std::strlen(SAVED_SETTINGS_TEXT) + std::strlen(when) +
                           pending.settings.dsp.size() + 1);
    std::snprintf(text.data(), text.size(), SAVED_SETTINGS_TEXT, when, pending.settings.dsp.c_str());
    return dialog.MessageBox(text.data(), SAVED_SETTINGS_CAPTION, MB_YESNO) == IDYES;
}

// The whole seconds of the clock, counted from the reset reply until they differ by nine. Between
// passes the thread sleeps until a message comes or the next second is due.
void WaitForRestart() {
    const std::int64_t start = fw::CurrentTimeSeconds();
    for (;;) {
        const std::int64_t now = fw::CurrentTimeSeconds();
        const std::int64_t difference = now - start;
        fw::DispatchOneWaitingMessage();
        fw::RestoreWaitCursor();
        if (difference >= RESTART_SECONDS) {
            return;
        }
        fw::WaitForMessageOrNextSecond(now);
    }
}

// The steps after the file-type test; the result of the run. `stopped`: ended by the context's
// beforeClear, whose caller reports it.
ResultCode RunSteps(const UpdateContext& context, ReplyArea& reply, SavedRun& saved, bool& stopped) {
    CComDevice& link = context.link;
    CModuleProxy& proxy = context.proxy;
    SearchState& search = context.search;
    const CWnd& dialog = context.dialog;

    // The whole file is read before the module is touched: a file the download would stop in
    // would otherwise leave the module with its settings cleared and a flash area half-written.
    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_CHECKING_FILE);
    const ResultCode checked =
        context.image ? CheckUpdateImage(*context.image) : CheckUpdateFile(context.updateFilePath);
    if (checked != RESULT_OK) {
        return checked;
    }

    bool backupInHand = false;
    std::array<ChannelBackup, 2> backups;
    BackupReport* report = context.backupReport;
    if (context.keepSettings != 0 && search.settingsSupported != 0) {
        std::optional<qam::module::StoredBackup> pending;
        if (context.settingsFrom == nullptr) {
            pending = qam::module::FindPendingBackup(PortName(context));
        }
        if (pending && report != nullptr) {
            report->offered = pending->path;
        }
        if (context.settingsFrom != nullptr) {
            backups = context.settingsFrom->channels;
            backupInHand = true;
        } else if (pending && UseSavedBackup(dialog, *pending)) {
            // The module lost these settings in the earlier run: what it holds now is not read.
            backups = pending->settings.channels;
            backupInHand = true;
            saved = SavedRun{pending->path, true, false};
        } else {
            dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_READ_SETTINGS);
            backupInHand = true;
            if (const ResultCode read = qam::module::ReadChannelBackups(proxy, backups); read != RESULT_OK) {
                backupInHand = false;
                if (dialog.MessageBox(READ_FAILED_TEXT, READ_FAILED_CAPTION, MB_YESNO) != IDYES) {
                    return read;
                }
            }
        }
        fw::RestoreWaitCursor();
    }
    if (report != nullptr) {
        report->used = saved.carried;
    }

    if (context.beforeClear) {
        if (const ResultCode stop = context.beforeClear(); stop != RESULT_OK) {
            stopped = true;
            return stop;
        }
    }

    const TunerType oldTunerType = search.tunerType;

    if (backupInHand && !saved.carried) {
        const qam::module::SavedSettings settings{
            PortName(context), fw::CurrentTimeSeconds(), search.dspText, search.pldText,
            oldTunerType,      proxy.m_firmwareVersion,  backups};
        const std::optional<std::string> path = qam::module::SaveBackup(settings);
        saved.path = path.value_or("");
        if (report != nullptr) {
            report->saveFailed = !path;
        }
    }

    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_CLEAR_SETTINGS);
    const ResultCode cleared = ClearSettings(link, reply);
    if (cleared != RESULT_OK) {
        // Not written whole: the module never took the command, and still holds its settings.
        saved.settle = cleared == ERR_COM_WRITE && !saved.carried;
        return cleared;
    }

    const ResultCode downloaded = context.image ? DownloadUpdateImage(proxy, *context.image)
                                                : proxy.DownloadUpdateFile(context.updateFilePath);
    if (downloaded != RESULT_OK) {
        return downloaded;
    }

    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_RESET);
    dialog.GetDlgItem(IDC_UPDATE).EnableWindow(FALSE);

    // A reply shorter than the 16 bytes asked for is how the module answers a reset: the read
    // ends on its time-outs, and only a short reply beginning with "NUV" leads to the restart.
    // Nothing of the "CPRM" reply may show behind a short one.
    std::fill_n(reply.begin(), REPLY_AREA_BYTES, '\0');
    const ResultCode reset = link.ExecuteCommand(RST0, COMMAND_LENGTH, reply.data(), REPLY_AREA_BYTES, false);
    if (reset != ERR_BAD_RESPONSE) {
        return reset;
    }
    if (std::memcmp(reply.data(), RESET_MARK, RESET_MARK_LENGTH) != 0) {
        return ERR_BAD_RESPONSE;
    }

    WaitForRestart();

    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_RECONNECT);
    if (qam::module::SearchModule(link, proxy, search, dialog) == 0) {
        return ERR_NO_RESPONSE;
    }

    search.moduleFound = 0;
    SetCommandTimeouts(link, READ_CONSTANT_NORMAL);

    if (search.tunerType != oldTunerType) {
        dialog.MessageBox(TUNER_CHANGED_TEXT, TUNER_CHANGED_CAPTION, MB_ICONINFORMATION | MB_OK);
        saved.settle = true;
        return RESULT_OK;
    }
    if (context.keepSettings == 0 || !backupInHand) {
        return RESULT_OK;
    }

    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_RESTORE);
    const ResultCode restored = qam::module::WriteChannelBackups(proxy, backups);
    saved.settle = restored == RESULT_OK;
    return restored;
}

} // namespace

ResultCode ClearSettings(CComDevice& link, std::span<char> reply) {
    SetCommandTimeouts(link, READ_CONSTANT_CLEAR_SETTINGS);
    const ResultCode cleared =
        link.ExecuteCommand(CPRM, COMMAND_LENGTH, reply.data(), CPRM_REPLY_LENGTH, false);
    SetCommandTimeouts(link, READ_CONSTANT_NORMAL);
    return cleared;
}

bool HasUpdateFileType(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    const std::size_t tail = lower.size() < FILE_TYPE_LENGTH ? 0 : lower.size() - FILE_TYPE_LENGTH;
    return lower.compare(tail, std::string::npos, FILE_TYPE) == 0;
}

ResultCode RunUpdate(const UpdateContext& context) {
    CWaitCursor waitCursor;
    // A computer that sleeps in the middle of a flash write leaves the module half-written.
    CSleepGuard awake;
    context.dialog.EnableWindow(FALSE);

    ReplyArea reply{};
    SavedRun saved;
    bool stopped = false;
    const ResultCode result = GuardedResult([&] {
        return HasUpdateFileType(context.updateFilePath) ? RunSteps(context, reply, saved, stopped)
                                                         : ERR_FILE_TYPE;
    });

    std::string detail;
    if (!saved.path.empty()) {
        if (saved.settle) {
            saved.path = qam::module::SettleBackup(saved.path);
        } else {
            detail = SAVED_SETTINGS_DETAIL + saved.path;
        }
        if (context.backupReport != nullptr) {
            context.backupReport->saved = saved.path;
            context.backupReport->pending = !saved.settle;
        }
    }

    context.dialog.EnableWindow(TRUE);
    if (!stopped) {
        ReportError(context.dialog, result, reply, detail.empty() ? nullptr : detail.c_str());
    }
    context.dialog.SetDlgItemText(IDC_STATUS_LOWER,
                                  result == RESULT_OK ? TEXT_UPDATE_SUCCESSFUL : TEXT_UPDATE_FAILED);
    context.link.Close();
    return result;
}

} // namespace qam::update
