#include "tools/module-sim/ModuleSimulator.h"

#include "tools/module-sim/ModuleModel.h"
#include "tools/module-sim/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace qam::sim {

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

// 11 bits a byte (start, 8 data, parity, stop) at 115200 baud.
constexpr std::int64_t kBitsPerByte = 11;
constexpr std::int64_t kBaud = 115200;
// How many received bytes the line thread holds before it stops reading, as a port's receive
// queue: beyond it the terminal fills and the tool's writes wait, as they wait for a real line.
// Bytes are stamped when read; one that waited behind a full queue is taken by the schedule of
// those before it all the same, so the stamps stay true where they count. A module that takes
// nothing (frozen) stops reading altogether.
constexpr std::size_t kReadAhead = 4096;
constexpr std::size_t kReadChunk = 4096;
// The longest the line thread sleeps without looking at its wake-up pipe.
constexpr Nanos kLongestWait = std::chrono::milliseconds(500);
// How long a hang-up waits for the client to read what was sent before it.
constexpr Nanos kHangUpGrace = std::chrono::milliseconds(2000);
constexpr Nanos kHangUpPoll = std::chrono::milliseconds(2);
constexpr Nanos kHangUpSettle = std::chrono::milliseconds(50);

// When each byte of a paced line has been fully sent or received: back-to-back bytes follow each
// other one byte time apart, counted from the start of their run so that no rounding accumulates.
class LineSchedule {
public:
    // The time the next byte is through when it can start at `ready`.
    Clock::time_point Next(Clock::time_point ready) const {
        return ready > FreeAt() ? ready + ByteTimes(1) : m_base + ByteTimes(m_count + 1);
    }
    void Commit(Clock::time_point ready) {
        if (ready > FreeAt()) {
            m_base = ready;
            m_count = 0;
        }
        ++m_count;
    }

private:
    static Nanos ByteTimes(std::int64_t count) { return Nanos(count * kBitsPerByte * 1'000'000'000 / kBaud); }
    Clock::time_point FreeAt() const { return m_base + ByteTimes(m_count); }

    Clock::time_point m_base{};
    std::int64_t m_count = 0;
};

struct Received {
    std::uint8_t byte;
    Clock::time_point arrival;
};

void DrainPipe(int fd) {
    std::uint8_t buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

class ModuleSimulator::Impl {
public:
    explicit Impl(Scenario scenario) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe2");
        }
        m_wakeRead.Reset(pipeFds[0]);
        m_wakeWrite.Reset(pipeFds[1]);
        m_path = m_line.Path();
        Reset(std::move(scenario));
        Start();
    }

    ~Impl() {
        Stop();
        RemoveLinks();
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    const std::string& DevicePath() const { return m_path; }

    void LinkAsPort(const std::string& directory, int port) {
        std::lock_guard lock(m_mutex);
        const std::string link = directory + "/com" + std::to_string(port);
        if (std::find(m_linkPaths.begin(), m_linkPaths.end(), link) == m_linkPaths.end()) {
            m_linkPaths.push_back(link);
            m_linkTargets.emplace_back(directory, port);
        }
        if (m_line.IsOpen()) {
            MakePortLink(directory, port, m_path);
        }
    }

    void Restart(Scenario scenario) {
        Stop();
        {
            std::lock_guard lock(m_mutex);
            if (!m_line.IsOpen()) {
                m_line = PseudoTerminal();
                m_path = m_line.Path();
                for (const auto& [directory, port] : m_linkTargets) {
                    MakePortLink(directory, port, m_path);
                }
            } else {
                // Nothing of the last run may reach the new one.
                ::tcflush(m_line.Master(), TCIOFLUSH);
                std::uint8_t stale[256];
                while (::read(m_line.Master(), stale, sizeof stale) > 0) {
                }
            }
        }
        Reset(std::move(scenario));
        Start();
    }

    std::vector<TraceEntry> Trace() const {
        std::lock_guard lock(m_mutex);
        return m_model->Trace();
    }
    ModuleState State() const {
        std::lock_guard lock(m_mutex);
        return m_model->State();
    }
    int ExchangeCount() const {
        std::lock_guard lock(m_mutex);
        return m_model->ExchangeCount();
    }

private:
    void Reset(Scenario scenario) {
        std::lock_guard lock(m_mutex);
        m_paced = scenario.paced;
        m_model = std::make_unique<ModuleModel>(std::move(scenario));
        m_origin = Clock::now();
        m_inbox.clear();
        m_outbox.clear();
        m_sentOfHead = 0;
        m_hangUpSince = {};
        m_takeSchedule = LineSchedule();
        m_sendSchedule = LineSchedule();
    }

    void Start() {
        m_stop = false;
        m_thread = std::thread([this] { Run(); });
    }

    void Stop() {
        if (!m_thread.joinable()) {
            return;
        }
        m_stop = true;
        const std::uint8_t wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite.Get(), &wake, 1);
        m_thread.join();
        DrainPipe(m_wakeRead.Get());
    }

    void RemoveLinks() {
        std::lock_guard lock(m_mutex);
        for (const std::string& link : m_linkPaths) {
            ::unlink(link.c_str());
        }
    }

    Micros Since(Clock::time_point time) const { return std::chrono::duration_cast<Micros>(time - m_origin); }
    Clock::time_point At(Micros since) const {
        return since == Micros::max() ? Clock::time_point::max() : m_origin + since;
    }

    struct Wants {
        bool read = false;
        bool write = false;
        Clock::time_point deadline;
    };

    void Run() {
        while (!m_stop) {
            Wants wants;
            int master = -1;
            {
                std::lock_guard lock(m_mutex);
                wants = Serve(Clock::now());
                master = m_line.IsOpen() ? m_line.Master() : -1;
            }
            Wait(master, wants);
        }
    }

    // One pass over the line under the lock: thaw, feed what is due, send what is due.
    Wants Serve(Clock::time_point now) {
        Wants wants;
        wants.deadline = now + kLongestWait;
        if (!m_line.IsOpen()) {
            return wants;
        }
        ModuleModel& model = *m_model;
        if (model.Frozen()) {
            const Clock::time_point until = At(model.FrozenUntil());
            if (now >= until) {
                Thaw(now);
            } else {
                wants.deadline = std::min(wants.deadline, until);
            }
        }
        while (!m_inbox.empty() && model.TakesInput()) {
            const Received& next = m_inbox.front();
            const Clock::time_point takenAt = m_paced ? m_takeSchedule.Next(next.arrival) : next.arrival;
            if (takenAt > now) {
                wants.deadline = std::min(wants.deadline, takenAt);
                break;
            }
            if (m_paced) {
                m_takeSchedule.Commit(next.arrival);
            }
            model.Receive(next.byte, Since(takenAt));
            m_inbox.pop_front();
            while (model.HasOutput()) {
                m_outbox.push_back(model.PopOutput());
            }
        }
        if (!SendDue(now, wants)) {
            return wants; // hung up
        }
        wants.read = model.TakesInput() && m_inbox.size() < kReadAhead;
        return wants;
    }

    // Returns false when the line was closed.
    bool SendDue(Clock::time_point now, Wants& wants) {
        while (!m_outbox.empty()) {
            Output& head = m_outbox.front();
            if (m_sentOfHead == head.bytes.size()) {
                if (head.after == AfterOutput::HangUp) {
                    // Closing the master flushes what the client has not read yet, so the
                    // bytes before the hang-up get a bounded while to be read first.
                    if (m_hangUpSince == Clock::time_point{}) {
                        m_hangUpSince = now;
                    }
                    const Nanos waited = now - m_hangUpSince;
                    // The terminal hands written bytes to the client's queue asynchronously, so
                    // an empty queue counts only once it had time to fill.
                    if ((waited < kHangUpSettle || m_line.UnreadByClient() > 0) && waited < kHangUpGrace) {
                        wants.deadline = std::min(wants.deadline, now + kHangUpPoll);
                        return true;
                    }
                    HangUp();
                    return false;
                }
                m_outbox.pop_front();
                m_sentOfHead = 0;
                continue;
            }
            const Clock::time_point start = At(head.notBefore);
            std::size_t due = head.bytes.size() - m_sentOfHead;
            if (m_paced) {
                const Clock::time_point first = m_sendSchedule.Next(start);
                if (first > now) {
                    wants.deadline = std::min(wants.deadline, first);
                    return true;
                }
                const std::int64_t byteNanos = kBitsPerByte * 1'000'000'000 / kBaud;
                due = std::min<std::size_t>(due,
                                            1 + static_cast<std::size_t>((now - first).count() / byteNanos));
            } else if (start > now) {
                wants.deadline = std::min(wants.deadline, start);
                return true;
            }
            const ssize_t written = ::write(m_line.Master(), head.bytes.data() + m_sentOfHead, due);
            if (written <= 0) {
                // The client is not reading: wait until the terminal takes more.
                wants.write = true;
                return true;
            }
            for (ssize_t i = 0; m_paced && i < written; ++i) {
                m_sendSchedule.Commit(start);
            }
            m_sentOfHead += static_cast<std::size_t>(written);
            if (m_sentOfHead < head.bytes.size()) {
                if (static_cast<std::size_t>(written) < due) {
                    wants.write = true;
                } else {
                    wants.deadline = std::min(wants.deadline, m_sendSchedule.Next(start));
                }
                return true;
            }
        }
        return true;
    }

    void Thaw(Clock::time_point now) {
        Bytes discarded;
        for (const Received& received : m_inbox) {
            discarded.push_back(received.byte);
        }
        m_inbox.clear();
        std::uint8_t buffer[256];
        ssize_t count;
        while ((count = ::read(m_line.Master(), buffer, sizeof buffer)) > 0) {
            discarded.insert(discarded.end(), buffer, buffer + count);
        }
        m_model->Thaw(discarded, Since(now));
    }

    void HangUp() {
        m_line.Close();
        for (const std::string& link : m_linkPaths) {
            ::unlink(link.c_str());
        }
        m_inbox.clear();
        m_outbox.clear();
        m_sentOfHead = 0;
        m_model->MarkHungUp();
        m_hangUpSince = {};
    }

    void Wait(int master, const Wants& wants) {
        pollfd fds[2] = {{m_wakeRead.Get(), POLLIN, 0}, {master, 0, 0}};
        nfds_t count = 1;
        if (master >= 0 && (wants.read || wants.write)) {
            fds[1].events = static_cast<short>((wants.read ? POLLIN : 0) | (wants.write ? POLLOUT : 0));
            count = 2;
        }
        const Nanos wait = std::clamp<Nanos>(wants.deadline - Clock::now(), Nanos(0), kLongestWait);
        const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                               static_cast<long>(wait.count() % 1'000'000'000)};
        const int ready = ::ppoll(fds, count, &timeout, nullptr);
        if (ready <= 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            DrainPipe(m_wakeRead.Get());
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            std::uint8_t buffer[kReadChunk];
            const ssize_t got = ::read(
                master, buffer, std::min(kReadChunk, kReadAhead - std::min(kReadAhead, m_inbox.size())));
            const Clock::time_point arrival = Clock::now();
            for (ssize_t i = 0; i < got; ++i) {
                m_inbox.push_back(Received{buffer[i], arrival});
            }
        }
        if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) {
            // Should not happen while the simulator holds the terminal side; never spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    mutable std::mutex m_mutex;
    std::unique_ptr<ModuleModel> m_model;
    bool m_paced = false;
    Clock::time_point m_origin;
    PseudoTerminal m_line;
    std::string m_path;
    std::vector<std::string> m_linkPaths;
    std::vector<std::pair<std::string, int>> m_linkTargets;

    UniqueFd m_wakeRead;
    UniqueFd m_wakeWrite;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    // Owned by the line thread (Restart stops it before touching them).
    std::deque<Received> m_inbox;
    std::deque<Output> m_outbox;
    std::size_t m_sentOfHead = 0;
    Clock::time_point m_hangUpSince{};
    LineSchedule m_takeSchedule;
    LineSchedule m_sendSchedule;
};

ModuleSimulator::ModuleSimulator(Scenario scenario) : m_impl(std::make_unique<Impl>(std::move(scenario))) {}

ModuleSimulator::~ModuleSimulator() = default;

const std::string& ModuleSimulator::DevicePath() const {
    return m_impl->DevicePath();
}

void ModuleSimulator::LinkAsPort(const std::string& directory, int port) {
    m_impl->LinkAsPort(directory, port);
}

void ModuleSimulator::Restart(Scenario scenario) {
    m_impl->Restart(std::move(scenario));
}

std::vector<TraceEntry> ModuleSimulator::Trace() const {
    return m_impl->Trace();
}

ModuleState ModuleSimulator::State() const {
    return m_impl->State();
}

int ModuleSimulator::ExchangeCount() const {
    return m_impl->ExchangeCount();
}

SilentLine::SilentLine() = default;

SilentLine::~SilentLine() {
    for (const std::string& link : m_links) {
        ::unlink(link.c_str());
    }
}

const std::string& SilentLine::DevicePath() const {
    return m_line.Path();
}

void SilentLine::LinkAsPort(const std::string& directory, int port) {
    m_links.push_back(MakePortLink(directory, port, m_line.Path()));
}

} // namespace qam::sim
