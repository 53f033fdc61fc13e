#pragma once

#include "framework/FileDialog.h"
#include "framework/headless/Desktop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class CDialog;

// The tests' side of the headless desktop: the modal dialog, tooltips, the file dialog, icons and
// version information that no shipped program runs without a screen, and a host that records what
// the program showed and answers from the test's script. A box, file dialog or idle modal loop the
// test did not expect is a failure of the test.
namespace qam::test {

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int answer;
    bool windowEnabled; // the main window's state while the box was up
    bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* out);

struct ShownFileDialog {
    HWND owner;
    std::string title;
    std::string filter; // with its zero separators
    DWORD flags;
    std::string initialDir;
};

// What the test desktop records and what a test sets up on it; all of it starts afresh at Reset.
struct DesktopState {
    std::vector<Box> boxes;
    std::vector<ShownFileDialog> fileDialogs;
    std::vector<bool> cursor;           // every change of the shown cursor: true while the wait cursor shows
    std::vector<bool> awake;            // every request to keep the computer awake (true) or let it sleep
    std::vector<LPARAM> progressRanges; // every PBM_SETRANGE's low and high words

    // The clock, in milliseconds, from a whole second; a sleep moves it on by its length and takes
    // `realSleepMs` of real time. A thousand readings move it a millisecond: a polling wait ends.
    std::int64_t clock = 1'000'000'000'000;
    int realSleepMs = 0;
    int sleeps = 0;

    std::map<HWND, std::vector<std::pair<HWND, std::string>>> tools; // of each tooltip control: window, tip
    bool tipsActive = false;
    std::string shownTip; // by the last relayed hover

    // The program's own file's version resource (its base name is "QamUpdate").
    bool versionPresent = true;
    std::string fileVersion = "1, 0, 0, 0";
    DWORD reportedVersionSize = 0; // 0: a plausible small size
    std::vector<std::string> versionFilesAsked;
    std::vector<POINT> drawnIcons;

    HWND runningDialog = nullptr; // the dialog the modal loop runs
    std::map<int, HWND> controls; // of the dialog run last, by id (0: the dialog)

protected:
    struct Scripted {
        std::string text;
        int answer;
        std::function<void()> whileUp;
    };
    std::deque<Scripted> m_answers;
    std::map<std::string, int> m_standing;
    std::deque<std::optional<std::string>> m_files;
    std::map<HWND, std::vector<std::string>> m_texts;
    std::vector<int> m_progress;
    std::deque<std::function<void()>> m_steps;
    std::int64_t m_readings = 0;
};

class TestDesktop final : public headless::Host, public DesktopState {
public:
    // The one test desktop, installed as the headless desktop's host.
    static TestDesktop& Instance() {
        static TestDesktop desktop;
        return desktop;
    }
    void Reset(); // forgets every window, record and script

    // Boxes: answered from the script in order (a question of another text fails; a box with only
    // OK and another text is answered OK), else from a standing answer for its text, else IDOK
    // when it has only an OK button; a question nobody answered fails. `whileUp` runs while the
    // box is up, as the box's own message loop would run what comes.
    void Answer(std::string text, int answer, std::function<void()> whileUp = {}) {
        m_answers.push_back({std::move(text), answer, std::move(whileUp)});
    }
    void AnswerAlways(std::string text, int answer) { m_standing[std::move(text)] = answer; }
    // The next file dialog's choice: a full path, or nothing for cancel.
    void ChooseFile(std::optional<std::string> path) { m_files.push_back(std::move(path)); }

    // Every text set on a control of the dialog run last (0: the dialog), every progress position.
    std::vector<std::string> Texts(int controlId) const;
    std::vector<int> Progress() const { return m_progress; }

    // The operator: steps that a modal loop runs, one each time it finds its queue empty.
    void Operate(std::function<void()> step) { m_steps.push_back(std::move(step)); }
    static void Click(HWND control) { Post(control, WM_LBUTTONUP, 0, 0); }
    static void PressKey(HWND window, WPARAM key) { Post(window, WM_KEYDOWN, key, 0); }
    static void CloseBox(HWND dialog) { Post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }
    static void Hover(HWND control) { Post(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2)); }

    // headless::Host
    int ShowBox(HWND owner, const char* text, const char* caption, UINT type) override;
    void TextSet(HWND window, const std::string& text) override { m_texts[window].push_back(text); }
    std::optional<LRESULT> Sent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    std::int64_t NowMilliseconds() override { return ++m_readings % 1000 == 0 ? ++clock : clock; }
    void Sleep(int milliseconds) override;
    void KeepAwake(bool on) override { awake.push_back(on); }
    void ShowWaitCursor(bool wait) override { cursor.push_back(wait); }

private:
    friend class ::CDialog; // its modal loop runs the steps
    friend bool fw::backend::ShowOpenFileDialog(fw::OpenFileName& dialog);
    TestDesktop() { headless::Desktop::Instance().SetHost(this); }
    static void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        headless::Desktop::Instance().PostMessage(window, message, wParam, lParam);
    }
};

} // namespace qam::test
