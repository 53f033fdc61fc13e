#pragma once

#include "framework/WinTypes.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The headless backend: windows in memory, for programs that run the window's operations without
// a screen (qamtool) and for the tests. What goes beyond the windows (message boxes, the clock and
// its waits, the wait cursor, keeping the computer awake) is asked of the host the program installs.
namespace headless {

struct Window {
    int controlId = 0;
    std::string className;
    HWND parent = nullptr;
    HWND owner = nullptr; // popups: the window that owns them
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool iconic = false;
    bool destroyed = false;
    int check = BST_UNCHECKED;
    DWORD style = 0;
    RECT rect{}; // client rectangle in pixels
    // A dialog's window procedure; a window without one answers as a plain control does.
    std::function<LRESULT(UINT, WPARAM, LPARAM)> procedure;
};

// The machine around the windows. This base answers as a machine with nobody at it: every box gets
// its safe answer (No to a question, OK otherwise), the clock is the system's, nothing is shown.
class Host {
public:
    virtual ~Host() = default;

    virtual int ShowBox(HWND owner, const char* text, const char* caption, UINT type);
    // Every text set on a window, as it is set.
    virtual void TextSet(HWND window, const std::string& text);
    // Every message sent to a window, before it is delivered; an answer here ends the delivery.
    virtual std::optional<LRESULT> Sent(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The clock in milliseconds, and a sleep on it: whole seconds and the waits for the next one
    // both come from here.
    virtual std::int64_t NowMilliseconds();
    virtual void Sleep(int milliseconds);
    virtual void KeepAwake(bool awake);
    virtual void ShowWaitCursor(bool wait);
};

class Desktop {
public:
    static Desktop& Instance();

    // The program's host for everything beyond the windows; null returns to the base host.
    void SetHost(Host* host) { m_host = host != nullptr ? host : &m_defaultHost; }
    Host& GetHost() const { return *m_host; }

    // Forgets every window and every posted message.
    void Reset();

    HWND AddWindow(int controlId, std::string className, HWND parent = nullptr);
    // The live child of parent with this control id, or null.
    HWND FindChild(HWND parent, int controlId) const;
    Window& WindowOf(HWND window);
    bool IsWindow(HWND window) const;
    // Marks the window and its children destroyed and drops the messages posted to them.
    void DestroyWindow(HWND window);

    // As the platform delivers a sent message: the host sees it first, then the window's procedure
    // or a plain control's own behaviour (a button's check state).
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The thread's message queue.
    bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<MSG> TakePosted();
    bool HasPosted() const { return !m_posted.empty(); }

private:
    Host m_defaultHost;
    Host* m_host = &m_defaultHost;
    std::vector<std::unique_ptr<Window>> m_windows;
    std::deque<MSG> m_posted;
};

} // namespace headless
