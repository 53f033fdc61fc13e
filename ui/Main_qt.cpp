#include "framework/qt/Application.h"
#include "ui/UpdaterApp.h"

// The one application object, constructed before start-up as the framework expects.
CUpdaterApp theApp;

int main(int argc, char* argv[]) {
    return fw::qt::RunApplication(theApp, argc, argv);
}
