// qam-module-sim: serves one simulated module line (and any number of silent lines) for the demo
// and the Windows test suites, controlled over a loopback TCP port.
#include "tools/module-sim/ControlServer.h"
#include "tools/module-sim/ModuleSimulator.h"
#include "tools/module-sim/UniqueFd.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/signalfd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: qam-module-sim [--scenario FILE] [--link DIR/comN]... [--silent-link DIR/comN]...\n"
    "                      [--control-port PORT] [--port-file FILE] [--trace-file FILE]\n"
    "                      [--state-file FILE] [--paced] [--help]\n"
    "\n"
    "Serves one simulated module on a pseudo-terminal, linked as each DIR/comN given with --link,\n"
    "plus lines that never answer (--silent-link). --control-port listens on 127.0.0.1 (0: a free\n"
    "port, written to --port-file) for RESTART <n>, TRACE, STATE and QUIT. --paced takes and sends\n"
    "bytes no faster than 115200 baud, for every scenario. SIGTERM/SIGINT or QUIT end it; the trace\n"
    "and state files are written then, and the links removed.\n";

struct PortLink {
    std::string directory;
    int port = 0;
};

struct Options {
    std::optional<std::string> scenarioFile;
    std::vector<PortLink> links;
    std::vector<PortLink> silentLinks;
    std::optional<int> controlPort;
    std::optional<std::string> portFile;
    std::optional<std::string> traceFile;
    std::optional<std::string> stateFile;
    bool paced = false;
    bool help = false;
};

// "DIR/com7" -> {"DIR", 7}
std::optional<PortLink> ParseLink(const std::string& text) {
    const std::size_t slash = text.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : text.substr(0, slash);
    const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (name.size() < 4 || name.compare(0, 3, "com") != 0) {
        return std::nullopt;
    }
    int port = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || port > 9999) {
            return std::nullopt;
        }
        port = port * 10 + (name[i] - '0');
    }
    if (port < 1) {
        return std::nullopt;
    }
    return PortLink{directory.empty() ? "/" : directory, port};
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        auto value = [&]() { return std::string(argv[++i]); };
        if (argument == "--help") {
            options.help = true;
        } else if (argument == "--paced") {
            options.paced = true;
        } else if (!hasValue) {
            std::cerr << "qam-module-sim: " << argument << ": unknown option or missing value\n";
            return std::nullopt;
        } else if (argument == "--scenario") {
            options.scenarioFile = value();
        } else if (argument == "--link" || argument == "--silent-link") {
            const std::string text = value();
            const std::optional<PortLink> link = ParseLink(text);
            if (!link) {
                std::cerr << "qam-module-sim: " << text << ": expected DIR/comN\n";
                return std::nullopt;
            }
            (argument == "--link" ? options.links : options.silentLinks).push_back(*link);
        } else if (argument == "--control-port") {
            const std::string text = value();
            try {
                std::size_t used = 0;
                const int port = std::stoi(text, &used);
                if (used != text.size() || port < 0 || port > 65535) {
                    throw std::out_of_range(text);
                }
                options.controlPort = port;
            } catch (const std::exception&) {
                std::cerr << "qam-module-sim: " << text << ": not a port number\n";
                return std::nullopt;
            }
        } else if (argument == "--port-file") {
            options.portFile = value();
        } else if (argument == "--trace-file") {
            options.traceFile = value();
        } else if (argument == "--state-file") {
            options.stateFile = value();
        } else {
            std::cerr << "qam-module-sim: " << argument << ": unknown option\n";
            return std::nullopt;
        }
    }
    return options;
}

// Written beside and renamed into place, so that a script waiting for the file never reads half.
bool WriteFile(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        std::cerr << "qam-module-sim: cannot write " << path << "\n";
        return false;
    }
    return true;
}

int Run(const Options& options) {
    qam::sim::Scenario scenario;
    if (options.scenarioFile) {
        std::ifstream file(*options.scenarioFile, std::ios::binary);
        if (!file) {
            std::cerr << "qam-module-sim: cannot read " << *options.scenarioFile << "\n";
            return 2;
        }
        std::ostringstream text;
        text << file.rdbuf();
        try {
            scenario = qam::sim::ParseScenario(text.str());
        } catch (const std::exception& error) {
            std::cerr << "qam-module-sim: " << *options.scenarioFile << ": " << error.what() << "\n";
            return 2;
        }
    }
    scenario.paced = scenario.paced || options.paced;

    // Signals arrive through a descriptor; blocked before the line thread starts so that it
    // inherits the mask and never takes them itself.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    qam::sim::UniqueFd stopFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!stopFd.IsOpen()) {
        std::perror("qam-module-sim: signalfd");
        return 1;
    }

    qam::sim::ModuleSimulator simulator(scenario);
    std::vector<std::unique_ptr<qam::sim::SilentLine>> silentLines;
    for (const PortLink& link : options.links) {
        simulator.LinkAsPort(link.directory, link.port);
    }
    for (const PortLink& link : options.silentLinks) {
        silentLines.push_back(std::make_unique<qam::sim::SilentLine>());
        silentLines.back()->LinkAsPort(link.directory, link.port);
    }

    const bool forcePaced = options.paced;
    qam::sim::ControlServer server(simulator, [forcePaced](std::string_view text) {
        qam::sim::Scenario next = qam::sim::ParseScenario(text);
        next.paced = next.paced || forcePaced;
        return next;
    });
    if (options.controlPort) {
        server.Listen(*options.controlPort);
        if (options.portFile && !WriteFile(*options.portFile, std::to_string(server.Port()) + "\n")) {
            return 1;
        }
        std::cout << "control-port " << server.Port() << std::endl;
    }
    std::cout << "ready" << std::endl;

    // Without a control port only a signal ends it.
    server.Serve(stopFd.Get());

    int status = 0;
    if (options.traceFile && !WriteFile(*options.traceFile, qam::sim::SerializeTrace(simulator.Trace()))) {
        status = 1;
    }
    if (options.stateFile && !WriteFile(*options.stateFile, qam::sim::SerializeState(simulator.State()))) {
        status = 1;
    }
    return status; // the simulator and the silent lines remove their links as they go
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    if (options->help) {
        std::cout << kUsage;
        return 0;
    }
    try {
        return Run(*options);
    } catch (const std::exception& error) {
        std::cerr << "qam-module-sim: " << error.what() << "\n";
        return 1;
    }
}
