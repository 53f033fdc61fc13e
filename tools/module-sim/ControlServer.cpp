#include "tools/module-sim/ControlServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <system_error>
#include <utility>

namespace qam::sim {

namespace {

constexpr std::string_view kRestart = "RESTART ";
constexpr std::string_view kTrace = "TRACE";
constexpr std::string_view kState = "STATE";
constexpr std::string_view kQuit = "QUIT";
constexpr std::string_view kOkLine = "OK\n";

constexpr std::size_t kLongestRequestLine = 4096;
constexpr std::size_t kLongestScenario = 64u << 20;
constexpr int kPollMs = 1000;
constexpr int kSendTimeoutSeconds = 10;

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

} // namespace

ControlServer::ControlServer(ModuleSimulator& simulator, ScenarioFilter parse)
    : m_simulator(simulator), m_parse(std::move(parse)) {}

void ControlServer::Listen(int port) {
    m_listener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!m_listener.IsOpen()) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    const int reuse = 1;
    ::setsockopt(m_listener.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // loopback only, never another host
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(m_listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::system_error(errno, std::generic_category(), "bind 127.0.0.1:" + std::to_string(port));
    }
    if (::listen(m_listener.Get(), 4) != 0) {
        throw std::system_error(errno, std::generic_category(), "listen");
    }
    socklen_t length = sizeof address;
    if (::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::system_error(errno, std::generic_category(), "getsockname");
    }
    m_port = ntohs(address.sin_port);
}

bool ControlServer::Serve(int stopFd) {
    UniqueFd client;
    std::string buffer;
    while (true) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {-1, POLLIN, 0}};
        if (client.IsOpen()) {
            fds[1].fd = client.Get();
        } else if (m_listener.IsOpen()) {
            fds[1].fd = m_listener.Get();
        }
        const int ready = ::poll(fds, 2, kPollMs);
        if (ready < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            return false;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        if (!client.IsOpen()) {
            client.Reset(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            buffer.clear();
            // A client that stops reading must not hold the simulator for good.
            const timeval sendTimeout{kSendTimeoutSeconds, 0};
            ::setsockopt(client.Get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
            continue;
        }
        char chunk[65536];
        const ssize_t got = ::recv(client.Get(), chunk, sizeof chunk, 0);
        if (got <= 0) {
            client.Reset();
            continue;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
        switch (HandleInput(client.Get(), buffer)) {
        case Outcome::KeepOpen:
            break;
        case Outcome::Close:
            client.Reset();
            break;
        case Outcome::Quit:
            return true;
        }
    }
}

ControlServer::Outcome ControlServer::HandleInput(int client, std::string& buffer) {
    while (true) {
        const std::size_t end = buffer.find('\n');
        if (end == std::string::npos) {
            if (buffer.size() > kLongestRequestLine) {
                SendAll(client, "ERR request line too long\n");
                return Outcome::Close;
            }
            return Outcome::KeepOpen;
        }
        std::string_view line(buffer.data(), end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::string reply;
        std::size_t consumed = end + 1;
        bool quit = false;
        if (line.starts_with(kRestart)) {
            const std::string_view count = line.substr(kRestart.size());
            std::size_t length = 0;
            const auto [last, parseError] =
                std::from_chars(count.data(), count.data() + count.size(), length);
            if (parseError != std::errc{} || last != count.data() + count.size() ||
                length > kLongestScenario) {
                // The request's length is unknown, so what follows cannot be framed: drop the client.
                SendAll(client, "ERR bad scenario length\n");
                return Outcome::Close;
            }
            if (buffer.size() < consumed + length) {
                return Outcome::KeepOpen;
            }
            try {
                m_simulator.Restart(m_parse(std::string_view(buffer).substr(consumed, length)));
                reply = kOkLine;
            } catch (const std::exception& error) {
                reply = "ERR " + OneLine(error.what()) + "\n";
            }
            consumed += length;
        } else if (line == kTrace) {
            const std::string text = SerializeTrace(m_simulator.Trace());
            reply = "OK " + std::to_string(text.size()) + "\n" + text;
        } else if (line == kState) {
            const std::string text = SerializeState(m_simulator.State());
            reply = "OK " + std::to_string(text.size()) + "\n" + text;
        } else if (line == kQuit) {
            reply = kOkLine;
            quit = true;
        } else {
            reply = "ERR unknown request: " + OneLine(std::string(line.substr(0, 64))) + "\n";
        }
        buffer.erase(0, consumed);
        if (!SendAll(client, reply)) {
            return Outcome::Close;
        }
        if (quit) {
            return Outcome::Quit;
        }
    }
}

bool ControlServer::SendAll(int client, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(client, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace qam::sim
