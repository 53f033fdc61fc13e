#include "framework/headless/Host.h"

#include "framework/MessageWait.h"
#include "framework/SleepGuard.h"
#include "framework/headless/Desktop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace headless {

Host& Host::Instance() {
    static Host host;
    return host;
}

void Host::Reset() {
    m_fileAnswers.clear();
    m_fileDialogs.clear();
    m_nextSecond = nullptr;
    m_secondWaits = 0;
    m_messageWaits = 0;
    m_awakeRequests.clear();
}

void Host::ScriptFileDialog(std::optional<std::string> path) {
    m_fileAnswers.push_back(std::move(path));
}

bool Host::ShowFileDialog(fw::OpenFileName& dialog) {
    m_fileDialogs.push_back(ShownFileDialog{
        dialog.owner,
        dialog.title != nullptr ? dialog.title : "",
        dialog.filter,
        dialog.flags,
        dialog.initialDir != nullptr ? dialog.initialDir : "",
        dialog.defaultExt != nullptr ? dialog.defaultExt : "",
        std::string(dialog.file.data(), ::strnlen(dialog.file.data(), dialog.file.size())),
        dialog.file.size(),
        dialog.fileTitle.size(),
    });
    if (m_fileAnswers.empty()) {
        Desktop::Instance().Fail("unexpected file dialog \"" + m_fileDialogs.back().title + "\"");
        return false;
    }
    const std::optional<std::string> answer = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    if (!answer) {
        return false;
    }
    // As the platform fills the buffers: the full path and the name behind the last separator.
    dialog.file.fill('\0');
    dialog.fileTitle.fill('\0');
    std::copy_n(answer->begin(), std::min(answer->size(), dialog.file.size() - 1), dialog.file.begin());
    const std::size_t separator = answer->find_last_of("\\/");
    const std::string title = separator == std::string::npos ? *answer : answer->substr(separator + 1);
    std::copy_n(title.begin(), std::min(title.size(), dialog.fileTitle.size() - 1), dialog.fileTitle.begin());
    return true;
}

void Host::WaitForNextSecond() {
    ++m_secondWaits;
    if (m_nextSecond) {
        m_nextSecond();
        return;
    }
    using namespace std::chrono;
    const auto now = system_clock::now();
    std::this_thread::sleep_until(ceil<seconds>(now + milliseconds(1)));
}

} // namespace headless

namespace fw {

namespace backend {
bool ShowOpenFileDialog(OpenFileName& dialog) {
    return headless::Host::Instance().ShowFileDialog(dialog);
}
} // namespace backend

bool DispatchOneWaitingMessage() {
    headless::Desktop& desktop = headless::Desktop::Instance();
    auto next = desktop.TakePosted();
    if (!next) {
        return false;
    }
    if (next->work) {
        next->work();
    } else {
        desktop.Send(next->msg.hwnd, next->msg.message, next->msg.wParam, next->msg.lParam);
    }
    return true;
}

void WaitForMessageOrNextSecond() {
    headless::Host& host = headless::Host::Instance();
    if (headless::Desktop::Instance().PostedCount() > 0) {
        host.CountMessageWait();
        return;
    }
    host.WaitForNextSecond();
}

void KeepSystemAwake(bool awake) {
    headless::Host::Instance().RequestAwake(awake);
}

} // namespace fw
