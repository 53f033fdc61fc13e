#include "framework/win32/Windows.h"

#include "framework/WinApp.h"
#include "ui/UpdaterApp.h"

// The one application object, constructed before start-up as the framework expects.
CUpdaterApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return fw::RunApplication(theApp);
}
