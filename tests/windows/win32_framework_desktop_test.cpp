#include "framework/win32/Windows.h"

#include "framework/MessagePump.h"
#include "framework/WaitCursor.h"
#include "framework/Wnd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The Win32 backend's window calls on real windows of this thread: texts, enabling, child lookup,
// progress messages and the draining of the queue between block pieces.
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

} // namespace
