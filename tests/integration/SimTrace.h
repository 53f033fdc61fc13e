#pragma once

#include "tools/module-sim/Scenario.h"

#include <string>
#include <string_view>
#include <vector>

// Expected simulator traces for the search and settings suites, compared as whole sequences of
// readable lines ("3 > VTUN", "3 < STV0299B").
namespace qam::test {

inline std::vector<std::string> TraceLines(const std::vector<sim::TraceEntry>& trace) {
    std::vector<std::string> lines;
    for (const sim::TraceEntry& entry : trace) {
        lines.push_back(std::to_string(entry.exchange) + " " + sim::Describe(entry));
    }
    return lines;
}

class ExpectedTrace {
public:
    // A new exchange: the unit the tool sends first.
    ExpectedTrace& Command(std::string_view command) { return Command(sim::ToBytes(command)); }
    ExpectedTrace& Command(sim::Bytes command) {
        ++m_exchange;
        return Add(sim::Direction::ToModule, std::move(command));
    }
    // Another unit of the same exchange.
    ExpectedTrace& Send(sim::Bytes bytes) { return Add(sim::Direction::ToModule, std::move(bytes)); }
    ExpectedTrace& Reply(std::string_view reply) { return Reply(sim::ToBytes(reply)); }
    ExpectedTrace& Reply(sim::Bytes reply) { return Add(sim::Direction::FromModule, std::move(reply)); }
    ExpectedTrace& Ok() { return Reply("OK\r\n"); }

    std::vector<std::string> Lines() const { return TraceLines(m_entries); }

private:
    ExpectedTrace& Add(sim::Direction direction, sim::Bytes bytes) {
        m_entries.push_back(sim::TraceEntry{m_exchange, direction, std::move(bytes), {}});
        return *this;
    }

    std::vector<sim::TraceEntry> m_entries;
    int m_exchange = 0;
};

} // namespace qam::test
