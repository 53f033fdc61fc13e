#pragma once

#include "cli/Event.h"
#include "cli/Output.h"

#include <chrono>
#include <string>
#include <vector>

// The two writers of events: JSON Lines, and the view for a person (one line per port redrawn in
// place on a terminal, plain lines otherwise).
namespace qam::cli {

class CEventSink {
public:
    virtual ~CEventSink() = default;
    virtual void Emit(const Event& event) = 0;
};

class CJsonLines final : public CEventSink {
public:
    explicit CJsonLines(COutput& output) : m_output(output) {}
    void Emit(const Event& event) override;

private:
    COutput& m_output;
};

class CTerminalView final : public CEventSink {
public:
    // live: redraw in place with escape codes; otherwise plain lines. oneLine: every event belongs
    // to the one unit of this process, whatever port it names (a search names several).
    CTerminalView(COutput& output, bool live, int width, bool oneLine);
    ~CTerminalView() override;
    CTerminalView(const CTerminalView&) = delete;
    CTerminalView& operator=(const CTerminalView&) = delete;

    // Lines for these ports, in this order, before their first event.
    void AddPorts(const std::vector<std::string>& ports);
    void Emit(const Event& event) override;
    // Redraws the live lines (the elapsed time moves on); nothing in plain mode.
    void Refresh();

private:
    using Clock = std::chrono::steady_clock;
    struct PortLine {
        std::string port;
        std::string step;
        bool transfer = false;
        int percent = 0;
        std::int64_t done = 0;
        std::int64_t total = 0;
        std::int64_t firstDone = 0;
        Clock::time_point firstTime{};
        Clock::time_point started = Clock::now();
        bool finished = false; // its unit has its result; the line stands still
    };

    PortLine& LineOf(const std::string& port);
    static std::string Label(const PortLine& line);
    std::string Describe(const PortLine& line) const;
    void Log(const std::string& text);
    void Redraw(bool droppable);
    std::string Fit(std::string text) const;
    // The cursor's way up from below the drawn lines to the first of them.
    std::string BackToFirstLine() const;

    COutput& m_output;
    bool m_live;
    int m_width;
    bool m_oneLine;
    std::vector<PortLine> m_lines;
    std::size_t m_drawn = 0;
};

} // namespace qam::cli
