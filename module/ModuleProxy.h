#pragma once

#include "common/ResultCode.h"
#include "common/TunerType.h"
#include "framework/Wnd.h"
#include "module/ChannelBackup.h"

#include <array>
#include <cstdint>
#include <string>

class CComDevice;

// The module as the main window sees it. A CWnd that never gets a window of its own; it points to
// the window's link, progress bar and lower status line and owns none of them.
class CModuleProxy : public CWnd {
public:
    CModuleProxy() = default;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCModuleProxy;

    // Writes the sections of an update file into the module's flash (update/).
    ResultCode DownloadUpdateFile(const std::string& path);

    // Channel settings backup and restore (module/). Absent parts are null.
    ResultCode ReadChannelSettings(int channel, SettingsRecord* settings, int settingsCapacity,
                                   std::uint8_t* filterBitmap, int filterLength, BlsBlock* bls,
                                   int blsCapacity);
    ResultCode WriteChannelSettings(int channel, const SettingsRecord* settings,
                                    const std::uint8_t* filterBitmap, const BlsBlock* bls);

    TunerType m_tunerType = TUNER_UNKNOWN;
    double m_firmwareVersion = 0.0;
    CComDevice* m_comDevice = nullptr;
    CWnd* m_progressBar = nullptr; // control 1004
    CWnd* m_statusLine = nullptr;  // control 1005
};

namespace qam::module {

inline constexpr int SETTINGS_CAPACITY = 256;
inline constexpr int BLS_CAPACITY = 256;

// Both channels as the update reads them (channel 1 only after channel 0 succeeded), and as it
// writes them back (channel 1 only after channel 0 succeeded): the first failure's code.
ResultCode ReadChannelBackups(CModuleProxy& proxy, std::array<ChannelBackup, 2>& backups);
ResultCode WriteChannelBackups(CModuleProxy& proxy, const std::array<ChannelBackup, 2>& backups);

} // namespace qam::module
