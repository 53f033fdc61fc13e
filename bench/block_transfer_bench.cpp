// Block send of a whole flash section (262,144 bytes) and block receive of 64 KiB through the real
// link against the in-process simulator: paced at the line's limit (115200 baud, 11 bits a byte),
// then unpaced, where the tool's own cost per byte shows.

#include "bench/BenchKit.h"
#include "framework/Wnd.h"
#include "framework/headless/Desktop.h"
#include "link/ComDevice.h"
#include "link/PortsDirectory.h"
#include "tools/module-sim/ModuleSimulator.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace bench = qam::bench;

constexpr int kPort = 1;
constexpr int kSectionLength = 0x40000;
constexpr int kReceiveLength = 65536;
constexpr double kSendTarget = 0.97;
constexpr double kMiB = 1024.0 * 1024.0;

struct Measure {
    double seconds = 0;
    double toolCpu = 0;    // the thread that runs the link, as the window's thread would
    double processCpu = 0; // with the simulator's thread
    bool ok = true;
};

class Bench {
public:
    explicit Bench(bool paced) {
        char pattern[] = "/tmp/qam-bench-XXXXXX";
        m_directory = ::mkdtemp(pattern);
        qam::sim::Scenario scenario;
        scenario.paced = paced;
        scenario.blockReceiveLength = kReceiveLength;
        m_simulator = std::make_unique<qam::sim::ModuleSimulator>(scenario);
        m_simulator->LinkAsPort(m_directory, kPort);
        qam::link::SetPortsDirectory(m_directory);
        headless::Desktop::Instance().Reset();
        m_progress = CWnd(headless::Desktop::Instance().AddWindow(1004, "msctls_progress32"));
        m_open = m_device.Open(kPort, 115200, 1, 0) == 1;
    }
    ~Bench() {
        m_device.Close();
        m_simulator.reset();
        std::filesystem::remove_all(m_directory);
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    Measure SendSection(const std::vector<std::uint8_t>& data) {
        std::array<char, 4> reply{};
        SetCommandTimeouts(m_device, 20000); // as the download sets them for a section
        Measure measure;
        measure.ok = m_open && m_device.ExecuteCommand("CAPP", 4, reply.data(), 4, false) == RESULT_OK;
        const double tool = bench::CpuSeconds(RUSAGE_THREAD);
        const double process = bench::CpuSeconds(RUSAGE_SELF);
        const auto start = Clock::now();
        measure.ok = measure.ok && m_device.SendBlock("UAPP", data.data(), static_cast<int>(data.size()),
                                                      reply.data(), 4, &m_progress) == RESULT_OK;
        measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        measure.toolCpu = bench::CpuSeconds(RUSAGE_THREAD) - tool;
        measure.processCpu = bench::CpuSeconds(RUSAGE_SELF) - process;
        return measure;
    }

    Measure ReceiveBlock(std::vector<std::uint8_t>& destination) {
        SetCommandTimeouts(m_device, 5000);
        Measure measure;
        int capacity = static_cast<int>(destination.size());
        const double tool = bench::CpuSeconds(RUSAGE_THREAD);
        const double process = bench::CpuSeconds(RUSAGE_SELF);
        const auto start = Clock::now();
        measure.ok =
            m_open &&
            m_device.ReceiveBlock("RSTA", 4, destination.data(), capacity, &m_progress) == RESULT_OK &&
            capacity == kReceiveLength;
        measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        measure.toolCpu = bench::CpuSeconds(RUSAGE_THREAD) - tool;
        measure.processCpu = bench::CpuSeconds(RUSAGE_SELF) - process;
        return measure;
    }

private:
    std::string m_directory;
    std::unique_ptr<qam::sim::ModuleSimulator> m_simulator;
    CComDevice m_device;
    CWnd m_progress;
    bool m_open = false;
};

void Report(const char* what, double bytes, const Measure& m, bool paced) {
    const double rate = bytes / m.seconds;
    std::printf("%-34s %s  %9.0f bytes in %7.3f s  %12.1f B/s", what, m.ok ? "ok    " : "FAILED", bytes,
                m.seconds, rate);
    if (paced) {
        std::printf("  ratio to line %.4f", rate / bench::LINE_BYTES_PER_SECOND);
    } else {
        std::printf("  CPU s/MiB: tool %.4f, with simulator %.4f", m.toolCpu / (bytes / kMiB),
                    m.processCpu / (bytes / kMiB));
    }
    std::printf("\n");
}

} // namespace

int main() {
    std::vector<std::uint8_t> section(kSectionLength);
    for (std::size_t i = 0; i < section.size(); ++i) {
        section[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    std::vector<std::uint8_t> destination(kReceiveLength);
    bool ok = true;

    std::printf(
        "block transfers through the link; the line's limit is %.1f B/s (115200 baud, 11 bits a byte)\n",
        bench::LINE_BYTES_PER_SECOND);
    {
        Bench paced(true);
        const Measure send = paced.SendSection(section);
        Report("paced SendBlock 262144", kSectionLength, send, true);
        const double ratio = kSectionLength / send.seconds / bench::LINE_BYTES_PER_SECOND;
        std::printf("  SendBlock target ratio >= %.2f: %s\n", kSendTarget,
                    ratio >= kSendTarget ? "met" : "NOT MET");
        const Measure receive = paced.ReceiveBlock(destination);
        Report("paced ReceiveBlock 65536", kReceiveLength, receive, true);
        ok = ok && send.ok && receive.ok;
    }
    {
        Bench unpaced(false);
        constexpr int kRounds = 4;
        Measure total;
        for (int i = 0; i < kRounds; ++i) {
            const Measure one = unpaced.SendSection(section);
            total.ok = total.ok && one.ok;
            total.seconds += one.seconds;
            total.toolCpu += one.toolCpu;
            total.processCpu += one.processCpu;
        }
        Report("unpaced SendBlock 4 x 262144", static_cast<double>(kRounds) * kSectionLength, total, false);
        Measure receive;
        for (int i = 0; i < kRounds * 4; ++i) {
            const Measure one = unpaced.ReceiveBlock(destination);
            receive.ok = receive.ok && one.ok;
            receive.seconds += one.seconds;
            receive.toolCpu += one.toolCpu;
            receive.processCpu += one.processCpu;
        }
        Report("unpaced ReceiveBlock 16 x 65536", static_cast<double>(kRounds) * 4 * kReceiveLength, receive,
               false);
        ok = ok && total.ok && receive.ok;
    }
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
