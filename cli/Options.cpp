#include "cli/Options.h"

#include "cli/ExitStatus.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <getopt.h>

namespace qam::cli {

namespace {

constexpr const char* PROGRAM = "qamtool";
constexpr int MOST_INTERVAL = 3600;

constexpr const char* GENERAL_HELP =
    "Usage: qamtool COMMAND [OPTION]...\n"
    "The firmware update of DVB modulator modules, without a window: for scripts and production.\n"
    "\n"
    "Commands:\n"
    "  ports      list the serial ports present (--probe: and whether a module answers)\n"
    "  identify   find a module and show its identification\n"
    "  update     write an update file into a module, as the window's Update does\n"
    "  defaults   erase a module's settings (factory defaults)\n"
    "  station    update the modules on several ports at once\n"
    "  backup     save a module's channel settings to a file\n"
    "  restore    write a file's channel settings into a module\n"
    "  backups    list the settings saved before updates\n"
    "\n"
    "'qamtool COMMAND --help' tells more. A port is a COM number N, or on Linux a device path.\n"
    "Exit status: 0 success, 1 interrupted before anything was written, 2 usage error, 3 file\n"
    "refused, 4 no module found, 5 link failure before the module was written, 6 the module in an\n"
    "unknown state, 10 to 19 a file of saved settings refused (cli/README.md).\n";

struct Command {
    const char* name;
    const char* options; // the long options it takes, each between blanks
    bool takesFile;
    const char* help;
};

constexpr Command COMMANDS[] = {
    {"ports", " probe json ", false,
     "Usage: qamtool ports [--probe] [--json]\n"
     "Lists the serial ports present, one per line: the port's COM name (on Linux the device path,\n"
     "its COM number and its /dev/serial/by-id name) and what the system knows of it.\n"
     "  --probe   also ask each port with a COM number whether a module answers there\n"
     "  --json    JSON Lines on standard output\n"},
    {"identify", " port json ", false,
     "Usage: qamtool identify [--port P] [--json]\n"
     "Finds the module as the window's search does (the window's port count and preferred port,\n"
     "read only; without them every port 'qamtool ports' lists), or on port P alone, and shows its\n"
     "identification, tuner type, firmware version and whether its settings can be kept.\n"
     "  --port P  COM number P, or on Linux a device path\n"
     "  --json    JSON Lines on standard output\n"},
    {"update", " port no-keep-settings continue-without-backup use-saved-settings settings-from record json ",
     true,
     "Usage: qamtool update FILE [--port P] [--no-keep-settings] [--continue-without-backup]\n"
     "                           [--use-saved-settings | --settings-from SAVED] [--record RECORD] [--json]\n"
     "Writes the update file FILE into the module, the window's whole update: the file read once and\n"
     "checked whole before the module is touched, the settings backed up, the flash written, the\n"
     "module reset, found again and its settings restored.\n"
     "  --port P                   the module on port P alone (COM number, or on Linux a device path)\n"
     "  --no-keep-settings         do not back up and restore the channel settings\n"
     "  --continue-without-backup  go on when the settings cannot be read (they are then lost);\n"
     "                             without it the update stops before anything is erased\n"
     "  --use-saved-settings       use the settings saved before a failed update on this port, when\n"
     "                             there are any, instead of reading the module (which lost them)\n"
     "  --settings-from SAVED      use the settings of the file SAVED instead of reading the module\n"
     "  --record RECORD            add the unit's line to RECORD (CSV, or JSON Lines for .jsonl)\n"
     "  --json                     JSON Lines on standard output\n"
     "An interrupt (Ctrl+C) does not stop an update that has begun: it runs to its end.\n"},
    {"defaults", " port reset record json ", false,
     "Usage: qamtool defaults [--port P] [--reset] [--record RECORD] [--json]\n"
     "The factory-defaults command: ERASES THE MODULE'S SETTINGS, with or without --reset.\n"
     "  --port P         the module on port P alone (COM number, or on Linux a device path)\n"
     "  --reset          then reset the module, so that it starts with its factory settings\n"
     "  --record RECORD  add the unit's line to RECORD (CSV, or JSON Lines for .jsonl)\n"
     "  --json           JSON Lines on standard output\n"},
    {"station", " ports auto interval use-saved-settings record json ", true,
     "Usage: qamtool station FILE --ports LIST [--auto] [--interval SECONDS] [--use-saved-settings]\n"
     "                            [--record RECORD] [--json]\n"
     "Updates the modules on several ports at once, one process per port, each searching its own\n"
     "port only. FILE is read once and every unit gets the same bytes.\n"
     "  --ports LIST        ports separated by commas (COM numbers, or on Linux device paths)\n"
     "  --auto              production line: each port waits for a module, updates it, and waits\n"
     "                      until the port has been without a module for the interval; a module that\n"
     "                      answers as the port's previous unit did after its update is not written\n"
     "  --interval SECONDS  that interval (default 10)\n"
     "  --use-saved-settings  each unit uses the settings saved on its port before a failed update\n"
     "                      (not with --auto: the units of a line are not told apart)\n"
     "  --record RECORD     one line per unit in RECORD (CSV, or JSON Lines for .jsonl)\n"
     "  --json              JSON Lines on standard output, all ports merged\n"
     "The first interrupt (Ctrl+C) takes no new units: a unit still searching stops before it\n"
     "writes ('not started', exit status 1), the units in progress finish.\n"
     "Exits with the most severe status of its units.\n"},
    {"backup", " port output json ", false,
     "Usage: qamtool backup --port P -o FILE [--json]\n"
     "Finds the module on port P and saves both channels' settings, read as the update reads them,\n"
     "to FILE: to keep a module's configuration, or to clone it onto another unit.\n"
     "  --port P           COM number P, or on Linux a device path\n"
     "  -o, --output FILE  the file written\n"
     "  --json             JSON Lines on standard output\n"},
    {"restore", " port json ", true,
     "Usage: qamtool restore FILE --port P [--json]\n"
     "Writes the channel settings saved in FILE into the module on port P: FILE checked whole before\n"
     "any port is opened, refused for a module of another tuner type; the module's current settings\n"
     "saved first (the backups folder), then erased, then FILE's written as the update writes them.\n"
     "  --port P  COM number P, or on Linux a device path\n"
     "  --json    JSON Lines on standard output\n"},
    {"backups", " json ", false,
     "Usage: qamtool backups [--json]\n"
     "Lists the settings saved before updates: pending ones (not written back) first, then the last\n"
     "20 settled, each with its port, identification, time and file.\n"
     "  --json  JSON Lines on standard output\n"},
    {UNIT_COMMAND, " port label file size sha256 auto interval use-saved-settings record ", false, ""},
};

enum OptionId {
    HELP = 'h',
    JSON = 'j',
    PROBE = 256,
    PORT,
    NO_KEEP,
    CONTINUE,
    RESET,
    PORTS,
    AUTO,
    INTERVAL,
    RECORD,
    FILE_NAME,
    SIZE,
    SHA,
    LABEL,
    USE_SAVED,
    SETTINGS_FROM,
    OUTPUT = 'o'
};

constexpr option ALL_OPTIONS[] = {
    {"help", no_argument, nullptr, HELP},
    {"json", no_argument, nullptr, JSON},
    {"probe", no_argument, nullptr, PROBE},
    {"port", required_argument, nullptr, PORT},
    {"no-keep-settings", no_argument, nullptr, NO_KEEP},
    {"continue-without-backup", no_argument, nullptr, CONTINUE},
    {"reset", no_argument, nullptr, RESET},
    {"ports", required_argument, nullptr, PORTS},
    {"auto", no_argument, nullptr, AUTO},
    {"interval", required_argument, nullptr, INTERVAL},
    {"record", required_argument, nullptr, RECORD},
    {"file", required_argument, nullptr, FILE_NAME},
    {"size", required_argument, nullptr, SIZE},
    {"sha256", required_argument, nullptr, SHA},
    {"label", required_argument, nullptr, LABEL},
    {"use-saved-settings", no_argument, nullptr, USE_SAVED},
    {"settings-from", required_argument, nullptr, SETTINGS_FROM},
    {"output", required_argument, nullptr, OUTPUT},
};

// Whether the command's list of long options names this one.
bool Takes(const Command& command, std::string_view name) {
    const std::string_view list = command.options;
    for (std::size_t at = list.find(name); at != std::string_view::npos; at = list.find(name, at + 1)) {
        if (list[at - 1] == ' ' && list[at + name.size()] == ' ') {
            return true;
        }
    }
    return false;
}

ParsedCommandLine Refuse(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "%s%s%s: %s\nTry '%s%s%s --help'.\n", PROGRAM, command.empty() ? "" : " ",
                 command.c_str(), message.c_str(), PROGRAM, command.empty() ? "" : " ", command.c_str());
    return ParsedCommandLine{std::nullopt, STATUS_USAGE};
}

ParsedCommandLine Help(const char* text) {
    std::fputs(text, stdout);
    return ParsedCommandLine{std::nullopt, STATUS_SUCCESS};
}

template <typename Number> bool ParseNumber(const char* text, Number& number, Number least, Number most) {
    const char* end = text + std::strlen(text);
    const auto [stop, problem] = std::from_chars(text, end, number);
    return *text != '\0' && problem == std::errc() && stop == end && number >= least && number <= most;
}

std::optional<std::vector<PortArgument>> ParsePortList(std::string_view list) {
    std::vector<PortArgument> ports;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::string_view item = list.substr(start, comma - start);
        item.remove_prefix(std::min(item.find_first_not_of(" \t"), item.size())); // "1, 2"
        const auto port = ParsePort(item);
        if (!port) {
            return std::nullopt;
        }
        ports.push_back(*port);
        start = comma + 1;
    }
    return ports;
}

