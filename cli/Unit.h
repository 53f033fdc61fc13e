#pragma once

#include "cli/ConsoleHost.h"
#include "cli/RecordFile.h"
#include "cli/UpdateImage.h"
#include "link/ComDevice.h"
#include "module/ModuleProxy.h"
#include "module/ModuleSearch.h"
#include "module/SavedSettings.h"
#include "update/UpdateSequence.h"

#include <functional>
#include <optional>
#include <string>

namespace qam::cli {

// How a command's port was given: one COM number (the searches visit it alone), or none (the
// search runs as the window's does).
struct PortChoice {
    std::optional<int> com;
    std::string label;   // what the events call the port: "COM3", or the device path given
    bool linked = false; // com is the link of a private ports directory to the path given
};

// A unit's end as the record and the exit status see it.
struct Outcome {
    ResultCode code = RESULT_OK;
    std::string text; // the report's text, or the final status on success
    int exitStatus = 0;
    bool restored = false;
    bool resetSent = false;              // the module was told to restart
    std::optional<ModuleIdentity> after; // the module as the update's own search found it again
    bool recordLost = false;             // its record line went to standard error instead
    update::BackupReport backup;         // the settings saved before "CPRM"
};

// What an update is to do with the channel settings.
struct SettingsChoice {
    bool keep = true;
    bool continueWithoutBackup = false;               // answer "Can NOT Read Settings" Yes
    bool useSaved = false;                            // answer "Saved Settings" Yes
    const qam::module::SavedSettings* from = nullptr; // use these instead of reading the module
};

// One unit's module operations in this process: the window's own search, update and factory
// defaults, run on the console host's windows through one link, one proxy and one search state.
class CUnit {
public:
    CUnit(CEventSink& sink, PortChoice port);

    // The search: the port alone, or as the window runs it (the window's port count and preferred
    // port, read only; without them every port the listing reports). The module's identity when found.
    // Quiet: its status texts are not told.
    std::optional<ModuleIdentity> Search(bool quiet = false);
    // The whole update on the module the last search found; its questions answered as settings says.
    // `beforeClear` as the update's: a code other than RESULT_OK stops it before anything is written.
    Outcome Update(const UpdateImage& image, const SettingsChoice& settings,
                   std::function<ResultCode()> beforeClear = {});
    // Both channels' settings read as the update reads them, into saved (UnitBackup.cpp).
    Outcome Backup(qam::module::SavedSettings& saved);
    // The module's settings saved, erased ("CPRM") and replaced by saved's, written as the update's
    // restore writes them; refused before anything is sent for a module of another tuner type.
    Outcome Restore(const qam::module::SavedSettings& saved);
    // The factory-defaults command on the module the last search found; the reset question is
    // answered Yes only with reset.
    Outcome Defaults(bool reset);
    // The end of a unit that no module answered for.
    Outcome NotFound() const;

    void Emit(Event event) { m_host.Emit(std::move(event)); }
    const std::string& Label() const { return m_host.Port(); }

private:
    bool SearchPort(int com);
    // The refusal of saved settings of another tuner type than the module's, before anything is sent.
    std::optional<Outcome> OtherTuner(const qam::module::SavedSettings& saved);
    // The saved settings as this run found the module, channels aside.
    qam::module::SavedSettings Saved() const;
    ModuleIdentity Identity() const;
    // A command's result as this unit's end: `written` tells whether it came to "CPRM".
    Outcome OutcomeOf(ResultCode code, bool written) const;

    PortChoice m_port;
    std::optional<int> m_searchedAlone; // the port the last search visited alone
    CConsoleHost m_host;
    CComDevice m_link;
    CModuleProxy m_proxy;
    SearchState m_search;
};

} // namespace qam::cli
