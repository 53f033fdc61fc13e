#include "framework/headless/Desktop.h"

#include "framework/Backend.h"
#include "framework/Clock.h"
#include "framework/Icon.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/Wnd.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace headless {

namespace {

constexpr const char* dialogClass = "#32770";
constexpr const char* buttonClass = "Button";
constexpr const char* tooltipClass = "tooltips_class32";

// What the platform answers for an icon's size.
constexpr int iconSize = 32;

bool IsOkOnly(UINT type) {
    return (type & 0x0F) == MB_OK;
}

} // namespace

Desktop& Desktop::Instance() {
    static Desktop desktop;
    return desktop;
}

void Desktop::Reset() {
    m_windows.clear();
    m_boxAnswers.clear();
    m_strictBoxes = false;
    m_standingAnswers.clear();
    m_boxes.clear();
    m_posted.clear();
    m_operator.clear();
    m_pumpCount = 0;
    m_cursorHistory.clear();
    m_failureHandler = nullptr;
    m_failures.clear();
    m_registry.Reset();
    m_version = VersionResource{};
    m_versionFilesAsked.clear();
    m_programName = "QamUpdate";
    m_visualStyles = 0;
    m_clock = nullptr;
    m_loadedIcons.clear();
    m_drawnIcons.clear();
}

HWND Desktop::AddWindow(int controlId, std::string className, HWND parent) {
    auto window = std::make_unique<Window>();
    window->controlId = controlId;
    window->className = std::move(className);
    window->parent = parent;
    m_windows.push_back(std::move(window));
    return reinterpret_cast<HWND>(m_windows.back().get());
}

Window& Desktop::WindowOf(HWND window) {
    auto* found = reinterpret_cast<Window*>(window);
    const bool known = std::any_of(m_windows.begin(), m_windows.end(),
                                   [found](const auto& w) { return w.get() == found; });
    if (!known) {
        throw std::logic_error("headless: not a window of this desktop");
    }
    return *found;
}

HWND Desktop::FindChild(HWND parent, int controlId) const {
    for (const auto& window : m_windows) {
        if (!window->destroyed && window->parent == parent && window->controlId == controlId) {
            return reinterpret_cast<HWND>(window.get());
        }
    }
    return nullptr;
}

HWND Desktop::ActiveDialog() const {
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
        if (!(*it)->destroyed && (*it)->className == dialogClass) {
            return reinterpret_cast<HWND>(it->get());
        }
    }
    return nullptr;
}

void Desktop::DestroyWindow(HWND window) {
    Window& target = WindowOf(window);
    target.destroyed = true;
    target.procedure = nullptr;
    for (const auto& other : m_windows) {
        if (other->parent == window && !other->destroyed) {
            DestroyWindow(reinterpret_cast<HWND>(other.get()));
        }
    }
    std::erase_if(m_posted, [window](const Posted& p) { return !p.work && p.msg.hwnd == window; });
}

LRESULT Desktop::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window& target = WindowOf(window);
    target.messages.push_back({message, wParam, lParam});
    if (target.destroyed) {
        return 0;
    }
    if (target.procedure) {
        // Copied: the procedure may end the dialog and clear its own slot while it runs.
        auto procedure = target.procedure;
        try {
            return procedure(message, wParam, lParam);
        } catch (const std::exception& e) {
            Fail(std::string("exception at a window procedure: ") + e.what());
        } catch (...) {
            Fail("exception at a window procedure");
        }
        return 0;
    }
    return ControlBehaviour(window, target, message, wParam, lParam);
}

