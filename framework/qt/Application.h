#pragma once

class CWinApp;

namespace fw::qt {

// The program's entry on the Qt backend: the toolkit's application for the command line (Qt takes
// its own options, such as -display), then the framework's start-up (fw::RunApplication).
int RunApplication(CWinApp& app, int& argc, char** argv);

} // namespace fw::qt
