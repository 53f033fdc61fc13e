#pragma once

#include "framework/WinApp.h"

// The application: builds the window title from the program's own version information, runs the
// main window modally and ends the program when it closes.
class CUpdaterApp : public CWinApp {
public:
    CUpdaterApp() = default;
    ~CUpdaterApp() override;

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass classCUpdaterApp;

    const fw::MessageMap* GetMessageMap() const override;
    BOOL InitInstance() override;

    static const fw::MessageMap messageMap;
};
