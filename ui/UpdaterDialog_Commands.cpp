#include "ui/UpdaterDialog.h"

// The commands whose operations come with their own subsystems; wired, and quiet until then.

void CUpdaterDialog::RunUpdate() {}

void CUpdaterDialog::ResetToDefaults() {}

void CUpdaterDialog::SelectUpdateFile() {}
