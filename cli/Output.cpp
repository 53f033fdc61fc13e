#include "cli/Output.h"

#include <cstdio>

namespace qam::cli {

COutput::COutput() : m_writer([this] { Run(); }) {}

COutput::~COutput() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_one();
    m_writer.join();
}

void COutput::Write(std::string text, bool droppable) {
    {
        const std::lock_guard lock(m_mutex);
        if (droppable && !m_waiting.empty()) {
            return;
        }
        m_waiting.push_back(std::move(text));
    }
    m_changed.notify_one();
}

void COutput::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_waiting.empty()) {
            return;
        }
        const std::string text = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        // A reader that went away (a broken pipe) loses the rest; nothing here waits for it.
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        lock.lock();
    }
}

} // namespace qam::cli
