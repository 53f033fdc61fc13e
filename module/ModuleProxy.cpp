#include "module/ModuleProxy.h"

const CRuntimeClass CModuleProxy::classCModuleProxy{"CModuleProxy", &CWnd::classCWnd};

const CRuntimeClass* CModuleProxy::GetRuntimeClass() const {
    return &classCModuleProxy;
}

namespace qam::module {

ResultCode ReadChannelBackups(CModuleProxy& proxy, std::array<ChannelBackup, 2>& backups) {
    for (int channel = 0; channel < 2; ++channel) {
        ChannelBackup& backup = backups[static_cast<std::size_t>(channel)];
        if (const ResultCode read = proxy.ReadChannelSettings(channel, &backup.settings, SETTINGS_CAPACITY,
                                                              backup.filterBitmap.data(), FILTER_BITMAP_BYTES,
                                                              &backup.bls, BLS_CAPACITY);
            read != RESULT_OK) {
            return read;
        }
    }
    return RESULT_OK;
}

ResultCode WriteChannelBackups(CModuleProxy& proxy, const std::array<ChannelBackup, 2>& backups) {
    for (int channel = 0; channel < 2; ++channel) {
        const ChannelBackup& backup = backups[static_cast<std::size_t>(channel)];
        if (const ResultCode written = proxy.WriteChannelSettings(channel, &backup.settings,
                                                                  backup.filterBitmap.data(), &backup.bls);
            written != RESULT_OK) {
            return written;
        }
    }
    return RESULT_OK;
}

} // namespace qam::module
