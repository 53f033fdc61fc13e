#include "tests/support/TestDesktop.h"

#include "framework/Dialog.h"
#include "framework/Icon.h"
#include "framework/PaintDC.h"
#include "framework/ToolTipCtrl.h"
#include "framework/VersionInfo.h"
#include "framework/WinApp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace qam::test {

namespace {

constexpr const char* DIALOG_CLASS = "#32770";
constexpr const char* BUTTON_CLASS = "Button";
constexpr const char* TOOLTIP_CLASS = "tooltips_class32";

headless::Desktop& Windows() {
    return headless::Desktop::Instance();
}

// Dialog units to pixels with the base units of an 8-point "MS Sans Serif" (6 by 13).
RECT Pixels(short cx, short cy) {
    return RECT{0, 0, cx * 6 / 4, cy * 13 / 8};
}

// As the dialog manager handles what a dialog's procedure leaves alone: the close box is the
// cancel button, unless that is disabled.
LRESULT DialogDefault(HWND dialog, UINT message, WPARAM wParam) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        return Windows().Send(dialog, WM_CLOSE, 0, 0);
    }
    if (message == WM_CLOSE) {
        const HWND cancel = Windows().FindChild(dialog, IDCANCEL);
        if (cancel == nullptr || Windows().WindowOf(cancel).enabled) {
            Windows().PostMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                  reinterpret_cast<LPARAM>(cancel));
        }
    }
    return 0;
}

} // namespace

void TestDesktop::Reset() {
    Windows().Reset();
    Windows().SetHost(this);
    static_cast<DesktopState&>(*this) = DesktopState{};
}

void PrintTo(const Box& box, std::ostream* out) {
    *out << "{\"" << box.text << "\", \"" << box.caption << "\", type " << box.type << ", answer "
         << box.answer << (box.owner != nullptr ? ", owned" : ", no owner")
         << (box.windowEnabled ? ", window enabled}" : ", window disabled}");
}

std::vector<std::string> TestDesktop::Texts(int controlId) const {
    const auto control = controls.find(controlId);
    const auto found = control == controls.end() ? m_texts.end() : m_texts.find(control->second);
    return found == m_texts.end() ? std::vector<std::string>{} : found->second;
}

int TestDesktop::ShowBox(HWND owner, const char* text, const char* caption, UINT type) {
    const bool question = (type & 0x0F) != MB_OK;
    int answer = IDOK;
    if (!m_answers.empty() && (question || m_answers.front().text == text)) {
        const Scripted scripted = m_answers.front();
        m_answers.pop_front();
        answer = scripted.answer;
        if (scripted.text != text) {
            ADD_FAILURE() << "box \"" << text << "\" shown where \"" << scripted.text << "\" was expected";
        }
        if (scripted.whileUp) {
            scripted.whileUp();
        }
    } else if (const auto standing = m_standing.find(text); standing != m_standing.end()) {
        answer = standing->second;
    } else if (question) {
        ADD_FAILURE() << "unexpected question \"" << text << "\"";
    }
    boxes.push_back(Box{owner, text, caption, type, answer,
                        runningDialog != nullptr && Windows().WindowOf(runningDialog).enabled});
    return answer;
}

