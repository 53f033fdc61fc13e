#pragma once

#include "tools/module-sim/Scenario.h"

#include <memory>
#include <vector>

// The module simulator as the shared integration suites see it, the same on both builds: natively
// an in-process simulator linked as com<Port()> in a temporary ports directory; under Wine the
// qam-module-sim command beside the Windows test program, driven over its loopback control port,
// its line mapped to COM<Port()>.
namespace qam::test {

class SimulatorControl {
public:
    virtual ~SimulatorControl() = default;

    virtual int Port() const = 0; // the COM port number at which the tool finds the module
    // Starts the module afresh with this scenario (state, trace and exchange count reset).
    virtual void Restart(const sim::Scenario& scenario) = 0;
    virtual std::vector<sim::TraceEntry> Trace() = 0;
    virtual sim::ModuleState State() = 0;
};

// The build's simulator (tests/support/SimulatorControl_native.cpp or _windows.cpp).
std::unique_ptr<SimulatorControl> StartSimulator(const sim::Scenario& scenario);

} // namespace qam::test
