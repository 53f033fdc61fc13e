#pragma once

#include "framework/DialogTemplate.h"

namespace qam::ui {

// Dialog template 102, the main window: described once, built by either backend.
const fw::DialogTemplate& UpdaterDialogTemplate();

} // namespace qam::ui
