#include "cli/EventView.h"

#include <algorithm>
#include <cstdio>

namespace qam::cli {

namespace {

constexpr const char* CURSOR_UP = "\x1b[%zuA";
constexpr const char* CLEAR_LINE = "\r\x1b[2K";
constexpr const char* CLEAR_BELOW = "\x1b[J";
constexpr int BAR_WIDTH = 20;
constexpr int PORT_COLUMN = 12;
constexpr int STEP_COLUMN = 34;
// Plain lines show a transfer's progress at every quarter.
constexpr int PLAIN_PROGRESS_STEP = 25;

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.resize(width, ' ');
    }
    return text;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

} // namespace

void CJsonLines::Emit(const Event& event) {
    m_output.Write(ToJson(event), event.type == EVENT_PROGRESS);
}

CTerminalView::CTerminalView(COutput& output, bool live, int width, bool oneLine)
    : m_output(output), m_live(live), m_width(std::max(width, 40)), m_oneLine(oneLine) {}

CTerminalView::~CTerminalView() {
    if (m_live) {
        Redraw(false);
        if (m_oneLine) {
            m_output.Write("\n");
        }
    }
}

void CTerminalView::AddPorts(const std::vector<std::string>& ports) {
    for (const std::string& port : ports) {
        LineOf(port);
    }
    if (m_live) {
        Redraw(false);
    }
}

CTerminalView::PortLine& CTerminalView::LineOf(const std::string& port) {
    if (m_oneLine && !m_lines.empty()) {
        m_lines.front().port = port.empty() ? m_lines.front().port : port;
        return m_lines.front();
    }
    const auto found =
        std::find_if(m_lines.begin(), m_lines.end(), [&](const PortLine& line) { return line.port == port; });
    if (found != m_lines.end()) {
        return *found;
    }
    m_lines.emplace_back().port = port;
    return m_lines.back();
}

void CTerminalView::Emit(const Event& event) {
    if (event.port.empty() && !m_oneLine) {
        Log(OneLine(event.text)); // the station's own word, for no port in particular
        if (m_live) {
            Redraw(false);
        }
        return;
    }
    PortLine& line = LineOf(event.port);
    if (line.finished && (event.type == EVENT_STATUS || event.type == EVENT_PROGRESS)) {
        line.finished = false;
        line.started = Clock::now();
    }
    const std::string label = Label(line);
    if (event.type == EVENT_STATUS) {
        if (event.text.empty()) {
            return;
        }
        line.step = OneLine(event.text);
        line.transfer = false;
        if (!m_live) {
            Log(label + line.step);
        }
    } else if (event.type == EVENT_PROGRESS) {
        int before = line.percent;
        if (!line.transfer || event.done < line.done) {
            line.transfer = true;
            line.firstDone = event.done;
            line.firstTime = Clock::now();
            before = -PLAIN_PROGRESS_STEP;
        }
        line.percent = event.percent;
        line.done = event.done;
        line.total = event.total;
        if (!m_live && event.percent > 0 &&
            event.percent / PLAIN_PROGRESS_STEP != before / PLAIN_PROGRESS_STEP) {
            Log(label + Describe(line));
        }
    } else if (event.type == EVENT_BOX) {
        Log(label + "[" + event.caption + "] " + OneLine(event.text) + " -> " + event.answer);
    } else if (event.type == EVENT_NOTE) {
        line.step = OneLine(event.text);
        line.transfer = false;
        Log(label + line.step);
    } else if (event.type == EVENT_RESULT) {
        line.step = OneLine(event.text);
        line.transfer = false;
        Log(label + line.step + "  (" + Seconds(event.seconds) + ")");
        line.finished = true;
    }
    if (m_live) {
        Redraw(event.type == EVENT_PROGRESS);
    }
}

void CTerminalView::Refresh() {
    if (m_live) {
        Redraw(true);
    }
}

std::string CTerminalView::Label(const PortLine& line) {
    return Padded(line.port.empty() ? "-" : line.port, PORT_COLUMN) + " ";
}

std::string CTerminalView::Describe(const PortLine& line) const {
    std::string text = Padded(line.step, STEP_COLUMN);
    if (line.finished) {
        return line.step;
    }
    if (!line.transfer) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - line.started).count();
        return text + " " + Seconds(elapsed);
    }
    const int filled = std::clamp(line.percent, 0, 100) * BAR_WIDTH / 100;
    text += " [" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '.') + "]";
    const double seconds = std::chrono::duration<double>(Clock::now() - line.firstTime).count();
    const double rate = seconds > 0 ? static_cast<double>(line.done - line.firstDone) / seconds : 0;
    char figures[96];
    if (rate > 0) {
        const double left = static_cast<double>(line.total - line.done) / rate;
        std::snprintf(figures, sizeof figures, " %3d%%  %6.0f B/s  %d:%02d left", line.percent, rate,
                      static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    } else {
        std::snprintf(figures, sizeof figures, " %3d%%", line.percent);
    }
    return text + figures;
}

std::string CTerminalView::Fit(std::string text) const {
    // A line longer than the terminal would wrap and throw the redraw off by a line.
    if (text.size() >= static_cast<std::size_t>(m_width)) {
        text.resize(static_cast<std::size_t>(m_width - 1));
    }
    return text;
}

std::string CTerminalView::BackToFirstLine() const {
    if (m_drawn == 0) {
        return {};
    }
    char up[32];
    std::snprintf(up, sizeof up, CURSOR_UP, m_drawn);
    return up;
}

void CTerminalView::Log(const std::string& text) {
    if (!m_live) {
        m_output.Write(text + "\n");
        return;
    }
    if (m_oneLine) {
        m_output.Write(CLEAR_LINE + Fit(text) + "\n");
        return;
    }
    m_output.Write(BackToFirstLine() + "\r" + CLEAR_BELOW + Fit(text) + "\n");
    m_drawn = 0;
}

void CTerminalView::Redraw(bool droppable) {
    // One unit's line stays where the cursor is, so that what others write (the interrupt's
    // notice) goes below it and stays.
    if (m_oneLine) {
        if (!m_lines.empty()) {
            const PortLine& line = m_lines.front();
            m_output.Write(CLEAR_LINE + Fit(Label(line) + Describe(line)), droppable);
        }
        return;
    }
    std::string frame = BackToFirstLine();
    for (const PortLine& line : m_lines) {
        frame += CLEAR_LINE + Fit(Label(line) + Describe(line)) + "\n";
    }
    // Only a redraw that keeps the number of lines may be dropped: the next one starts from the same place.
    m_output.Write(std::move(frame), droppable && m_drawn == m_lines.size());
    m_drawn = m_lines.size();
}

} // namespace qam::cli
