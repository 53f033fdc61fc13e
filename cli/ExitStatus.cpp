#include "cli/ExitStatus.h"

namespace qam::cli {

namespace {

// The high byte of a code names its layer: 0x82 is the update file.
constexpr ResultCode LAYER_MASK = 0xFF000000;
constexpr ResultCode FILE_LAYER = 0x82000000;

} // namespace

int ExitStatusOf(qam::module::SavedSettingsError error) {
    return error == qam::module::SavedSettingsError::None ? STATUS_SUCCESS
                                                          : STATUS_SAVED_FILE_BASE + static_cast<int>(error);
}

int ExitStatusOf(ResultCode code, bool written) {
    if (code == RESULT_OK) {
        return STATUS_SUCCESS;
    }
    if (code == RESULT_NOT_STARTED) {
        return STATUS_NOT_STARTED;
    }
    if (written) {
        return STATUS_UNKNOWN_STATE;
    }
    return (code & LAYER_MASK) == FILE_LAYER ? STATUS_FILE_REFUSED : STATUS_LINK_FAILURE;
}

} // namespace qam::cli
