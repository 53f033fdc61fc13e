// One whole update, the window's own sequence on headless windows, against the in-process
// simulator paced at the line's limit: sections of 256 KiB, 256 KiB and 64 KiB, both channels
// backed up and restored with 8192 filter bits set each. The wall time is set against the least
// the line and the module allow; the window's thread CPU and the filter bits' exchanges show
// what the tool itself costs.

#include "bench/BenchKit.h"
#include "common/Resource.h"
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "link/PortsDirectory.h"
#include "module/ModuleProxy.h"
#include "module/ModuleSearch.h"
#include "tools/module-sim/ModuleSimulator.h"
#include "update/UpdateFileWriter.h"
#include "update/UpdateSequence.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace bench = qam::bench;
namespace sim = qam::sim;

constexpr int kPort = 1;
constexpr double kResetWaitSeconds = 9.0;
constexpr double kExchangeWireSeconds = 8.0 / bench::LINE_BYTES_PER_SECOND; // "p+" out, "OK\r\n" back

constexpr double kRatioTarget = 1.05;
constexpr double kCpuTarget = 0.03;
constexpr double kExchangeTarget = 1.1;

sim::Scenario Module() {
    sim::Scenario scenario = bench::PacedModule();
    for (auto& channel : scenario.channels) {
        channel.filter = sim::Bytes(1024, 0xFF);
    }
    return scenario;
}

// The least time one "p+" exchange takes against this simulator: a client that does nothing but
// write the command and read the reply, straight on the line. What it takes beyond the wire time
// is the simulator's (and the terminal's) own turnaround.
double ReferenceExchangeSeconds(const std::string& devicePath, int exchanges) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    const unsigned char select[4] = {'c', '0', '0', '0'};
    unsigned char reply[4];
    auto exchange = [&](const unsigned char* command) {
        if (::write(fd, command, 4) != 4) {
            return false;
        }
        for (int got = 0; got < 4;) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 1000) <= 0) {
                return false;
            }
            const ssize_t n = ::read(fd, reply + got, static_cast<std::size_t>(4 - got));
            if (n <= 0) {
                return false;
            }
            got += static_cast<int>(n);
        }
        return true;
    };
    double seconds = 0;
    if (exchange(select)) {
        const auto start = Clock::now();
        int done = 0;
        for (; done < exchanges; ++done) {
            const unsigned char bit[4] = {'p', '+', static_cast<unsigned char>(done & 0xFF),
                                          static_cast<unsigned char>((done >> 8) & 0x1F)};
            if (!exchange(bit)) {
                break;
            }
        }
        seconds = done == 0 ? 0 : std::chrono::duration<double>(Clock::now() - start).count() / done;
    }
    ::close(fd);
    return seconds;
}

struct Run {
    double wall = 0;
    double cpu = 0;
    std::string status;
    int boxes = 0; // the error box of a failed run
};

} // namespace

