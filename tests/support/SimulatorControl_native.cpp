#include "tests/support/SimulatorControl.h"

#include "link/PortsDirectory.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qam::test {

namespace {

constexpr int kSimulatorPort = 3;

// A fresh ports directory for one test, removed again (with whatever links are left in it).
class TemporaryPortsDirectory {
public:
    TemporaryPortsDirectory() {
        std::string pattern = "/tmp/qam-ports-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        }
        m_path = pattern;
        // A link of its own, so that links alone decide even when the simulator's is gone after a
        // hang-up: the host's serial devices never take part.
        ::symlink("/nonexistent", (m_path + "/com999").c_str());
    }
    ~TemporaryPortsDirectory() {
        // A test may have linked lines of its own here (silent ports) that outlive this object.
        if (DIR* dir = ::opendir(m_path.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string path = m_path + "/" + entry->d_name;
                struct stat status {};
                if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
                    ::unlink(path.c_str());
                }
            }
            ::closedir(dir);
        }
        ::rmdir(m_path.c_str());
    }
    TemporaryPortsDirectory(const TemporaryPortsDirectory&) = delete;
    TemporaryPortsDirectory& operator=(const TemporaryPortsDirectory&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class NativeSimulatorControl final : public SimulatorControl {
public:
    explicit NativeSimulatorControl(const sim::Scenario& scenario)
        : m_previousDirectory(link::PortsDirectory()), m_simulator(scenario) {
        m_simulator.LinkAsPort(m_directory.Path(), kSimulatorPort);
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
    TemporaryPortsDirectory m_directory;
    sim::ModuleSimulator m_simulator;
};

} // namespace

std::unique_ptr<SimulatorControl> StartSimulator(const sim::Scenario& scenario) {
    return std::make_unique<NativeSimulatorControl>(scenario);
}

} // namespace qam::test
