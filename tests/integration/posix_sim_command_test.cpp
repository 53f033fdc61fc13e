#include "tests/integration/SimToolLine.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace qam::test {
namespace {

using sim::Bytes;
using sim::ToBytes;

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// One qam-module-sim process, ended by its id whatever the test did.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> arguments) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        arguments.insert(arguments.begin(), QAM_MODULE_SIM_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, QAM_MODULE_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_stdout = out[0];
    }
    ~SimProcess() {
        if (m_pid > 0 && !m_exit) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_stdout >= 0) {
            ::close(m_stdout);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    pid_t Pid() const { return m_pid; }

    // The next line of its standard output; empty after the hang guard or at its end.
    std::string NextLine() {
        const Clock::time_point end = Clock::now() + kHangGuard;
        while (Clock::now() < end) {
            const std::size_t newline = m_output.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_output.substr(0, newline);
                m_output.erase(0, newline + 1);
                return line;
            }
            pollfd in{m_stdout, POLLIN, 0};
            if (::poll(&in, 1, 200) <= 0) {
                continue;
            }
            char buffer[256];
            const ssize_t got = ::read(m_stdout, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            m_output.append(buffer, static_cast<std::size_t>(got));
        }
        return {};
    }

    // Its exit status, or nothing when it did not end within the hang guard.
    std::optional<int> WaitForExit() {
        const Clock::time_point end = Clock::now() + kHangGuard;
        while (!m_exit && Clock::now() < end) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        return m_exit;
    }

    // Runs it up to "ready"; returns the control port it printed (-1 when none).
    int WaitUntilReady() {
        int port = -1;
        for (std::string line = NextLine(); !line.empty(); line = NextLine()) {
            if (line.rfind("control-port ", 0) == 0) {
                port = std::stoi(line.substr(13));
            }
            if (line == "ready") {
                return port;
            }
        }
        ADD_FAILURE() << "qam-module-sim did not become ready";
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    std::string m_output;
    std::optional<int> m_exit;
};

class ControlClient {
public:
    explicit ControlClient(int port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        const timeval guard{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    }
    ~ControlClient() { ::close(m_fd); }
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    bool Connected() const { return m_connected; }

    // The answer's first line, and for "OK <n>" the n bytes after it in `body`.
    std::string Request(const std::string& request, std::string* body = nullptr) {
        if (::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            return "(send failed)";
        }
        std::string line = ReadUntilNewline();
        if (body != nullptr && line.rfind("OK ", 0) == 0) {
            const std::size_t length = std::stoul(line.substr(3));
            *body = ReadExactly(length);
        }
        return line;
    }

    std::string Restart(const sim::Scenario& scenario) {
        const std::string text = sim::SerializeScenario(scenario);
        return Request("RESTART " + std::to_string(text.size()) + "\n" + text);
    }

private:
    std::string ReadUntilNewline() {
        while (true) {
            const std::size_t newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return line;
            }
            if (!Fill()) {
                return "(closed)";
            }
        }
    }
    std::string ReadExactly(std::size_t length) {
        while (m_buffer.size() < length && Fill()) {
        }
        std::string out = m_buffer.substr(0, length);
        m_buffer.erase(0, out.size());
        return out;
    }
    bool Fill() {
        char chunk[65536];
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            return false;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    int m_fd;
    bool m_connected = false;
    std::string m_buffer;
};

TEST(PosixSimCommand, ServesItsLinesAndAnswersTraceStateAndQuit) {
    SimTempDir dir;
    SimProcess process({"--link", dir.File("com4"), "--silent-link", dir.File("com5"), "--control-port", "0",
                        "--port-file", dir.File("port")});
    const int port = process.WaitUntilReady();
    ASSERT_GT(port, 0);
    EXPECT_EQ(ReadWholeFile(dir.File("port")), std::to_string(port) + "\n");
    ASSERT_FALSE(ReadLink(dir.File("com4")).empty());
    ASSERT_FALSE(ReadLink(dir.File("com5")).empty());
    EXPECT_NE(ReadLink(dir.File("com4")), ReadLink(dir.File("com5")));

    {
        SimToolLine module(dir.File("com4"));
        SimToolLine silent(dir.File("com5"));
        EXPECT_EQ(module.Exchange("VTUN", 8), ToBytes("STV0299B"));
        EXPECT_EQ(module.Exchange("J001", 4), ToBytes("OK\r\n"));
        EXPECT_EQ(silent.Exchange("VTUN", 8, 300ms), Bytes{});
    }

    ControlClient client(port);
    ASSERT_TRUE(client.Connected());
    std::string body;
    ASSERT_EQ(client.Request("TRACE\n", &body).rfind("OK ", 0), 0u);
    EXPECT_EQ(SimTraceLines(sim::ParseTrace(body)),
              (std::vector<std::string>{"1 > VTUN", "1 < STV0299B", "2 > J001", "2 < OK\\r\\n"}));
    ASSERT_EQ(client.Request("STATE\n", &body).rfind("OK ", 0), 0u);
    EXPECT_EQ(sim::ParseState(body).channels[0].values.at("J"), 1);
    EXPECT_EQ(client.Request("QUIT\n"), "OK");
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
    EXPECT_FALSE(Exists(dir.File("com4")));
    EXPECT_FALSE(Exists(dir.File("com5")));
}

TEST(PosixSimCommand, RestartSetsTheScenarioOverSequentialConnections) {
    SimTempDir dir;
    SimProcess process({"--link", dir.File("com1"), "--control-port", "0"});
    const int port = process.WaitUntilReady();
    ASSERT_GT(port, 0);
    SimToolLine module(dir.File("com1"));
    EXPECT_EQ(module.Exchange("CPRM", 4), ToBytes("OK\r\n"));

    sim::Scenario scenario;
    scenario.identification.tuner = "EDU10394";
    {
        ControlClient client(port);
        EXPECT_EQ(client.Restart(scenario), "OK");
        EXPECT_EQ(client.Request("RESTART 7\nbadtext"), "ERR missing value for badtext");
        EXPECT_EQ(client.Request("FLY\n"), "ERR unknown request: FLY");
        std::string body;
        client.Request("TRACE\n", &body);
        EXPECT_TRUE(sim::ParseTrace(body).empty());
    }
    EXPECT_EQ(module.Exchange("VTUN", 8), ToBytes("EDU10394"));
    {
        ControlClient client(port);
        std::string body;
        ASSERT_EQ(client.Request("STATE\n", &body).rfind("OK ", 0), 0u);
        EXPECT_EQ(sim::ParseState(body).settingsClears, 0);
        ASSERT_EQ(client.Request("TRACE\n", &body).rfind("OK ", 0), 0u);
        EXPECT_EQ(SimTraceLines(sim::ParseTrace(body)),
                  (std::vector<std::string>{"1 > VTUN", "1 < EDU10394"}));
        EXPECT_EQ(client.Request("QUIT\n"), "OK");
    }
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
}

TEST(PosixSimCommand, SigtermWritesTraceAndStateAndRemovesTheLinks) {
    SimTempDir dir;
    sim::Scenario scenario;
    scenario.identification.dsp = "NUV 1.30 X00";
    {
        std::ofstream file(dir.File("scenario"), std::ios::binary);
        file << sim::SerializeScenario(scenario);
    }
    SimProcess process({"--scenario", dir.File("scenario"), "--link", dir.File("com2"), "--trace-file",
                        dir.File("trace"), "--state-file", dir.File("state")});
    EXPECT_EQ(process.WaitUntilReady(), -1);
    {
        SimToolLine module(dir.File("com2"));
        EXPECT_EQ(module.Exchange("VDSP", 12), ToBytes("NUV 1.30 X00"));
        EXPECT_EQ(module.Exchange("ZAll", 4), ToBytes("OK\r\n"));
    }
    ASSERT_EQ(::kill(process.Pid(), SIGTERM), 0);
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
    EXPECT_FALSE(Exists(dir.File("com2")));
    EXPECT_EQ(SimTraceLines(sim::ParseTrace(ReadWholeFile(dir.File("trace")))),
              (std::vector<std::string>{"1 > VDSP", "1 < NUV 1.30 X00", "2 > ZAll", "2 < OK\\r\\n"}));
    EXPECT_EQ(sim::ParseState(ReadWholeFile(dir.File("state"))).commits, 1);
}

TEST(PosixSimCommand, UnframableRequestsCloseTheConnectionOnly) {
    SimTempDir dir;
    SimProcess process({"--link", dir.File("com1"), "--control-port", "0"});
    const int port = process.WaitUntilReady();
    ASSERT_GT(port, 0);
    {
        ControlClient client(port);
        EXPECT_EQ(client.Request("RESTART lots\n"), "ERR bad scenario length");
        EXPECT_EQ(client.Request("STATE\n"), "(closed)");
    }
    {
        ControlClient client(port);
        EXPECT_EQ(client.Request(std::string(5000, 'x')), "ERR request line too long");
    }
    ControlClient client(port);
    EXPECT_EQ(client.Request("QUIT\n"), "OK");
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
}

TEST(PosixSimCommand, PacedFlagPacesRestartedScenariosToo) {
    SimTempDir dir;
    SimProcess process({"--link", dir.File("com1"), "--control-port", "0", "--paced"});
    const int port = process.WaitUntilReady();
    ASSERT_GT(port, 0);
    sim::Scenario scenario;
    scenario.blockReceiveLength = 2304;
    ControlClient client(port);
    ASSERT_EQ(client.Restart(scenario), "OK");

    SimToolLine module(dir.File("com1"));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(module.Exchange("RBLS", 4 + 2304).size(), 4u + 2304u);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(seconds, (4 + 4 + 2304) * 11.0 / 115200.0 * 0.999);
    EXPECT_EQ(client.Request("QUIT\n"), "OK");
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
}

TEST(PosixSimCommand, HelpAndBadArguments) {
    struct Case {
        std::vector<std::string> arguments;
        int exit;
    };
    SimTempDir dir;
    const std::vector<Case> cases = {
        {{"--help"}, 0},
        {{"--frobnicate"}, 2},
        {{"--link", dir.File("tty4")}, 2},
        {{"--control-port", "70000"}, 2},
        {{"--scenario"}, 2},
        {{"--scenario", dir.File("missing")}, 2},
    };
    for (const Case& test : cases) {
        SimProcess process(test.arguments);
        EXPECT_EQ(process.WaitForExit(), std::optional<int>(test.exit)) << test.arguments[0];
    }
    SimProcess help({"--help"});
    EXPECT_EQ(help.NextLine().rfind("usage: qam-module-sim", 0), 0u);
    EXPECT_EQ(help.WaitForExit(), std::optional<int>(0));
}

} // namespace
} // namespace qam::test
