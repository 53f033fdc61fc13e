#include "framework/headless/Desktop.h"

#include "framework/Backend.h"
#include "framework/MessageBox.h"
#include "framework/MessagePump.h"
#include "framework/Wnd.h"

#include <algorithm>
#include <stdexcept>

namespace headless {

Desktop& Desktop::Instance() {
    static Desktop desktop;
    return desktop;
}

void Desktop::Reset() {
    m_windows.clear();
    m_boxAnswers.clear();
    m_boxes.clear();
    m_posted.clear();
    m_pumpCount = 0;
    m_cursorHistory.clear();
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
        if (window->parent == parent && window->controlId == controlId) {
            return reinterpret_cast<HWND>(window.get());
        }
    }
    return nullptr;
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
    m_boxAnswers.push_back(answer);
}

int Desktop::ShowBox(HWND owner, const char* text, const char* caption, UINT type) {
    int answer = IDOK;
    if (!m_boxAnswers.empty()) {
        answer = m_boxAnswers.front();
        m_boxAnswers.pop_front();
    }
    m_boxes.push_back(Box{owner, text, caption, type, answer});
    return answer;
}

void Desktop::Post(std::function<void()> work) {
    m_posted.push_back(std::move(work));
}

void Desktop::Pump() {
    ++m_pumpCount;
    while (!m_posted.empty()) {
        auto work = std::move(m_posted.front());
        m_posted.pop_front();
        work();
    }
}

} // namespace headless

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (m_hWnd == nullptr) {
        return 0;
    }
    headless::Desktop::Instance().WindowOf(m_hWnd).messages.push_back({message, wParam, lParam});
    return 0;
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

namespace fw {

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return headless::Desktop::Instance().ShowBox(owner, text, caption, type);
}

void PumpWaitingMessages() {
    headless::Desktop::Instance().Pump();
}

namespace backend {
void ShowWaitCursor(bool wait) {
    headless::Desktop::Instance().ShowWaitCursor(wait);
}
} // namespace backend

} // namespace fw
