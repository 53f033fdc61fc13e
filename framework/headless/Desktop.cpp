#include "framework/headless/Desktop.h"

#include "framework/Backend.h"
#include "framework/Clock.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/MessageWait.h"
#include "framework/SleepGuard.h"
#include "framework/Wnd.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace headless {

int Host::ShowBox(HWND, const char*, const char*, UINT type) {
    return (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
}

void Host::TextSet(HWND, const std::string&) {}

std::optional<LRESULT> Host::Sent(HWND, UINT, WPARAM, LPARAM) {
    return std::nullopt;
}

std::int64_t Host::NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void Host::Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void Host::KeepAwake(bool) {}

void Host::ShowWaitCursor(bool) {}

Desktop& Desktop::Instance() {
    static Desktop desktop;
    return desktop;
}

void Desktop::Reset() {
    m_windows.clear();
    m_posted.clear();
}

HWND Desktop::AddWindow(int controlId, std::string className, HWND parent) {
    auto window = std::make_unique<Window>();
    window->controlId = controlId;
    window->className = std::move(className);
    window->parent = parent;
    m_windows.push_back(std::move(window));
    return reinterpret_cast<HWND>(m_windows.back().get());
}

HWND Desktop::FindChild(HWND parent, int controlId) const {
    for (const auto& window : m_windows) {
        if (!window->destroyed && window->parent == parent && window->controlId == controlId) {
            return reinterpret_cast<HWND>(window.get());
        }
    }
    return nullptr;
}

Window& Desktop::WindowOf(HWND window) {
    if (!IsWindow(window)) {
        throw std::logic_error("headless: not a window of this desktop");
    }
    return *reinterpret_cast<Window*>(window);
}

bool Desktop::IsWindow(HWND window) const {
    const auto* found = reinterpret_cast<const Window*>(window);
    return std::any_of(m_windows.begin(), m_windows.end(),
                       [found](const auto& w) { return w.get() == found; });
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
    std::erase_if(m_posted, [window](const MSG& m) { return m.hwnd == window; });
}

LRESULT Desktop::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window& target = WindowOf(window);
    if (const auto answered = m_host->Sent(window, message, wParam, lParam)) {
        return *answered;
    }
    if (target.destroyed) {
        return 0;
    }
    if (target.procedure) {
        // Copied: the procedure may end the dialog and clear its own slot while it runs.
        const auto procedure = target.procedure;
        return procedure(message, wParam, lParam);
    }
    switch (message) {
    case BM_SETCHECK:
        target.check = static_cast<int>(wParam);
        return 0;
    case BM_GETCHECK:
        return target.check;
    default:
        return 0;
    }
}

bool Desktop::PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || WindowOf(window).destroyed) {
        return false;
    }
    m_posted.push_back(MSG{window, message, wParam, lParam, 0, POINT{}});
    return true;
}

std::optional<MSG> Desktop::TakePosted() {
    if (m_posted.empty()) {
        return std::nullopt;
    }
    const MSG next = m_posted.front();
    m_posted.pop_front();
    return next;
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
    headless::Desktop& desktop = headless::Desktop::Instance();
    headless::Window& window = desktop.WindowOf(m_hWnd);
    window.text = text;
    desktop.GetHost().TextSet(m_hWnd, window.text);
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

BOOL CWnd::IsIconic() const {
    return m_hWnd != nullptr && headless::Desktop::Instance().WindowOf(m_hWnd).iconic ? TRUE : FALSE;
}

void CWnd::UpdateWindow() const {
    RedrawWindow(RDW_UPDATENOW);
}

BOOL CWnd::RedrawWindow(UINT flags) const {
    if (m_hWnd == nullptr || headless::Desktop::Instance().WindowOf(m_hWnd).destroyed) {
        return FALSE;
    }
    if ((flags & RDW_UPDATENOW) != 0) {
        SendMessage(WM_PAINT);
    }
    return TRUE;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd != nullptr && headless::Desktop::Instance().PostMessage(m_hWnd, message, wParam, lParam)
               ? TRUE
               : FALSE;
}

void CWnd::GetClientRect(RECT* rect) const {
    *rect = m_hWnd == nullptr ? RECT{} : headless::Desktop::Instance().WindowOf(m_hWnd).rect;
}

namespace fw {

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return headless::Desktop::Instance().GetHost().ShowBox(owner, text, caption, type);
}

bool DispatchOneWaitingMessage() {
    headless::Desktop& desktop = headless::Desktop::Instance();
    const auto next = desktop.TakePosted();
    if (!next) {
        return false;
    }
    desktop.Send(next->hwnd, next->message, next->wParam, next->lParam);
    return true;
}

void PumpWaitingMessages() {
    while (DispatchOneWaitingMessage()) {
    }
}

std::int64_t CurrentTimeSeconds() {
    return headless::Desktop::Instance().GetHost().NowMilliseconds() / 1000;
}

void WaitForMessageOrNextSecond(std::int64_t countedSecond) {
    headless::Desktop& desktop = headless::Desktop::Instance();
    if (!desktop.HasPosted()) {
        headless::Host& host = desktop.GetHost();
        host.Sleep(MillisecondsToNextSecond(countedSecond, host.NowMilliseconds()));
    }
}

void KeepSystemAwake(bool awake) {
    headless::Desktop::Instance().GetHost().KeepAwake(awake);
}

namespace backend {
void ShowWaitCursor(bool wait) {
    headless::Desktop::Instance().GetHost().ShowWaitCursor(wait);
}
} // namespace backend

} // namespace fw
