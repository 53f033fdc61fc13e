#pragma once

#include "tools/module-sim/PseudoTerminal.h"
#include "tools/module-sim/Scenario.h"

#include <memory>
#include <string>
#include <vector>

// The module on the far side of a pseudo-terminal, served on a thread of its own. Tests run it
// in-process; the qam-module-sim command runs it for the demo and for the Windows tests.
namespace qam::sim {

class ModuleSimulator {
public:
    explicit ModuleSimulator(Scenario scenario);
    ~ModuleSimulator(); // stops serving, closes the line, removes every link it made
    ModuleSimulator(const ModuleSimulator&) = delete;
    ModuleSimulator& operator=(const ModuleSimulator&) = delete;

    // The terminal side of the line, e.g. /dev/pts/7.
    const std::string& DevicePath() const;
    // Makes directory/com<port> a symlink to the line (a ports directory or a Wine prefix's dosdevices).
    void LinkAsPort(const std::string& directory, int port);

    // Starts the module afresh with this scenario: state, trace and exchange count are reset; a
    // line that was hung up is opened anew and its links are pointed at it.
    void Restart(Scenario scenario);

    std::vector<TraceEntry> Trace() const;
    ModuleState State() const;
    int ExchangeCount() const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// A line that exists but never answers: a port that opens and stays silent.
class SilentLine {
public:
    SilentLine();
    ~SilentLine();
    SilentLine(const SilentLine&) = delete;
    SilentLine& operator=(const SilentLine&) = delete;

    const std::string& DevicePath() const;
    void LinkAsPort(const std::string& directory, int port);

private:
    PseudoTerminal m_line;
    std::vector<std::string> m_links;
};

} // namespace qam::sim
