#include "framework/win32/Windows.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/SimulatorControl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

// The Windows test programs drive the qam-module-sim command that scripts/wine-tests starts beside
// them: its line is COM<QAM_TEST_COM> in the prefix, its control port is QAM_TEST_SIM_CONTROL on
// loopback. One request per connection, as the simulator serves one client at a time.
namespace qam::test {

namespace {

constexpr const char* kComVariable = "QAM_TEST_COM";
constexpr const char* kControlVariable = "QAM_TEST_SIM_CONTROL";
constexpr int kDefaultCom = 3;
constexpr DWORD kSocketTimeoutMs = 60000; // a hang guard only: every answer comes at once

int EnvironmentNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long number = std::strtol(value, &end, 10);
    return (end != nullptr && *end == '\0' && number > 0 && number <= 0x7fffffff) ? static_cast<int>(number) : fallback;
}

class WinsockSession {
public:
    WinsockSession() { m_started = ::WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~WinsockSession() {
        if (m_started) {
            ::WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool Started() const { return m_started; }

private:
    WSADATA m_data{};
    bool m_started = false;
};

class Socket {
public:
    Socket() : m_socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET) {
            ::closesocket(m_socket);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

bool SendAll(SOCKET socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = ::send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> ReceiveLine(SOCKET socket) {
    std::string line;
    char c = 0;
    while (true) {
        const int n = ::recv(socket, &c, 1, 0);
        if (n <= 0) {
            return std::nullopt;
        }
        if (c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

std::optional<std::string> ReceiveExactly(SOCKET socket, std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t received = 0;
    while (received < count) {
        const int n = ::recv(socket, bytes.data() + received, static_cast<int>(count - received), 0);
        if (n <= 0) {
            return std::nullopt;
        }
        received += static_cast<std::size_t>(n);
    }
    return bytes;
}

class WineSimulatorControl final : public SimulatorControl {
public:
    WineSimulatorControl()
        : m_com(EnvironmentNumber(kComVariable, kDefaultCom)), m_control(EnvironmentNumber(kControlVariable, 0)) {}

    int Port() const override { return m_com; }

    void Restart(const sim::Scenario& scenario) override {
        const std::string text = sim::SerializeScenario(scenario);
        Request("RESTART " + std::to_string(text.size()) + "\n" + text, false);
    }

    std::vector<sim::TraceEntry> Trace() override {
        const std::optional<std::string> payload = Request("TRACE\n", true);
        return payload ? sim::ParseTrace(*payload) : std::vector<sim::TraceEntry>{};
    }

    sim::ModuleState State() override {
        const std::optional<std::string> payload = Request("STATE\n", true);
        return payload ? sim::ParseState(*payload) : sim::ModuleState{};
    }

private:
    // Sends one request; answers the payload of "OK <n>" (or "" for a plain "OK"), or fails the test.
    std::optional<std::string> Request(const std::string& request, bool withPayload) {
        const std::string what = request.substr(0, request.find_first_of(" \n"));
        static WinsockSession winsock;
        if (!winsock.Started()) {
            ADD_FAILURE() << "simulator control: Winsock did not start";
            return std::nullopt;
        }
        if (m_control == 0) {
            ADD_FAILURE() << "simulator control: " << kControlVariable
                          << " is not set; run the Windows tests through scripts/wine-tests";
            return std::nullopt;
        }
        Socket socket;
        if (socket.Get() == INVALID_SOCKET) {
            ADD_FAILURE() << "simulator control: no socket";
            return std::nullopt;
        }
        const DWORD timeout = kSocketTimeoutMs;
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);

        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = ::htons(static_cast<u_short>(m_control));
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ADD_FAILURE() << "simulator control: cannot connect to 127.0.0.1:" << m_control;
            return std::nullopt;
        }
        if (!SendAll(socket.Get(), request)) {
            ADD_FAILURE() << "simulator control: " << what << " not sent";
            return std::nullopt;
        }
        const std::optional<std::string> status = ReceiveLine(socket.Get());
        if (!status) {
            ADD_FAILURE() << "simulator control: no answer to " << what;
            return std::nullopt;
        }
        if (*status == "OK" && !withPayload) {
            return std::string();
        }
        if (withPayload && status->rfind("OK ", 0) == 0) {
            char* end = nullptr;
            const unsigned long long size = std::strtoull(status->c_str() + 3, &end, 10);
            if (end != nullptr && *end == '\0') {
                std::optional<std::string> payload = ReceiveExactly(socket.Get(), static_cast<std::size_t>(size));
                if (!payload) {
                    ADD_FAILURE() << "simulator control: " << what << " answer cut short";
                }
                return payload;
            }
        }
        ADD_FAILURE() << "simulator control: " << what << " answered \"" << *status << "\"";
        return std::nullopt;
    }

    int m_com;
    int m_control;
};

} // namespace

std::unique_ptr<SimulatorControl> StartSimulator(const sim::Scenario& scenario) {
    auto control = std::make_unique<WineSimulatorControl>();
    control->Restart(scenario);
    return control;
}

} // namespace qam::test