int main() {
    // The default timer slack of 50 us would add to every paced byte's wake-up of the simulator's
    // thread (created below, it inherits this), a delay no UART has.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    char pattern[] = "/tmp/qam-whole-bench-XXXXXX";
    const std::string directory = ::mkdtemp(pattern);
    const std::string path = directory + "/bench.qam";
    {
        qam::update::UpdateFileParts parts;
        parts.bitFileName = "fpga.bit";
        parts.dumpFileName = "app.dmp";
        parts.fpga = qam::update::SectionInput{bench::Pattern(0x40000, 1), true, std::nullopt};
        parts.appCode = qam::update::SectionInput{bench::Pattern(0x40000, 2), true, std::nullopt};
        parts.appData = qam::update::SectionInput{bench::Pattern(0x10000, 3), true, std::nullopt};
        const qam::update::Bytes file = qam::update::BuildUpdateFile(parts);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }

    const sim::Scenario scenario = Module();
    sim::ModuleSimulator simulator(scenario);
    simulator.LinkAsPort(directory, kPort);
    qam::link::SetPortsDirectory(directory);

    // The window's controls, in memory: the sequence writes its texts and moves its bar there.
    headless::Desktop& desktop = headless::Desktop::Instance();
    const CWnd dialog(desktop.AddWindow(0, "#32770"));
    for (const int id : {IDC_UPDATE, IDC_DEFAULT_SETTINGS, IDC_STATUS_UPPER, IDC_SELECT_FILE, IDC_PROGRESS,
                         IDC_STATUS_LOWER, IDC_SEARCH_MODULE, IDC_KEEP_SETTINGS}) {
        desktop.AddWindow(id, "Static", dialog.m_hWnd);
    }
    CComDevice link;
    CWnd progress = dialog.GetDlgItem(IDC_PROGRESS);
    CWnd statusLine = dialog.GetDlgItem(IDC_STATUS_LOWER);
    CModuleProxy proxy;
    proxy.m_comDevice = &link;
    proxy.m_progressBar = &progress;
    proxy.m_statusLine = &statusLine;
    SearchState search;
    search.portCount = 1;
    search.preferredPort = kPort;

    Run run;
    if (qam::module::SearchModule(link, proxy, search, dialog) == 0) {
        std::printf("whole update: no module found\n");
        return EXIT_FAILURE;
    }
    const std::size_t traceStart = simulator.Trace().size();
    const Clock::time_point start = Clock::now();
    const double cpuStart = bench::CpuSeconds(RUSAGE_THREAD);
    const ResultCode result =
        qam::update::RunUpdate(qam::update::UpdateContext{link, proxy, search, dialog, path, 1});
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = bench::CpuSeconds(RUSAGE_THREAD) - cpuStart;
    run.status = statusLine.GetWindowText();
    run.boxes = result == RESULT_OK ? 0 : 1;

    const std::vector<sim::TraceEntry> trace = simulator.Trace();
    const sim::ModuleState state = simulator.State();
    double wireBytes = 0;
    int erases = 0;
    std::vector<double> bitTimes;
    for (std::size_t i = traceStart; i < trace.size(); ++i) {
        const sim::TraceEntry& entry = trace[i];
        wireBytes += static_cast<double>(entry.bytes.size());
        const std::string text(entry.bytes.begin(), entry.bytes.end());
        if (entry.direction == sim::Direction::ToModule &&
            (text == "CPRM" || text == "CPLD" || text == "CAPD" || text == "CAPP")) {
            ++erases;
        }
        if (entry.direction == sim::Direction::ToModule && text.rfind("p+", 0) == 0 &&
            entry.bytes.size() == 4) {
            bitTimes.push_back(static_cast<double>(entry.time.count()) / 1e6);
        }
    }
    if (std::getenv("QAM_BENCH_TRACE") != nullptr) {
        for (std::size_t i = trace.size() > 12 ? trace.size() - 12 : 0; i < trace.size(); ++i) {
            std::printf("  trace %d %.3f %s\n", trace[i].exchange,
                        static_cast<double>(trace[i].time.count()) / 1e6, sim::Describe(trace[i]).c_str());
        }
    }
    const double wireSeconds = wireBytes / bench::LINE_BYTES_PER_SECOND;
    const double eraseSeconds = erases * bench::ERASE_MS / 1000.0;
    const double restartSeconds = bench::RESTART_MS / 1000.0;
    const double modelled = wireSeconds + eraseSeconds + restartSeconds + kResetWaitSeconds;
    // The restart runs inside the reset wait: without it the least time the tool can take.
    const double strict = wireSeconds + eraseSeconds + kResetWaitSeconds;

    // Successive filter bits of one run: their command-to-command interval is one whole exchange.
    double cycleSum = 0;
    int cycles = 0;
    for (std::size_t i = 1; i < bitTimes.size(); ++i) {
        const double interval = bitTimes[i] - bitTimes[i - 1];
        if (interval < 0.1) { // the channel change between the two runs of bits is not one
            cycleSum += interval;
            ++cycles;
        }
    }
    const double reference = ReferenceExchangeSeconds(simulator.DevicePath(), 2000);
    const double turnaround = std::max(0.0, reference - kExchangeWireSeconds);
    const double cycle = cycles == 0 ? 0 : cycleSum / cycles;
    const double exchangeMinimum = kExchangeWireSeconds + turnaround;

    const double ratio = run.wall / modelled;
    const double cpuShare = run.cpu / run.wall;
    const double exchangeRatio = cycle / exchangeMinimum;

    std::printf("whole update (paced; sections 256 KiB, 256 KiB, 64 KiB; 2 x 8192 filter bits; erase %d ms, "
                "restart %d ms)\n",
                bench::ERASE_MS, bench::RESTART_MS);
    std::printf("  result                 %s, %d boxes, %zu/%zu/%zu bytes in flash, %d commits\n",
                run.status.c_str(), run.boxes, state.flash[0].size(), state.flash[1].size(),
                state.flash[2].size(), state.commits);
    std::printf("  wall time              %8.2f s\n", run.wall);
    std::printf("  modelled minimum       %8.2f s  (wire %.2f s for %.0f bytes, %d erases %.2f s, restart "
                "%.2f s, wait %.0f s)\n",
                modelled, wireSeconds, wireBytes, erases, eraseSeconds, restartSeconds, kResetWaitSeconds);
    std::printf("  ratio                  %8.3f    (target <= %.2f)%s\n", ratio, kRatioTarget,
                ratio <= kRatioTarget ? "" : "  MISSED");
    std::printf("  ratio, restart inside the wait  %.3f  (minimum %.2f s)\n", run.wall / strict, strict);
    std::printf("  tool CPU               %8.3f s = %.2f %% of wall  (target <= %.0f %%)%s\n", run.cpu,
                100 * cpuShare, 100 * kCpuTarget, cpuShare <= kCpuTarget ? "" : "  MISSED");
    std::printf("  p+ exchange            %8.3f ms mean over %d  (wire %.3f ms + simulator turnaround %.3f "
                "ms = %.3f ms; "
                "%.3f x, target <= %.1f)%s\n",
                1000 * cycle, cycles, 1000 * kExchangeWireSeconds, 1000 * turnaround, 1000 * exchangeMinimum,
                exchangeRatio, kExchangeTarget, exchangeRatio <= kExchangeTarget ? "" : "  MISSED");

    std::filesystem::remove_all(directory);
    const bool ok = run.status == "Update Successful" && run.boxes == 0;
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
