#include "framework/win32/Windows.h"

#include "framework/Dialog.h"
#include "framework/MessagePump.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The Win32 backend's window calls on real windows of this thread: texts, enabling, child lookup,
// progress messages, the draining of the queue between block pieces and the wait cursor.
namespace {

constexpr int kStatusId = 1005;
constexpr int kProgressId = 1004;
constexpr UINT kProbeMessage = WM_APP + 7;

std::vector<UINT>& Delivered() {
    static std::vector<UINT> delivered;
    return delivered;
}

LRESULT CALLBACK ProbeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProbeMessage) {
        Delivered().push_back(static_cast<UINT>(wParam));
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

class Win32Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        WNDCLASSA probe{};
        probe.lpfnWndProc = ProbeProcedure;
        probe.hInstance = ::GetModuleHandleA(nullptr);
        probe.lpszClassName = "QamProbe";
        ::RegisterClassA(&probe);
        m_parent = ::CreateWindowExA(0, "QamProbe", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                     probe.hInstance, nullptr);
        if (m_parent == nullptr) {
            GTEST_SKIP() << "no desktop to create windows on (no display)";
        }
        m_status = ::CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 100, 20, m_parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), probe.hInstance, nullptr);
        m_progress = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 20, 100, 20, m_parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressId)), probe.hInstance,
                                       nullptr);
        ASSERT_NE(m_status, nullptr);
        ASSERT_NE(m_progress, nullptr);
        fw::PumpWaitingMessages();
        Delivered().clear();
    }

    void TearDown() override {
        if (m_parent != nullptr) {
            ::DestroyWindow(m_parent);
        }
    }

    HWND m_parent = nullptr;
    HWND m_status = nullptr;
    HWND m_progress = nullptr;
};

TEST_F(Win32Desktop, TextsReplaceTheWholeTextAndReadBack) {
    const CWnd dialog(m_parent);
    for (const std::string text : {"Searching Module ...", "", "Update Successful"}) {
        dialog.SetDlgItemText(kStatusId, text.c_str());
        EXPECT_EQ(dialog.GetDlgItem(kStatusId).GetWindowText(), text);
    }
}

TEST_F(Win32Desktop, ChildrenAreFoundByIdAndMissingOnesAreNoWindow) {
    const CWnd dialog(m_parent);
    EXPECT_EQ(dialog.GetDlgItem(kStatusId).GetSafeHwnd(), m_status);
    EXPECT_EQ(dialog.GetDlgItem(kProgressId).GetSafeHwnd(), m_progress);
    const CWnd missing = dialog.GetDlgItem(4711);
    EXPECT_EQ(missing.GetSafeHwnd(), nullptr);
    // A CWnd without a window takes every call and answers nothing.
    missing.SetWindowText("ignored");
    EXPECT_EQ(missing.GetWindowText(), "");
    EXPECT_EQ(missing.SendMessage(PBM_SETPOS, 50), 0);
    EXPECT_EQ(missing.EnableWindow(FALSE), FALSE);
    EXPECT_EQ(missing.IsWindowEnabled(), FALSE);
}

TEST_F(Win32Desktop, EnablingAnswersWhetherTheWindowWasDisabled) {
    const CWnd status(m_status);
    EXPECT_EQ(status.IsWindowEnabled(), TRUE);
    EXPECT_EQ(status.EnableWindow(FALSE), FALSE);
    EXPECT_EQ(status.IsWindowEnabled(), FALSE);
    EXPECT_NE(status.EnableWindow(TRUE), FALSE);
    EXPECT_EQ(status.IsWindowEnabled(), TRUE);
}

TEST_F(Win32Desktop, ProgressMessagesReachTheControlSynchronously) {
    const CWnd progress(m_progress);
    progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    std::vector<LRESULT> previous;
    for (const int position : {0, 40, 80, 100}) {
        previous.push_back(progress.SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)));
    }
    EXPECT_EQ(previous, (std::vector<LRESULT>{0, 0, 40, 80}));
    EXPECT_EQ(progress.SendMessage(PBM_GETPOS), 100);
}

TEST_F(Win32Desktop, PumpDispatchesEveryWaitingMessageInOrder) {
    for (WPARAM i = 1; i <= 5; ++i) {
        ASSERT_TRUE(::PostMessageA(m_parent, kProbeMessage, i, 0));
    }
    fw::PumpWaitingMessages();
    EXPECT_EQ(Delivered(), (std::vector<UINT>{1, 2, 3, 4, 5}));
    MSG left;
    EXPECT_FALSE(::PeekMessageA(&left, nullptr, kProbeMessage, kProbeMessage, PM_NOREMOVE));
}

