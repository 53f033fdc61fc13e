#include "framework/WinApp.h"

namespace {
CWinApp* theApplication = nullptr;
}

const CRuntimeClass CWinApp::classCWinApp{"CWinApp", &CObject::classCObject};
const fw::MessageMap CWinApp::messageMap{nullptr, {}};

CWinApp::CWinApp() {
    theApplication = this;
}

CWinApp::~CWinApp() {
    if (theApplication == this) {
        theApplication = nullptr;
    }
}

const CRuntimeClass* CWinApp::GetRuntimeClass() const {
    return &classCWinApp;
}

const fw::MessageMap* CWinApp::GetMessageMap() const {
    return &messageMap;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

int CWinApp::Run() {
    return ExitInstance();
}

void CWinApp::Enable3dControls() {
    fw::backend::EnableVisualStyles();
}

CWinApp* AfxGetApp() {
    return theApplication;
}

namespace fw {

int RunApplication(CWinApp& app) {
    app.m_exeName = backend::ProgramBaseName();
    if (!app.InitInstance()) {
        return app.ExitInstance();
    }
    return app.Run();
}

} // namespace fw
