#include "cli/ChildProcess.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/UnitRun.h"
#include "update/ErrorReport.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace qam::cli {

namespace {

constexpr std::chrono::milliseconds REFRESH{250};
constexpr std::size_t READ_PIECE = 4096;

constexpr const char* NOTE_INTERRUPTED =
    "interrupt: no new units are taken; the units in progress finish first (a kill is not covered)";
constexpr const char* NOTE_NOT_STARTED = "the unit's process could not be started";
constexpr const char* NOTE_ENDED =
    "the unit's process ended without its result: the module's state is unknown";

// The lines of every unit, as reader threads take them from the pipes.
class CInbox {
public:
    struct Line {
        std::size_t unit;
        std::string text;
    };

    void Put(std::size_t unit, std::string text) {
        {
            const std::lock_guard lock(m_mutex);
            m_lines.push_back(Line{unit, std::move(text)});
        }
        m_changed.notify_one();
    }
    void Closed() {
        {
            const std::lock_guard lock(m_mutex);
            ++m_closed;
        }
        m_changed.notify_one();
    }
    // Waits a while for lines: every line waiting, and how many pipes have ended so far.
    std::deque<Line> Take(std::size_t& closed) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, REFRESH, [this] { return !m_lines.empty(); });
        closed = m_closed;
        return std::exchange(m_lines, {});
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Line> m_lines;
    std::size_t m_closed = 0;
};

void ReadLines(CChildProcess& child, std::size_t unit, CInbox& inbox) {
    std::array<char, READ_PIECE> piece{};
    std::string pending;
    for (std::size_t got; (got = child.ReadOutput(piece)) > 0;) {
        pending.append(piece.data(), got);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            inbox.Put(unit, pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    inbox.Closed();
}

} // namespace

int RunStation(const Options& options) {
    // The command line has resolved each port to the device it stands for now and refused a
    // device named twice; the units get the ports as fixed now (UnitPort).
    UpdateImage image;
    std::optional<CRecordFile> record; // each unit writes its own lines
    if (const int refused = PrepareFiles(options, &image, record); refused != STATUS_SUCCESS) {
        return refused;
    }

    CWriters writers(options.json, false);
    std::vector<std::string> labels;
    for (const PortArgument& port : options.ports) {
        labels.push_back(port.label);
    }
    if (CTerminalView* view = writers.View()) {
        view->AddPorts(labels);
    }
    console::CatchInterrupts(nullptr);

    const std::string program = console::ProgramPath();
    std::vector<std::unique_ptr<CChildProcess>> units;
    std::vector<bool> started;
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        std::vector<std::string> arguments{
            UNIT_COMMAND, "--port", UnitPort(options.ports[i]),         "--label",  labels[i],   "--file",
            image.name,   "--size", std::to_string(image.bytes.size()), "--sha256", image.sha256};
        if (options.autoMode) {
            arguments.insert(arguments.end(),
                             {"--auto", "--interval", std::to_string(options.intervalSeconds)});
        }
        if (!options.record.empty()) {
            arguments.insert(arguments.end(), {"--record", options.record});
        }
        if (options.useSavedSettings) {
            arguments.emplace_back("--use-saved-settings");
        }
        units.push_back(std::make_unique<CChildProcess>());
        started.push_back(units.back()->Start(program, arguments) && units.back()->WriteInput(image.bytes));
        if (!started.back()) {
            writers.Sink().Emit(MakeEvent(EVENT_NOTE, labels[i], NOTE_NOT_STARTED));
        }
    }

    CInbox inbox;
    std::vector<std::thread> readers;
    std::vector<bool> resulted(units.size(), false);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (started[i]) {
            readers.emplace_back(ReadLines, std::ref(*units[i]), i, std::ref(inbox));
        }
    }
    const auto takeNoMore = [&units] {
        for (const auto& unit : units) {
            unit->CloseInput(); // the units' word to take no more
        }
    };
    int interruptsSeen = 0;
    for (std::size_t closed = 0; closed < readers.size();) {
        for (const CInbox::Line& line : inbox.Take(closed)) {
            std::optional<Event> event = ParseEvent(line.text);
            if (!event) {
                continue;
            }
            event->port = labels[line.unit];
            resulted[line.unit] = resulted[line.unit] || event->type == EVENT_RESULT;
            writers.Sink().Emit(*event);
            if (event->type == EVENT_NOTE && event->text == NOTE_RECORD_LOST) {
                takeNoMore();
            }
        }
        if (console::InterruptCount() > interruptsSeen) {
            if (interruptsSeen == 0) {
                writers.Sink().Emit(MakeEvent(EVENT_NOTE, "", NOTE_INTERRUPTED));
                takeNoMore();
            }
            interruptsSeen = console::InterruptCount();
        }
        if (CTerminalView* view = writers.View()) {
            view->Refresh();
        }
    }
    for (std::thread& reader : readers) {
        reader.join();
    }

    int worst = STATUS_SUCCESS;
    for (std::size_t i = 0; i < units.size(); ++i) {
        int status = started[i] ? units[i]->Wait() : STATUS_LINK_FAILURE;
        if (status < STATUS_SUCCESS || status > STATUS_UNKNOWN_STATE ||
            (started[i] && !resulted[i] && !options.autoMode)) {
            writers.Sink().Emit(MakeEvent(EVENT_NOTE, labels[i], NOTE_ENDED));
            status = STATUS_UNKNOWN_STATE;
        }
        worst = std::max(worst, status);
    }
    return worst;
}

} // namespace qam::cli
