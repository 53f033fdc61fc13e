#pragma once

#include "tools/module-sim/UniqueFd.h"

#include <string>

// A raw pseudo-terminal for the simulator's lines. The simulator keeps its own descriptor on the
// terminal side so that the master never sees a hang-up while no client has the line open.
namespace qam::sim {

class PseudoTerminal {
public:
    PseudoTerminal(); // throws std::system_error when no terminal can be had
    PseudoTerminal(PseudoTerminal&&) = default;
    PseudoTerminal& operator=(PseudoTerminal&&) = default;

    int Master() const { return m_master.Get(); }
    const std::string& Path() const { return m_path; }
    bool IsOpen() const { return m_master.IsOpen(); }
    // Bytes sent to the client that it has not read yet.
    int UnreadByClient() const;
    // Closes both sides: a client that has the line open sees it lost.
    void Close();

private:
    UniqueFd m_master; // non-blocking
    UniqueFd m_slave;
    std::string m_path;
};

// Makes directory/com<port> a symlink to target, replacing a symlink that is already there.
// Returns the link's path; throws std::system_error when it cannot be made.
std::string MakePortLink(const std::string& directory, int port, const std::string& target);

} // namespace qam::sim
