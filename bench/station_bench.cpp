// qamtool station against 16 simulated modules paced at the line's limit, each a whole update of
// three sections, set against the same update of one module: the wall time of the sixteen over
// that of one, each unit's slowest block transfer against the line rate, and the tool's CPU time
// (the station and its units, all of qamtool's processes) as a share of one core over the wall time.

#include "bench/BenchKit.h"
#include "tools/module-sim/ModuleSimulator.h"
#include "update/UpdateFileWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace bench = qam::bench;
namespace sim = qam::sim;

constexpr int kUnits = 16;
constexpr double kWallTarget = 1.10;
constexpr double kRateTarget = 0.95;
constexpr double kCpuTarget = 0.10;
const char* const kUploads[] = {"UPLD", "UAPD", "UAPP"};

struct Run {
    double wall = 0;
    double cpu = 0;
    int status = -1;
    std::vector<double> rates; // each unit's slowest block transfer, bytes per second
};

// Bytes of a block's data over the time from its length word to its last byte, as the module took them.
double SlowestBlockRate(const std::vector<sim::TraceEntry>& trace) {
    double slowest = 0;
    for (std::size_t i = 0; i + 2 < trace.size(); ++i) {
        const std::string command(trace[i].bytes.begin(), trace[i].bytes.end());
        const bool upload =
            std::find(std::begin(kUploads), std::end(kUploads), command) != std::end(kUploads);
        // The command, its "OK", the length word, the data.
        if (upload && i + 3 < trace.size() && trace[i + 3].bytes.size() > 4) {
            const double seconds = static_cast<double>((trace[i + 3].time - trace[i + 2].time).count()) / 1e6;
            const double rate = static_cast<double>(trace[i + 3].bytes.size()) / seconds;
            slowest = slowest == 0 ? rate : std::min(slowest, rate);
        }
    }
    return slowest;
}

Run Station(const std::string& directory, const std::string& file, int units) {
    std::vector<std::unique_ptr<sim::ModuleSimulator>> modules;
    std::string ports;
    for (int i = 0; i < units; ++i) {
        modules.push_back(std::make_unique<sim::ModuleSimulator>(bench::PacedModule()));
        ports += (i == 0 ? "" : ",") + modules.back()->DevicePath();
    }
    const std::string record = directory + "/record-" + std::to_string(units) + ".csv";
    const std::string output = directory + "/events-" + std::to_string(units) + ".jsonl";
    std::vector<std::string> arguments{QAM_QAMTOOL, "station",  file,   "--ports",
                                       ports,       "--record", record, "--json"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    Run run;
    const double cpuBefore = bench::CpuSeconds(RUSAGE_CHILDREN);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = bench::CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    posix_spawn_file_actions_destroy(&actions);
    for (const auto& module : modules) {
        run.rates.push_back(SlowestBlockRate(module->Trace()));
    }
    return run;
}

} // namespace

int main() {
    char pattern[] = "/tmp/qam-station-bench-XXXXXX";
    const std::string directory = ::mkdtemp(pattern);
    const std::string file = directory + "/bench.qam";
    {
        qam::update::UpdateFileParts parts;
        parts.bitFileName = "fpga.bit";
        parts.dumpFileName = "app.dmp";
        parts.fpga = qam::update::SectionInput{bench::Pattern(0x10000, 1), true, std::nullopt};
        parts.appCode = qam::update::SectionInput{bench::Pattern(0x10000, 2), true, std::nullopt};
        parts.appData = qam::update::SectionInput{bench::Pattern(0x8000, 3), true, std::nullopt};
        const qam::update::Bytes bytes = qam::update::BuildUpdateFile(parts);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    const Run one = Station(directory, file, 1);
    const Run many = Station(directory, file, kUnits);
    const double wallRatio = many.wall / one.wall;
    const double slowest =
        *std::min_element(many.rates.begin(), many.rates.end()) / bench::LINE_BYTES_PER_SECOND;
    const double cpuShare = many.cpu / many.wall;

    std::printf("station (paced; sections 64 KiB, 64 KiB, 32 KiB; erase 400 ms, restart 2000 ms)\n");
    std::printf("  one unit               %8.2f s  (exit %d)\n", one.wall, one.status);
    std::printf("  %d units at once       %8.2f s  (exit %d)\n", kUnits, many.wall, many.status);
    std::printf("  wall time ratio        %8.3f    (target <= %.2f)%s\n", wallRatio, kWallTarget,
                wallRatio <= kWallTarget ? "" : "  MISSED");
    std::printf("  block transfers        ");
    for (const double rate : many.rates) {
        std::printf(" %.3f", rate / bench::LINE_BYTES_PER_SECOND);
    }
    std::printf("  of the line rate (slowest block per unit; target >= %.2f)%s\n", kRateTarget,
                slowest >= kRateTarget ? "" : "  MISSED");
    std::printf("  tool CPU               %8.3f s = %.2f %% of one core  (target <= %.0f %%)%s\n", many.cpu,
                100 * cpuShare, 100 * kCpuTarget, cpuShare <= kCpuTarget ? "" : "  MISSED");

    std::filesystem::remove_all(directory);
    return one.status == 0 && many.status == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
