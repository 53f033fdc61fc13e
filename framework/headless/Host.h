#pragma once

#include "framework/FileDialog.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The headless backend's side of what the program asks of the machine beyond its windows: the
// open-file dialog (answered from the test's script), the waits for a message or the next second
// (ended by the test's clock) and the requests to keep the computer awake.
namespace headless {

// The properties a file dialog was shown with.
struct ShownFileDialog {
    HWND owner;
    std::string title;
    std::string filter; // with its zero separators
    DWORD flags;
    std::string initialDir;
    std::string defaultExt;
    std::string initialFile;
    std::size_t fileBytes;
    std::size_t fileTitleBytes;

    bool operator==(const ShownFileDialog&) const = default;
};

class Host {
public:
    static Host& Instance();

    // Forgets the scripted answers, the records, the wait and the requests.
    void Reset();

    // The answer to the next file dialog: a full path, or nullopt for cancel. A dialog without a
    // scripted answer is cancelled and reported through the desktop's failure handler.
    void ScriptFileDialog(std::optional<std::string> path);
    const std::vector<ShownFileDialog>& FileDialogs() const { return m_fileDialogs; }
    bool ShowFileDialog(fw::OpenFileName& dialog);

    // What a wait for the next second does when no message waits; by default it sleeps until the
    // system clock's next whole second. Tests that drive the desktop's clock advance it here.
    void SetNextSecond(std::function<void()> wait) { m_nextSecond = std::move(wait); }
    void WaitForNextSecond();
    // Waits that found no message and waited for the next second.
    int SecondWaits() const { return m_secondWaits; }
    // Waits that ended at once because a message was waiting.
    int MessageWaits() const { return m_messageWaits; }
    void CountMessageWait() { ++m_messageWaits; }

    // Every request to keep the computer awake (true) or let it sleep (false), in order.
    const std::vector<bool>& AwakeRequests() const { return m_awakeRequests; }
    bool KeptAwake() const { return !m_awakeRequests.empty() && m_awakeRequests.back(); }
    void RequestAwake(bool awake) { m_awakeRequests.push_back(awake); }

private:
    std::deque<std::optional<std::string>> m_fileAnswers;
    std::vector<ShownFileDialog> m_fileDialogs;
    std::function<void()> m_nextSecond;
    int m_secondWaits = 0;
    int m_messageWaits = 0;
    std::vector<bool> m_awakeRequests;
};

} // namespace headless
