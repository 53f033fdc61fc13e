#include "framework/qt/Application.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

#include <QApplication>
#include <QSessionManager>

namespace fw::qt {

int RunApplication(CWinApp& app, int& argc, char** argv) {
    QApplication application(argc, argv);
    // The desktop entry installed with the program, so that the desktop shows its icon.
    QGuiApplication::setDesktopFileName(QString::fromStdString(backend::ProgramBaseName()));
    // The end of the session asks the main window first, as WM_QUERYENDSESSION does on Windows:
    // it says no while a command writes to the module.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &application,
                     [&app](QSessionManager& session) {
                         const CWnd* window = app.m_mainWnd;
                         if (window != nullptr && window->SendMessage(WM_QUERYENDSESSION) == FALSE &&
                             session.allowsInteraction()) {
                             session.cancel();
                         }
                     });
    return fw::RunApplication(app);
}

} // namespace fw::qt
