#pragma once

#include "framework/MessageMap.h"
#include "framework/Object.h"
#include "framework/WinTypes.h"

#include <string>

class CWnd;

// The application object: exactly one per program, constructed before start-up. The framework's
// entry (fw::RunApplication) records the program's base name, then runs InitInstance; when that
// answers FALSE the program ends at once with ExitInstance's code.
class CWinApp : public CObject {
public:
    CWinApp();
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCWinApp;

    virtual const fw::MessageMap* GetMessageMap() const;
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // No message loop of its own: the program's one loop is its modal dialog's.
    virtual int Run();

    // Switches on the platform's three-dimensional look of dialog controls for the whole program.
    void Enable3dControls();

    CWnd* m_mainWnd = nullptr;
    // The program's file name without directory and extension ("QamUpdate").
    std::string m_exeName;

    static const fw::MessageMap messageMap;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();

namespace fw {

// The framework's start-up for app: records the base name, runs InitInstance and then Run or
// ExitInstance. Answers the program's exit code.
int RunApplication(CWinApp& app);

namespace backend {
std::string ProgramBaseName();
void EnableVisualStyles();
} // namespace backend

} // namespace fw
