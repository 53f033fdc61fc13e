#pragma once

#include "framework/WinTypes.h"
#include "framework/headless/Registry.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The headless backend's in-memory desktop: windows with their message history, message boxes
// answered from a script, the wait cursor, the thread's message queue, a scripted operator who
// acts whenever a modal loop has nothing else to do, the registry, the program's version
// information and the clock. Tests set it up and assert on what it recorded; the program code
// runs unchanged on top of it.
namespace headless {

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;

    bool operator==(const Message&) const = default;
};

// A tool registered with a tooltip control (TTM_ADDTOOL).
struct Tool {
    HWND window;
    UINT_PTR id;
    RECT rect;
    std::string text;
};

struct DrawnIcon {
    HWND window;
    int x;
    int y;
    HICON icon;

    bool operator==(const DrawnIcon&) const = default;
};

struct Window {
    int controlId = 0;
    std::string className;
    HWND parent = nullptr;
    HWND owner = nullptr; // popups (the tooltip control): the window that owns them
    bool enabled = true;
    bool visible = true;
    std::vector<Message> messages; // every message sent to the window, in order
    std::string text;
    std::vector<std::string> texts; // every text set, in order

    DWORD style = 0;
    int check = BST_UNCHECKED;
    RECT rect{};         // client rectangle in pixels
    bool iconic = false; // minimised
    bool destroyed = false;
    int repaints = 0;       // immediate repaints asked for (UpdateWindow, RedrawWindow)
    int defaultPaints = 0;  // WM_PAINTs left to the platform's default painting
    // A dialog's window procedure; controls behave as the platform's controls do.
    std::function<LRESULT(UINT, WPARAM, LPARAM)> procedure;

    // Tooltip controls: the tools, whether active, and the tip the last relayed hover showed.
    std::vector<Tool> tools;
    bool active = false;
    std::vector<UINT> relayed; // the message of every TTM_RELAYEVENT
    std::string shownTip;
};

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int answer;

    bool operator==(const Box&) const = default;
};

// The program's version resource as GetFileVersionInfo*A and VerQueryValueA find it.
struct VersionResource {
    bool present = true;                  // false: no version information at all
    std::string fileVersion = "1, 0, 0, 0";
    bool hasFileVersion = true;           // false: the FileVersion text is missing
    DWORD reportedSize = 0;               // what the size call answers; 0: a plausible small size
};

class Desktop {
public:
    static Desktop& Instance();

    // Forgets every window, box, answer, posted message, operator step, the cursor history, the
    // registry and the failures; the version resource, program name and clock return to default.
    void Reset();

    HWND AddWindow(int controlId, std::string className, HWND parent = nullptr);
    // The live child of parent with this control id, or null.
    HWND FindChild(HWND parent, int controlId) const;
    Window& WindowOf(HWND window);
    // The dialog created last and not yet destroyed, or null.
    HWND ActiveDialog() const;
    // Marks the window and its children destroyed and drops the messages posted to them.
    void DestroyWindow(HWND window);

    // As the platform delivers a sent message: recorded, then the dialog's procedure or the
    // control's own behaviour (check state, clicks, tooltips).
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The platform's default processing of a message a dialog procedure left alone.
    LRESULT DefaultProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool IsWindow(HWND window) const;

    // The positions a progress bar was given with PBM_SETPOS, in order.
    std::vector<int> ProgressPositions(HWND window) const;

    // Answers for the next boxes, in order. A box with no answer left is answered IDOK when it
    // has only an OK button and is recorded all the same; tests compare Boxes() as a whole.
    void ScriptBoxAnswer(int answer);
    // An answer for a box that must show exactly this text; any other text is a failure.
    void ScriptBox(std::string text, int answer);
    // Strict: a box without a scripted answer is a failure (it is still answered and recorded).
    void SetStrictBoxes(bool strict) { m_strictBoxes = strict; }
    // A standing answer for every box with this text, taken when no scripted answer is left: for
    // runs whose other boxes (the link's) cannot be known in advance.
    void AnswerAlways(std::string text, int answer) { m_standingAnswers[std::move(text)] = answer; }
    const std::vector<Box>& Boxes() const { return m_boxes; }
    int ShowBox(HWND owner, const char* text, const char* caption, UINT type);

    // The thread's message queue: work posted here runs when the program pumps messages.
    void Post(std::function<void()> work);
    bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Pump();
    int PumpCount() const { return m_pumpCount; }
    // The next queued entry for a modal loop: a message (work empty) or work; nullopt when empty.
    struct Posted {
        MSG msg;
        std::function<void()> work;
    };
    std::optional<Posted> TakePosted();
    std::size_t PostedCount() const { return m_posted.size(); }

    // The operator: steps run one at a time whenever a modal loop finds the queue empty. A loop
    // with neither messages nor steps left fails the test and ends its dialog.
    void Operate(std::function<void()> step);
    bool RunOperatorStep();
    // Operator input, queued as the platform would deliver it.
    void Click(HWND control);
    void PressKey(HWND window, WPARAM key);
    void CloseBox(HWND dialog);
    void Hover(HWND control);

    // Every change of the shown cursor: true while the wait cursor shows.
    const std::vector<bool>& CursorHistory() const { return m_cursorHistory; }
    void ShowWaitCursor(bool wait) { m_cursorHistory.push_back(wait); }

    // Failures of the program's run that no return value shows (unexpected boxes, an idle modal
    // loop, an exception at a window procedure). Tests install a handler that fails the test.
    void SetFailureHandler(std::function<void(const std::string&)> handler) { m_failureHandler = std::move(handler); }
    void Fail(const std::string& what);
    const std::vector<std::string>& Failures() const { return m_failures; }

    Registry& GetRegistry() { return m_registry; }
    VersionResource& Version() { return m_version; }
    // Every file name the version calls were asked about, in order.
    std::vector<std::string>& VersionFilesAsked() { return m_versionFilesAsked; }

    void SetProgramName(std::string baseName) { m_programName = std::move(baseName); }
    const std::string& ProgramName() const { return m_programName; }
    int VisualStylesEnabled() const { return m_visualStyles; }
    void EnableVisualStyles() { ++m_visualStyles; }

    // The clock in whole seconds; by default the system's.
    void SetClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }
    std::int64_t Now() const;

    HICON LoadIcon(UINT id);
    const std::vector<UINT>& LoadedIcons() const { return m_loadedIcons; }
    std::vector<DrawnIcon>& DrawnIcons() { return m_drawnIcons; }

private:
    LRESULT ControlBehaviour(HWND window, Window& target, UINT message, WPARAM wParam, LPARAM lParam);

    std::vector<std::unique_ptr<Window>> m_windows;
    struct ScriptedBox {
        std::optional<std::string> text;
        int answer;
    };
    std::deque<ScriptedBox> m_boxAnswers;
    bool m_strictBoxes = false;
    std::map<std::string, int> m_standingAnswers;
    std::vector<Box> m_boxes;
    std::deque<Posted> m_posted;
    std::deque<std::function<void()>> m_operator;
    int m_pumpCount = 0;
    std::vector<bool> m_cursorHistory;
    std::function<void(const std::string&)> m_failureHandler;
    std::vector<std::string> m_failures;
    Registry m_registry;
    VersionResource m_version;
    std::vector<std::string> m_versionFilesAsked;
    std::string m_programName = "QamUpdate";
    int m_visualStyles = 0;
    std::function<std::int64_t()> m_clock;
    std::vector<UINT> m_loadedIcons;
    std::vector<DrawnIcon> m_drawnIcons;
};

} // namespace headless
