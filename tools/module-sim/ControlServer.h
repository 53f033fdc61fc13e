#pragma once

#include "tools/module-sim/ModuleSimulator.h"
#include "tools/module-sim/UniqueFd.h"

#include <functional>
#include <string>

// The simulator command's loopback control port: one client at a time, any number of sequential
// connections, line requests RESTART/TRACE/STATE/QUIT (tools/module-sim/README.md).
namespace qam::sim {

class ControlServer {
public:
    // Turns a scenario text of a RESTART into the scenario to run (the command forces pacing on
    // when asked to); throws std::invalid_argument on bad text.
    using ScenarioFilter = std::function<Scenario(std::string_view text)>;

    ControlServer(ModuleSimulator& simulator, ScenarioFilter parse);

    // Listens on 127.0.0.1:port (0: a free one). Throws std::system_error.
    void Listen(int port);
    int Port() const { return m_port; }

    // Serves until QUIT or until stopFd becomes readable (a signalfd); -1 for no stop descriptor.
    // Returns true when a client asked to quit.
    bool Serve(int stopFd);

private:
    enum class Outcome { KeepOpen, Close, Quit };
    Outcome HandleInput(int client, std::string& buffer);
    bool SendAll(int client, std::string_view data);

    ModuleSimulator& m_simulator;
    ScenarioFilter m_parse;
    UniqueFd m_listener;
    int m_port = -1;
};

} // namespace qam::sim
