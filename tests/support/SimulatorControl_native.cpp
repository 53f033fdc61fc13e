#include "tests/support/SimulatorControl.h"

#include "link/PortsDirectory.h"
#include "tests/support/Platform.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <string>

namespace qam::test {

namespace {

constexpr int kSimulatorPort = 3;

class NativeSimulatorControl final : public SimulatorControl {
public:
    explicit NativeSimulatorControl(const sim::Scenario& scenario)
        : m_previousDirectory(link::PortsDirectory()), m_simulator(scenario) {
        m_simulator.LinkAsPort(m_directory.Path(), kSimulatorPort);
        // A link of its own, so that links alone decide even when the simulator's is gone after a
        // hang-up: the host's serial devices never take part.
        std::filesystem::create_symlink("/nonexistent", m_directory.Path() / "com999");
        link::SetPortsDirectory(m_directory.Path());
    }

    // Members go in reverse: the simulator removes its link before the directory goes.
    ~NativeSimulatorControl() override { link::SetPortsDirectory(m_previousDirectory); }

    int Port() const override { return kSimulatorPort; }
    void Restart(const sim::Scenario& scenario) override { m_simulator.Restart(scenario); }
    std::vector<sim::TraceEntry> Trace() override { return m_simulator.Trace(); }
    sim::ModuleState State() override { return m_simulator.State(); }

private:
    std::string m_previousDirectory;
    TempDir m_directory;
    sim::ModuleSimulator m_simulator;
};

} // namespace

std::unique_ptr<SimulatorControl> StartSimulator(const sim::Scenario& scenario) {
    return std::make_unique<NativeSimulatorControl>(scenario);
}

} // namespace qam::test