TEST_F(Win32Desktop, PumpLeavesTheQuitRequestToTheThreadsLoop) {
    ASSERT_TRUE(::PostMessageA(m_parent, kProbeMessage, 1, 0));
    ::PostQuitMessage(3);
    fw::PumpWaitingMessages();
    EXPECT_EQ(Delivered(), (std::vector<UINT>{1}));
    MSG quit;
    ASSERT_TRUE(::PeekMessageA(&quit, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(quit.message, UINT{WM_QUIT});
    EXPECT_EQ(quit.wParam, WPARAM{3});
}

TEST_F(Win32Desktop, WaitCursorShowsWhileTheCountIsAboveZero) {
    const HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
    const HCURSOR arrow = ::LoadCursorA(nullptr, IDC_ARROW);
    {
        CWaitCursor outer;
        EXPECT_EQ(::GetCursor(), wait);
        {
            CWaitCursor inner;
            EXPECT_EQ(::GetCursor(), wait);
        }
        EXPECT_EQ(::GetCursor(), wait);
    }
    EXPECT_EQ(::GetCursor(), arrow);
}

// A dialog that, once its loop runs, moves the pointer over itself as the operator would in the
// middle of a command: a transfer's draining of the queue dispatches exactly these WM_SETCURSOR.
constexpr UINT kProbeCursor = WM_APP + 8;
constexpr UINT_PTR kBoxShownTimer = 1;
constexpr const char* kBoxCaption = "probe box";
constexpr fw::DialogItem kCursorProbeItems[] = {
    {IDCANCEL, "Button", "Close", 10, 10, 50, 14, WS_VISIBLE | WS_TABSTOP, 0},
};
constexpr fw::DialogTemplate kCursorProbeTemplate{
    900, "cursor probe", 0, 0, 120, 60, DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, "MS Shell Dlg", 8,
    kCursorProbeItems};

class CursorProbe : public CDialog {
public:
    CursorProbe() : CDialog(kCursorProbeTemplate) {}
    const fw::MessageMap* GetMessageMap() const override;
    static const fw::MessageMap messageMap;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        PostMessage(kProbeCursor);
        return TRUE;
    }

    void Probe() {
        Moved(HTCLIENT); // no command runs
        {
            CWaitCursor command;
            Moved(HTCLIENT);
            EnableWindow(FALSE); // as the update holds it
            Moved(HTERROR);
            // A timer comes only once the box's loop is idle, so the box is on the screen then.
            ::SetTimer(m_hWnd, kBoxShownTimer, 10, nullptr);
            MessageBox("a box of the command's", kBoxCaption, MB_OK);
            EnableWindow(TRUE);
        }
        Moved(HTCLIENT); // the command has ended
        EndDialog(IDOK);
    }

    // Inside the box's loop: the pointer over the window the box disables, then the box's answer.
    void BoxShown() {
        ::KillTimer(m_hWnd, kBoxShownTimer);
        const HWND box = ::FindWindowA("#32770", kBoxCaption);
        EXPECT_NE(box, nullptr);
        EXPECT_EQ(::GetLastActivePopup(m_hWnd), box);
        Moved(HTERROR);
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }

    std::vector<HCURSOR> seen; // the cursor after each move

private:
    // The pointer moved over the window. The cursor was another one until then, so that the
    // platform's own answer shows too.
    void Moved(WORD hitTest) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_CROSS));
        SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(m_hWnd), MAKELPARAM(hitTest, WM_MOUSEMOVE));
        seen.push_back(::GetCursor());
    }
};

constexpr fw::MessageMapEntry cursorProbeEntries[] = {
    fw::OnMessage<&CursorProbe::Probe>(kProbeCursor),
    fw::OnMessage<&CursorProbe::BoxShown>(WM_TIMER),
};
const fw::MessageMap CursorProbe::messageMap{&CDialog::messageMap, cursorProbeEntries};
const fw::MessageMap* CursorProbe::GetMessageMap() const {
    return &messageMap;
}

TEST_F(Win32Desktop, PointerMovesKeepTheWaitCursorWhileACommandRunsButNotOverItsBox) {
    const HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
    const HCURSOR arrow = ::LoadCursorA(nullptr, IDC_ARROW);
    CursorProbe probe;
    ASSERT_EQ(probe.DoModal(), IDOK);
    // Idle: the class's arrow. A command runs, with the window enabled, then disabled: the wait
    // cursor. Its box is up: the platform's arrow over the window the box disables. Ended: the arrow.
    EXPECT_EQ(probe.seen, (std::vector<HCURSOR>{arrow, wait, wait, arrow, arrow}));
    EXPECT_EQ(fw::WaitCursorCount(), 0);
}

} // namespace