// Each port given must stand for a device now (a COM number beyond the ports present, or without
// its link in a ports directory, is a mistake of the line), and a station's ports for different
// devices. Empty when all is well.
std::string PortProblem(const Options& options) {
    std::vector<PortArgument> given = options.ports;
    if (options.port) {
        given.push_back(*options.port);
    }
    std::vector<std::string> devices;
    for (const PortArgument& port : given) {
        const std::string device = ResolveDevice(port);
        if (device.empty()) {
            return "port " + port.label + " stands for no device";
        }
        const auto twice = std::find(devices.begin(), devices.end(), device);
        if (twice != devices.end()) {
            return "ports " + given[static_cast<std::size_t>(twice - devices.begin())].label + " and " +
                   port.label + " are the same device " + device;
        }
        devices.push_back(device);
    }
    return {};
}

} // namespace

ParsedCommandLine ParseCommandLine(int argc, char** argv) {
    if (argc < 2) {
        return Refuse("", "no command given");
    }
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        return Help(GENERAL_HELP);
    }
    const Command* command = nullptr;
    for (const Command& candidate : COMMANDS) {
        if (first == candidate.name) {
            command = &candidate;
        }
    }
    if (command == nullptr) {
        return Refuse("", "unknown command '" + std::string(first) + "'");
    }
    const std::string name = command->name;

    std::vector<option> accepted;
    for (const option& candidate : ALL_OPTIONS) {
        if (candidate.val == HELP || Takes(*command, candidate.name)) {
            accepted.push_back(candidate);
        }
    }
    accepted.push_back(option{nullptr, 0, nullptr, 0});

    // getopt_long takes a prefix for the whole name ("--res" for "--reset"): only whole names here.
    for (int i = 2; i < argc && std::string_view(argv[i]) != "--"; ++i) {
        const std::string_view argument = argv[i];
        if (!argument.starts_with("--")) {
            continue;
        }
        const std::string_view given = argument.substr(2, argument.find('=') - 2);
        const auto known = std::find_if(accepted.begin(), accepted.end() - 1,
                                        [&](const option& o) { return given == o.name; });
        if (known == accepted.end() - 1) {
            return Refuse(name, "unknown option '" + std::string(argument) + "'");
        }
        i += known->has_arg == required_argument && argument.find('=') == std::string_view::npos ? 1 : 0;
    }

    Options options;
    options.command = name;
    bool intervalGiven = false;
    opterr = 0;
    optind = 0; // starts getopt afresh
    char** arguments = argv + 1;
    const int count = argc - 1;
    for (;;) {
        const int id = getopt_long(count, arguments, Takes(*command, "output") ? ":ho:" : ":h",
                                   accepted.data(), nullptr);
        if (id == -1) {
            break;
        }
        const char* value = optarg;
        switch (id) {
        case HELP:
            return Help(command->help);
        case JSON:
            options.json = true;
            break;
        case PROBE:
            options.probe = true;
            break;
        case PORT:
            options.port = ParsePort(value);
            if (!options.port) {
                return Refuse(name, "'" + std::string(value) + "' is no port: give a COM number (1 to " +
                                        std::to_string(MOST_COM) + ") or, on Linux, a device path");
            }
            break;
        case NO_KEEP:
            options.keepSettings = false;
            break;
        case CONTINUE:
            options.continueWithoutBackup = true;
            break;
        case RESET:
            options.reset = true;
            break;
        case PORTS: {
            const auto ports = ParsePortList(value);
            if (!ports) {
                return Refuse(name, "'" + std::string(value) +
                                        "' is no list of ports: give COM numbers or, on Linux, device paths, "
                                        "separated by commas");
            }
            options.ports = *ports;
            break;
        }
        case AUTO:
            options.autoMode = true;
            break;
        case INTERVAL:
            intervalGiven = true;
            if (!ParseNumber(value, options.intervalSeconds, 1, MOST_INTERVAL)) {
                return Refuse(name, "'" + std::string(value) +
                                        "' is no interval: give whole seconds from 1 to " +
                                        std::to_string(MOST_INTERVAL));
            }
            break;
        case RECORD:
            options.record = value;
            break;
        case FILE_NAME:
            options.file = value;
            break;
        case SIZE:
            if (!ParseNumber<std::int64_t>(value, options.imageSize, 0, INT64_MAX)) {
                return Refuse(name, "bad size");
            }
            break;
        case SHA:
            options.sha256 = value;
            break;
        case LABEL:
            options.label = value;
            break;
        case USE_SAVED:
            options.useSavedSettings = true;
            break;
        case SETTINGS_FROM:
            options.settingsFrom = value;
            break;
        case OUTPUT:
            options.output = value;
            break;
        case ':':
            return Refuse(name, "option '" + std::string(arguments[optind - 1]) + "' needs a value");
        default:
            return Refuse(name, "unknown option '" + std::string(arguments[optind - 1]) + "'");
        }
    }
    // getopt takes the command's name for the program's and moves what is no option behind the options.
    std::vector<std::string> positional(arguments + optind, arguments + count);
    if (command->takesFile) {
        if (positional.empty()) {
            return Refuse(name,
                          name == "restore" ? "no file of saved settings given" : "no update file given");
        }
        options.file = positional.front();
        positional.erase(positional.begin());
    }
    if (!positional.empty()) {
        return Refuse(name, "unexpected argument '" + positional.front() + "'");
    }
    if (name == "station" && options.ports.empty()) {
        return Refuse(name, "--ports LIST is needed");
    }
    // An option that would change nothing is a mistake of the line, not to be passed over.
    if (intervalGiven && !options.autoMode) {
        return Refuse(name, "--interval works only with --auto");
    }
    if (options.continueWithoutBackup && !options.keepSettings) {
        return Refuse(name, "--continue-without-backup has no effect with --no-keep-settings");
    }
    if (name == "station" && options.autoMode && options.useSavedSettings) {
        // One unit's settings must never reach another, and the units of a line look alike.
        return Refuse(name, "--use-saved-settings does not go with --auto");
    }
    if (options.useSavedSettings && !options.settingsFrom.empty()) {
        return Refuse(name, "--use-saved-settings and --settings-from do not go together");
    }
    if ((name == "backup" || name == "restore") && !options.port) {
        return Refuse(name, "--port P is needed");
    }
    if (name == "backup" && options.output.empty()) {
        return Refuse(name, "-o FILE is needed");
    }
    if (name != UNIT_COMMAND) {
        if (const std::string problem = PortProblem(options); !problem.empty()) {
            return Refuse(name, problem);
        }
    }
    return ParsedCommandLine{options, STATUS_SUCCESS};
}

} // namespace qam::cli