std::optional<LRESULT> TestDesktop::Sent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    headless::Window& target = Windows().WindowOf(window);
    if (message == PBM_SETPOS) {
        m_progress.push_back(static_cast<int>(wParam));
    } else if (message == PBM_SETRANGE) {
        progressRanges.push_back(lParam);
    }
    if (target.className == BUTTON_CLASS && message == WM_LBUTTONUP) {
        // Input reaches only a live, visible, enabled control of an enabled window.
        const headless::Window& parent = Windows().WindowOf(target.parent);
        if (target.enabled && target.visible && parent.enabled && !parent.destroyed) {
            if ((target.style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
                target.check = target.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            }
            Windows().Send(target.parent, WM_COMMAND, MAKEWPARAM(target.controlId, BN_CLICKED),
                           reinterpret_cast<LPARAM>(window));
        }
        return 0;
    }
    if (target.className == TOOLTIP_CLASS && message == TTM_RELAYEVENT) {
        const auto* relayed = reinterpret_cast<const MSG*>(lParam);
        if (relayed->message == WM_MOUSEMOVE) {
            const auto& shown = tools[window];
            const auto tool = std::find_if(shown.begin(), shown.end(),
                                           [&](const auto& t) { return t.first == relayed->hwnd; });
            shownTip = tipsActive && tool != shown.end() ? tool->second : "";
        }
        return 0;
    }
    if (target.className == TOOLTIP_CLASS && message == TTM_ACTIVATE) {
        tipsActive = wParam != 0;
        return 0;
    }
    return std::nullopt;
}

void TestDesktop::Sleep(int milliseconds) {
    ++sleeps;
    clock += milliseconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(realSleepMs));
}

} // namespace qam::test

using qam::test::TestDesktop;

INT_PTR CDialog::DoModal() {
    headless::Desktop& windows = qam::test::Windows();
    TestDesktop& desktop = TestDesktop::Instance();
    m_ended = false;
    m_result = IDCANCEL;

    const HWND dialog = windows.AddWindow(0, qam::test::DIALOG_CLASS);
    headless::Window& window = windows.WindowOf(dialog);
    window.text = m_template.caption;
    window.style = m_template.style;
    window.visible = false;
    window.rect = qam::test::Pixels(m_template.cx, m_template.cy);
    window.owner = m_parent != nullptr ? m_parent->m_hWnd : nullptr;
    for (const fw::DialogItem& item : m_template.items) {
        const HWND handle = windows.AddWindow(item.id, item.className, dialog);
        desktop.controls[item.id] = handle;
        headless::Window& control = windows.WindowOf(handle);
        control.text = item.text;
        control.style = item.style | WS_CHILD;
        control.visible = (item.style & WS_VISIBLE) != 0;
        control.enabled = (item.style & WS_DISABLED) == 0;
        control.rect = qam::test::Pixels(item.cx, item.cy);
    }
    window.procedure = [this, dialog](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        LRESULT result = 0;
        try {
            if (OnWndMsg(message, wParam, lParam, result)) {
                return result;
            }
        } catch (...) {
            ADD_FAILURE() << "exception at the window procedure";
        }
        return qam::test::DialogDefault(dialog, message, wParam);
    };
    m_hWnd = dialog;
    desktop.runningDialog = dialog;
    desktop.controls[0] = dialog;

    windows.Send(dialog, WM_INITDIALOG, 0, 0);
    windows.WindowOf(dialog).visible = (m_template.style & WS_VISIBLE) != 0;
    while (!m_ended) {
        if (auto next = windows.TakePosted()) {
            if (!PreTranslateMessage(&*next)) {
                windows.Send(next->hwnd, next->message, next->wParam, next->lParam);
            }
        } else if (!desktop.m_steps.empty()) {
            const auto step = std::move(desktop.m_steps.front());
            desktop.m_steps.pop_front();
            step();
        } else {
            ADD_FAILURE() << "the dialog waits for the operator, but no step is left";
            m_result = -1;
            break;
        }
    }
    // A window that ended early fails the test that drove it: its remaining steps never ran.
    EXPECT_EQ(desktop.m_steps.size(), 0u) << "operator steps the window never reached";
    EXPECT_EQ(desktop.m_answers.size(), 0u) << "scripted boxes the window never showed";
    windows.DestroyWindow(dialog);
    desktop.runningDialog = nullptr;
    m_hWnd = nullptr;
    return m_result;
}

BOOL CDialog::PreTranslateMessage(MSG* message) {
    headless::Desktop& windows = qam::test::Windows();
    const bool ours = message->hwnd == m_hWnd || windows.WindowOf(message->hwnd).parent == m_hWnd;
    // The dialog manager's keyboard: Escape is the cancel command.
    if (ours && message->message == WM_KEYDOWN && message->wParam == VK_ESCAPE) {
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    reinterpret_cast<LPARAM>(GetDlgItem(IDCANCEL).m_hWnd));
        return TRUE;
    }
    return FALSE;
}

