#pragma once

#include "framework/WinTypes.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The headless backend's in-memory desktop: windows with their message history, message boxes
// answered from a script, the wait cursor and the thread's message queue. Tests set it up and
// assert on what it recorded; the program code runs unchanged on top of it.
namespace headless {

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;

    bool operator==(const Message&) const = default;
};

struct Window {
    int controlId = 0;
    std::string className;
    HWND parent = nullptr;
    bool enabled = true;
    bool visible = true;
    std::vector<Message> messages; // every message sent to the window, in order
    std::string text;
    std::vector<std::string> texts; // every text set, in order
};

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int answer;

    bool operator==(const Box&) const = default;
};

class Desktop {
public:
    static Desktop& Instance();

    // Forgets every window, box, answer, posted message and the cursor history.
    void Reset();

    HWND AddWindow(int controlId, std::string className, HWND parent = nullptr);
    // The child of parent with this control id, or null.
    HWND FindChild(HWND parent, int controlId) const;
    Window& WindowOf(HWND window);

    // The positions a progress bar was given with PBM_SETPOS, in order.
    std::vector<int> ProgressPositions(HWND window) const;

    // Answers for the next boxes, in order. A box with no answer left is answered IDOK when it
    // has only an OK button and is recorded all the same; tests compare Boxes() as a whole.
    void ScriptBoxAnswer(int answer);
    const std::vector<Box>& Boxes() const { return m_boxes; }
    int ShowBox(HWND owner, const char* text, const char* caption, UINT type);

    // The thread's message queue: work posted here runs when the program pumps messages.
    void Post(std::function<void()> work);
    void Pump();
    int PumpCount() const { return m_pumpCount; }

    // Every change of the shown cursor: true while the wait cursor shows.
    const std::vector<bool>& CursorHistory() const { return m_cursorHistory; }
    void ShowWaitCursor(bool wait) { m_cursorHistory.push_back(wait); }

private:
    std::vector<std::unique_ptr<Window>> m_windows;
    std::deque<int> m_boxAnswers;
    std::vector<Box> m_boxes;
    std::deque<std::function<void()>> m_posted;
    int m_pumpCount = 0;
    std::vector<bool> m_cursorHistory;
};

} // namespace headless