LRESULT Desktop::ControlBehaviour(HWND window, Window& target, UINT message, WPARAM wParam, LPARAM lParam) {
    if (target.className == buttonClass) {
        switch (message) {
        case BM_SETCHECK:
            target.check = static_cast<int>(wParam);
            return 0;
        case BM_GETCHECK:
            return target.check;
        case BM_CLICK:
        case WM_LBUTTONUP: {
            // Input reaches only a live, visible, enabled control of an enabled window.
            const bool parentTakesInput = target.parent == nullptr ||
                                          (WindowOf(target.parent).enabled && !WindowOf(target.parent).destroyed);
            if (!target.enabled || !target.visible || !parentTakesInput) {
                return 0;
            }
            if ((target.style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
                target.check = target.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            }
            if (target.parent != nullptr) {
                Send(target.parent, WM_COMMAND, MAKEWPARAM(target.controlId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(window));
            }
            return 0;
        }
        default:
            return 0;
        }
    }
    if (target.className == tooltipClass) {
        if (message == TTM_ACTIVATE) {
            target.active = wParam != 0;
        } else if (message == TTM_RELAYEVENT) {
            const auto* relayed = reinterpret_cast<const MSG*>(lParam);
            target.relayed.push_back(relayed->message);
            if (relayed->message == WM_MOUSEMOVE) {
                target.shownTip.clear();
                if (target.active) {
                    for (const Tool& tool : target.tools) {
                        if (tool.window == relayed->hwnd) {
                            target.shownTip = tool.text;
                        }
                    }
                }
            }
        }
        return 0;
    }
    return DefaultProcedure(window, message, wParam, lParam);
}

bool Desktop::IsWindow(HWND window) const {
    auto* found = reinterpret_cast<Window*>(window);
    return std::any_of(m_windows.begin(), m_windows.end(), [found](const auto& w) { return w.get() == found; });
}

LRESULT Desktop::DefaultProcedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
    Window& target = WindowOf(window);
    switch (message) {
    case WM_PAINT:
        ++target.defaultPaints;
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            return Send(window, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_CLOSE:
        if (target.className == dialogClass) {
            // As the dialog manager does: the close box is the cancel button, unless that is disabled.
            HWND cancel = FindChild(window, IDCANCEL);
            if (cancel == nullptr || WindowOf(cancel).enabled) {
                PostMessage(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
            }
        }
        return 0;
    default:
        return 0;
    }
}

std::vector<int> Desktop::ProgressPositions(HWND window) const {
    std::vector<int> positions;
    for (const Message& m : reinterpret_cast<const Window*>(window)->messages) {
        if (m.message == PBM_SETPOS) {
            positions.push_back(static_cast<int>(m.wParam));
        }
    }
    return positions;
}

void Desktop::ScriptBoxAnswer(int answer) {
    m_boxAnswers.push_back(ScriptedBox{std::nullopt, answer});
}

void Desktop::ScriptBox(std::string text, int answer) {
    m_boxAnswers.push_back(ScriptedBox{std::move(text), answer});
}

int Desktop::ShowBox(HWND owner, const char* text, const char* caption, UINT type) {
    int answer = IDOK;
    if (!m_boxAnswers.empty()) {
        const ScriptedBox scripted = m_boxAnswers.front();
        m_boxAnswers.pop_front();
        answer = scripted.answer;
        if (scripted.text && *scripted.text != text) {
            Fail("box \"" + std::string(text) + "\" shown where \"" + *scripted.text + "\" was expected");
        }
    } else if (const auto standing = m_standingAnswers.find(text); standing != m_standingAnswers.end()) {
        answer = standing->second;
    } else if (m_strictBoxes || !IsOkOnly(type)) {
        Fail("unexpected box \"" + std::string(text) + "\" (caption \"" + caption + "\")");
    }
    m_boxes.push_back(Box{owner, text, caption, type, answer});
    return answer;
}

void Desktop::Post(std::function<void()> work) {
    m_posted.push_back(Posted{MSG{}, std::move(work)});
}

bool Desktop::PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || WindowOf(window).destroyed) {
        return false;
    }
    m_posted.push_back(Posted{MSG{window, message, wParam, lParam, 0, POINT{}}, nullptr});
    return true;
}

std::optional<Desktop::Posted> Desktop::TakePosted() {
    if (m_posted.empty()) {
        return std::nullopt;
    }
    Posted next = std::move(m_posted.front());
    m_posted.pop_front();
    return next;
}

void Desktop::Pump() {
    ++m_pumpCount;
    while (auto next = TakePosted()) {
        if (next->work) {
            next->work();
        } else {
            Send(next->msg.hwnd, next->msg.message, next->msg.wParam, next->msg.lParam);
        }
    }
}

void Desktop::Operate(std::function<void()> step) {
    m_operator.push_back(std::move(step));
}

bool Desktop::RunOperatorStep() {
    if (m_operator.empty()) {
        return false;
    }
    auto step = std::move(m_operator.front());
    m_operator.pop_front();
    step();
    return true;
}

void Desktop::Click(HWND control) {
    PostMessage(control, WM_LBUTTONUP, 0, 0);
}

void Desktop::PressKey(HWND window, WPARAM key) {
    PostMessage(window, WM_KEYDOWN, key, 0);
}

void Desktop::CloseBox(HWND dialog) {
    PostMessage(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void Desktop::Hover(HWND control) {
    PostMessage(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
}

void Desktop::Fail(const std::string& what) {
    m_failures.push_back(what);
    if (m_failureHandler) {
        m_failureHandler(what);
    }
}

std::int64_t Desktop::Now() const {
    if (m_clock) {
        return m_clock();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

HICON Desktop::LoadIcon(UINT id) {
    m_loadedIcons.push_back(id);
    // A token that names the resource; nothing is ever drawn from it.
    return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10000 + id));
}

} // namespace headless

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (m_hWnd == nullptr) {
        return 0;
    }
    return headless::Desktop::Instance().Send(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const char* text) const {
    if (m_hWnd == nullptr) {
        return;
    }
    headless::Window& window = headless::Desktop::Instance().WindowOf(m_hWnd);
    window.text = text;
    window.texts.push_back(window.text);
}

std::string CWnd::GetWindowText() const {
    return m_hWnd == nullptr ? std::string() : headless::Desktop::Instance().WindowOf(m_hWnd).text;
}

BOOL CWnd::EnableWindow(BOOL enable) const {
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    headless::Window& window = headless::Desktop::Instance().WindowOf(m_hWnd);
    const bool wasDisabled = !window.enabled;
    window.enabled = enable != FALSE;
    return wasDisabled ? TRUE : FALSE;
}

BOOL CWnd::IsWindowEnabled() const {
    return m_hWnd != nullptr && headless::Desktop::Instance().WindowOf(m_hWnd).enabled ? TRUE : FALSE;
}

CWnd CWnd::GetDlgItem(int id) const {
    return CWnd(m_hWnd == nullptr ? nullptr : headless::Desktop::Instance().FindChild(m_hWnd, id));
}

BOOL CWnd::ShowWindow(int command) const {
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    headless::Window& window = headless::Desktop::Instance().WindowOf(m_hWnd);
    const bool wasVisible = window.visible;
    window.visible = command != SW_HIDE;
    return wasVisible ? TRUE : FALSE;
}

BOOL CWnd::IsWindowVisible() const {
    return m_hWnd != nullptr && headless::Desktop::Instance().WindowOf(m_hWnd).visible ? TRUE : FALSE;
}

BOOL CWnd::IsIconic() const {
    return m_hWnd != nullptr && headless::Desktop::Instance().WindowOf(m_hWnd).iconic ? TRUE : FALSE;
}

void CWnd::UpdateWindow() const {
    RedrawWindow(RDW_UPDATENOW);
}

BOOL CWnd::RedrawWindow(UINT flags) const {
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    headless::Desktop& desktop = headless::Desktop::Instance();
    headless::Window& window = desktop.WindowOf(m_hWnd);
    if (window.destroyed) {
        return FALSE;
    }
    ++window.repaints;
    if ((flags & RDW_UPDATENOW) != 0) {
        desktop.Send(m_hWnd, WM_PAINT, 0, 0);
    }
    return TRUE;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd != nullptr && headless::Desktop::Instance().PostMessage(m_hWnd, message, wParam, lParam) ? TRUE
                                                                                                          : FALSE;
}

void CWnd::GetClientRect(RECT* rect) const {
    *rect = m_hWnd == nullptr ? RECT{} : headless::Desktop::Instance().WindowOf(m_hWnd).rect;
}

namespace fw {

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return headless::Desktop::Instance().ShowBox(owner, text, caption, type);
}

void PumpWaitingMessages() {
    headless::Desktop::Instance().Pump();
}

std::int64_t CurrentTimeSeconds() {
    return headless::Desktop::Instance().Now();
}

HICON LoadAppIcon(UINT id) {
    return headless::Desktop::Instance().LoadIcon(id);
}

int GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? headless::iconSize : 0;
}

namespace backend {
void ShowWaitCursor(bool wait) {
    headless::Desktop::Instance().ShowWaitCursor(wait);
}
} // namespace backend

} // namespace fw
