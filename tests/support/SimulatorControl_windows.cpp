#include "framework/win32/Windows.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/SimulatorControl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// scripts/wine-tests starts qam-module-sim on COM<QAM_TEST_COM>, its control port QAM_TEST_SIM_CONTROL
// on loopback. One request per connection, as the simulator serves one client at a time.
namespace qam::test {

namespace {

int EnvironmentNumber(const char* name, int fallback) {
    const int value = std::getenv(name) != nullptr ? std::atoi(std::getenv(name)) : 0;
    return value > 0 ? value : fallback;
}

class WineSimulatorControl final : public SimulatorControl {
public:
    WineSimulatorControl() { ::WSAStartup(MAKEWORD(2, 2), &m_winsock); }
    ~WineSimulatorControl() override { ::WSACleanup(); }

    int Port() const override { return EnvironmentNumber("QAM_TEST_COM", 3); }
    void Restart(const sim::Scenario& scenario) override {
        const std::string text = sim::SerializeScenario(scenario);
        Request("RESTART " + std::to_string(text.size()) + "\n" + text);
    }
    std::vector<sim::TraceEntry> Trace() override { return sim::ParseTrace(Request("TRACE\n")); }
    sim::ModuleState State() override { return sim::ParseState(Request("STATE\n")); }

private:
    // Sends one request, ends its side and reads to the end; answers the payload of an "OK <n>"
    // (empty for a plain "OK"); any other answer fails the test. A minute's time-out guards a hang.
    std::string Request(const std::string& request) {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const DWORD timeout = 60000;
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        sockaddr_in address{
            AF_INET, ::htons(static_cast<u_short>(EnvironmentNumber("QAM_TEST_SIM_CONTROL", 0))), {}, {}};
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        std::string answer;
        if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::send(s, request.data(), static_cast<int>(request.size()), 0) ==
                static_cast<int>(request.size()) &&
            ::shutdown(s, SD_SEND) == 0) {
            char chunk[4096];
            for (int n; (n = ::recv(s, chunk, sizeof chunk, 0)) > 0;) {
                answer.append(chunk, static_cast<std::size_t>(n));
            }
        }
        ::closesocket(s);
        const std::size_t line = answer.find('\n');
        if (answer.rfind("OK", 0) != 0 || line == std::string::npos) {
            ADD_FAILURE() << "simulator control: \"" << request.substr(0, request.find('\n'))
                          << "\" answered \"" << answer.substr(0, 80)
                          << "\"; run the Windows tests through scripts/wine-tests";
            return {};
        }
        return answer.substr(line + 1);
    }

    WSADATA m_winsock{};
};

} // namespace

std::unique_ptr<SimulatorControl> StartSimulator(const sim::Scenario& scenario) {
    auto control = std::make_unique<WineSimulatorControl>();
    control->Restart(scenario);
    return control;
}

} // namespace qam::test
