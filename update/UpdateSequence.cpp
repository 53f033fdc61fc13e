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
#include "update/DownloadUpdateImage.h"
#include "update/ErrorReport.h"
#include "update/UpdateFileCheck.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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

constexpr const char* FILE_TYPE = ".qam";
constexpr std::size_t FILE_TYPE_LENGTH = 4;

constexpr char CPRM[] = "CPRM";
constexpr char RST0[] = "RST0";
constexpr int COMMAND_LENGTH = 4;
constexpr int CPRM_REPLY_LENGTH = 4;
constexpr char RESET_MARK[] = "NUV";
constexpr std::size_t RESET_MARK_LENGTH = 3;

constexpr int SETTINGS_CAPACITY = 256;
constexpr int BLS_CAPACITY = 256;

constexpr int READ_CONSTANT_CLEAR_SETTINGS = 10000;
constexpr int READ_CONSTANT_NORMAL = 5000;

// The module restarts within this many whole seconds of the clock.
constexpr std::int64_t RESTART_SECONDS = 9;

ResultCode ReadBackup(CModuleProxy& proxy, int channel, ChannelBackup& backup) {
    return proxy.ReadChannelSettings(channel, &backup.settings, SETTINGS_CAPACITY, backup.filterBitmap.data(),
                                     FILTER_BITMAP_BYTES, &backup.bls, BLS_CAPACITY);
}

ResultCode WriteBackup(CModuleProxy& proxy, int channel, const ChannelBackup& backup) {
    return proxy.WriteChannelSettings(channel, &backup.settings, backup.filterBitmap.data(), &backup.bls);
}

// The whole seconds of the clock, counted from the reset reply until they differ by nine. Between
// passes the thread sleeps until a message comes or the next second is due.
void WaitForRestart() {
    const std::int64_t start = fw::CurrentTimeSeconds();
    for (;;) {
        const std::int64_t difference = fw::CurrentTimeSeconds() - start;
        fw::DispatchOneWaitingMessage();
        fw::RestoreWaitCursor();
        if (difference >= RESTART_SECONDS) {
            return;
        }
        fw::WaitForMessageOrNextSecond();
    }
}

// The steps after the file-type test; the result of the run.
ResultCode RunSteps(const UpdateContext& context, ReplyArea& reply) {
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
    if (context.keepSettings != 0 && search.settingsSupported != 0) {
        dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_READ_SETTINGS);
        backupInHand = true;
        ResultCode read = ReadBackup(proxy, 0, backups[0]);
        if (read == RESULT_OK) {
            read = ReadBackup(proxy, 1, backups[1]);
        }
        if (read != RESULT_OK) {
            backupInHand = false;
            if (dialog.MessageBox(READ_FAILED_TEXT, READ_FAILED_CAPTION, MB_YESNO) != IDYES) {
                return read;
            }
        }
        fw::RestoreWaitCursor();
    }

    const TunerType oldTunerType = search.tunerType;

    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_CLEAR_SETTINGS);
    SetCommandTimeouts(link, READ_CONSTANT_CLEAR_SETTINGS);
    const ResultCode cleared =
        link.ExecuteCommand(CPRM, COMMAND_LENGTH, reply.data(), CPRM_REPLY_LENGTH, false);
    SetCommandTimeouts(link, READ_CONSTANT_NORMAL);
    if (cleared != RESULT_OK) {
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
        return RESULT_OK;
    }
    if (context.keepSettings == 0 || !backupInHand) {
        return RESULT_OK;
    }

    dialog.SetDlgItemText(IDC_STATUS_LOWER, TEXT_RESTORE);
    if (const ResultCode restored = WriteBackup(proxy, 0, backups[0]); restored != RESULT_OK) {
        return restored;
    }
    return WriteBackup(proxy, 1, backups[1]);
}

} // namespace

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
    const ResultCode result = GuardedResult(
        [&] { return HasUpdateFileType(context.updateFilePath) ? RunSteps(context, reply) : ERR_FILE_TYPE; });

    context.dialog.EnableWindow(TRUE);
    ReportError(context.dialog, result, reply);
    context.dialog.SetDlgItemText(IDC_STATUS_LOWER,
                                  result == RESULT_OK ? TEXT_UPDATE_SUCCESSFUL : TEXT_UPDATE_FAILED);
    context.link.Close();
    return result;
}

} // namespace qam::update
