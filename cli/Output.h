#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace qam::cli {

// Standard output, written by a thread of its own, so that the module's thread never waits on a
// full pipe or a slow reader. A text that may be dropped is dropped while earlier ones still wait
// to be written (progress); the others always wait their turn.
class COutput {
public:
    COutput();
    // Writes what is still waiting, then stops.
    ~COutput();
    COutput(const COutput&) = delete;
    COutput& operator=(const COutput&) = delete;

    void Write(std::string text, bool droppable = false);

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_waiting;
    bool m_stopping = false;
    std::thread m_writer;
};

} // namespace qam::cli