CToolTipCtrl::~CToolTipCtrl() {
    DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* parent) {
    DestroyWindow();
    m_hWnd = qam::test::Windows().AddWindow(0, qam::test::TOOLTIP_CLASS);
    headless::Window& window = qam::test::Windows().WindowOf(m_hWnd);
    window.owner = parent != nullptr ? parent->m_hWnd : nullptr;
    window.visible = false;
    return TRUE;
}

BOOL CToolTipCtrl::AddTool(const CWnd& window, const char* text, const RECT&, UINT_PTR) {
    if (m_hWnd != nullptr) {
        TestDesktop::Instance().tools[m_hWnd].emplace_back(window.m_hWnd, text);
    }
    return m_hWnd != nullptr;
}

void CToolTipCtrl::DestroyWindow() {
    // The desktop may have been reset under a control that outlived its test.
    if (m_hWnd != nullptr && qam::test::Windows().IsWindow(m_hWnd)) {
        qam::test::Windows().DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

struct CPaintDC::Paint {};

CPaintDC::CPaintDC(const CWnd& window) : m_window(window.m_hWnd) {
    m_hDC = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0xDC));
}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON) const {
    TestDesktop::Instance().drawnIcons.push_back({x, y});
    return TRUE;
}

namespace fw {

HICON LoadAppIcon(UINT id) {
    // A token that names the resource; nothing is drawn from it.
    return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10000 + id));
}

int GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

// The version block is the FileVersion text and its zero; only this desktop reads it back.
DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle) {
    TestDesktop& desktop = TestDesktop::Instance();
    desktop.versionFilesAsked.push_back(fileName);
    *handle = 0;
    const DWORD plausible = static_cast<DWORD>(2 * desktop.fileVersion.size() + 64);
    return !desktop.versionPresent            ? 0
           : desktop.reportedVersionSize != 0 ? desktop.reportedVersionSize
                                              : plausible;
}

BOOL GetFileVersionInfoA(const char*, DWORD, DWORD length, void* data) {
    TestDesktop& desktop = TestDesktop::Instance();
    if (!desktop.versionPresent || length <= desktop.fileVersion.size()) {
        return FALSE;
    }
    std::memcpy(data, desktop.fileVersion.c_str(), desktop.fileVersion.size() + 1);
    return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length) {
    if (std::strcmp(subBlock, "\\StringFileInfo\\040904b0\\FileVersion") != 0) {
        return FALSE;
    }
    *buffer = const_cast<void*>(block);
    const std::size_t text = std::strlen(static_cast<const char*>(block));
    // As the platform counts a text: its characters and the zero; an empty text counts 0.
    *length = text == 0 ? 0 : static_cast<UINT>(text + 1);
    return TRUE;
}

namespace backend {

bool ShowOpenFileDialog(OpenFileName& dialog) {
    TestDesktop& desktop = TestDesktop::Instance();
    desktop.fileDialogs.push_back(
        qam::test::ShownFileDialog{dialog.owner, dialog.title != nullptr ? dialog.title : "", dialog.filter,
                                   dialog.flags, dialog.initialDir != nullptr ? dialog.initialDir : ""});
    if (desktop.m_files.empty()) {
        ADD_FAILURE() << "unexpected file dialog";
        return false;
    }
    const std::optional<std::string> choice = desktop.m_files.front();
    desktop.m_files.pop_front();
    if (!choice) {
        return false;
    }
    dialog.file.fill('\0');
    choice->copy(dialog.file.data(), dialog.file.size() - 1);
    return true;
}

std::string ProgramBaseName() {
    return "QamUpdate";
}

void EnableVisualStyles() {}

} // namespace backend

} // namespace fw
