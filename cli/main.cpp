#include "cli/BackupCommands.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"

#include <cstdio>
#include <exception>
#include <string_view>

int main(int argc, char** argv) {
    using namespace qam::cli;
    // A reader of the output that goes away (| head, a station's parent) must not end a flash write.
    console::IgnoreBrokenPipe();
    try {
        const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
        if (!parsed.options) {
            return parsed.exitStatus;
        }
        const Options& options = *parsed.options;
        const std::string_view command = options.command;
        if (command == "ports") {
            return RunPorts(options);
        }
        if (command == "identify") {
            return RunIdentify(options);
        }
        if (command == "update") {
            return RunUpdate(options);
        }
        if (command == "defaults") {
            return RunDefaults(options);
        }
        if (command == "station") {
            return RunStation(options);
        }
        if (command == "backup") {
            return RunBackup(options);
        }
        if (command == "restore") {
            return RunRestore(options);
        }
        if (command == "backups") {
            return RunBackups(options);
        }
        return RunStationUnit(options);
    } catch (const std::exception& error) {
        // The module's own steps never throw past their result; this is the tool's own failure.
        std::fprintf(stderr, "qamtool: %s\n", error.what());
        return STATUS_UNKNOWN_STATE;
    }
}
