#include "framework/qt/Application.h"

#include "framework/WinApp.h"
#include "framework/Wnd.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTranslator>

namespace fw::qt {

int RunApplication(CWinApp& app, int& argc, char** argv) {
    QApplication application(argc, argv);
    // Qt's own texts (the boxes' buttons, the file dialog) in the user's language; the window's
    // texts are the program's and stay as they are.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtTexts);
    }
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
