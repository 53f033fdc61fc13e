#ifdef _WIN32
#include "framework/win32/Windows.h"
#endif

#include "tests/support/Kit.h"

#include "link/PortsDirectory.h"
#include "module/SettingsBackups.h"
#include "ui/UpdaterDialog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace qam::test {

sim::Fault FaultOn(sim::FaultKind kind, const std::string& command, int occurrence) {
    sim::Fault fault = FaultAt(kind, 0);
    fault.command = command;
    fault.occurrence = occurrence;
    return fault;
}

sim::Fault FaultAt(sim::FaultKind kind, int exchange) {
    sim::Fault fault;
    fault.kind = kind;
    fault.atExchange = exchange;
    return fault;
}

std::vector<std::string> SentLines(const std::vector<sim::TraceEntry>& trace, std::size_t from) {
    std::vector<std::string> lines;
    for (std::size_t i = from; i < trace.size(); ++i) {
        if (trace[i].direction == sim::Direction::ToModule) {
            char shown[32];
            std::string line;
            for (const std::uint8_t byte : trace[i].bytes) {
                std::snprintf(shown, sizeof shown, byte >= 0x20 && byte < 0x7F ? "%c" : "\\x%02X", byte);
                line.append(shown);
            }
            std::snprintf(shown, sizeof shown, "[%zu bytes]", trace[i].bytes.size());
            lines.push_back(trace[i].bytes.size() > 8 ? shown : line);
        }
    }
    return lines;
}

std::vector<std::string> Commands(const std::vector<sim::TraceEntry>& trace, std::size_t from) {
    std::vector<std::string> commands;
    int last = 0;
    for (std::size_t i = from; i < trace.size(); ++i) {
        if (trace[i].direction == sim::Direction::ToModule && trace[i].exchange != last &&
            trace[i].exchange != 0) {
            commands.emplace_back(trace[i].bytes.begin(), trace[i].bytes.end());
            last = trace[i].exchange;
        }
    }
    return commands;
}

update::Bytes SectionData(std::size_t length, std::uint8_t seed) {
    update::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    return bytes;
}

update::UpdateFileParts ThreeSections(std::size_t fpga, std::size_t code, std::size_t data) {
    update::UpdateFileParts parts;
    parts.bitFileName = "fpga.bit";
    parts.dumpFileName = "app.dmp";
    parts.fpga = update::SectionInput{SectionData(fpga, 1), false, std::nullopt};
    parts.appCode = update::SectionInput{SectionData(code, 2), false, std::nullopt};
    parts.appData = update::SectionInput{SectionData(data, 3), false, std::nullopt};
    return parts;
}

#ifdef _WIN32

namespace {
constexpr const char* KEY = "System\\CurrentControlSet\\Services\\Orvane\\NUV2";

void StoreValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(
        ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
}
} // namespace

void ForgetSettings() {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, KEY);
}

void StoreSetting(const char* name, const std::string& text) {
    StoreValue(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size()));
}

void StoreSetting(const char* name, std::uint32_t number) {
    StoreValue(name, REG_DWORD, &number, sizeof number);
}

// A text's bytes and length as stored, but for one terminator: Windows itself stores one behind a
// text written without it when a zero follows in memory, so that only the settings file can show
// a terminator the program wrote.
std::optional<std::string> StoredSetting(const char* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, KEY_READ, &key) != 0) {
        return std::nullopt;
    }
    DWORD type = 0;
    char data[512] = {};
    DWORD size = sizeof data;
    const LONG read = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (read != 0) {
        return std::nullopt;
    }
    if (type == REG_DWORD && size == sizeof(std::uint32_t)) {
        return std::to_string(*reinterpret_cast<const std::uint32_t*>(data));
    }
    return std::string(data, size > 0 && data[size - 1] == '\0' ? size - 1 : size);
}

#else

namespace {

std::filesystem::path SettingsFile() {
    static const TempDir config;
    static const bool pointed = ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1) == 0;
    static_cast<void>(pointed);
    return config.Path() / "qamupdate" / "qamupdate.conf";
}

std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    std::ifstream file(SettingsFile());
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

void StoreLine(const char* name, const std::string& value) {
    std::vector<std::string> lines = Lines();
    std::erase_if(lines,
                  [name](const std::string& line) { return line.rfind(std::string(name) + "=", 0) == 0; });
    lines.push_back(std::string(name) + "=" + value);
    std::filesystem::create_directories(SettingsFile().parent_path());
    std::ofstream file(SettingsFile());
    for (const std::string& line : lines) {
        file << line << '\n';
    }
}

} // namespace

void ForgetSettings() {
    std::filesystem::remove(SettingsFile());
}

void StoreSetting(const char* name, const std::string& text) {
    StoreLine(name, text);
}

void StoreSetting(const char* name, std::uint32_t number) {
    StoreLine(name, std::to_string(static_cast<std::int32_t>(number)));
}

std::optional<std::string> StoredSetting(const char* name) {
    for (const std::string& line : Lines()) {
        if (line.rfind(std::string(name) + "=", 0) == 0) {
            return line.substr(std::string(name).size() + 1);
        }
    }
    return std::nullopt;
}

#endif

namespace {

// Backups saved by earlier cases would be offered to this one: each case starts without any. The
// question that offers one shows its time in UTC.
void ForgetSavedBackups() {
#ifdef _WIN32
    ::_putenv_s("TZ", "UTC0");
    ::_tzset();
#else
    static const TempDir state;
    ::setenv("XDG_STATE_HOME", state.Path().c_str(), 1);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
#endif
    std::error_code ignored;
    std::filesystem::remove_all(module::BackupsDirectory().value_or(""), ignored);
}

} // namespace

void WindowTest::SetUp() {
#ifndef _WIN32
    // A ports directory of the test's own, whose links alone decide: the host's serial devices
    // never take part.
    std::filesystem::create_directories(m_dir.Path() / "ports");
    std::filesystem::create_symlink("/nonexistent", m_dir.Path() / "ports" / "com999");
    qam::link::SetPortsDirectory((m_dir.Path() / "ports").string());
#endif
    Desk().Reset();
    ForgetSettings();
    ClearAskedTimeouts();
}

void WindowTest::TearDown() {
    m_sim.reset();
    Desk().Reset();
    ScaleTimeoutConstants(1, 1);
}

void WindowTest::StartModule(const sim::Scenario& scenario) {
    m_sim.reset(); // the old one hands its ports directory back first
    m_sim = StartSimulator(scenario);
    ForgetSavedBackups();
    StoreSetting("LastCOM", std::uint32_t{4});
    StoreSetting("PrefCOM", static_cast<std::uint32_t>(m_sim->Port()));
}

void WindowTest::Run(CUpdaterDialog& dialog, std::vector<std::function<void()>> steps) {
    for (auto& step : steps) {
        Desk().Operate(std::move(step));
    }
    Desk().Operate([&dialog] { Press(dialog, IDCANCEL); });
    dialog.DoModal();
}

headless::Window& WindowTest::Control(const CWnd& dialog, int id) {
    return headless::Desktop::Instance().WindowOf(Item(dialog, id));
}

void WindowTest::Choose(const CWnd& dialog, const std::string& path) {
    Desk().ChooseFile(path);
    Press(dialog, IDC_SELECT_FILE);
}

void WindowTest::PostDefaults(const CWnd& dialog) {
    dialog.PostMessage(WM_COMMAND, MAKEWPARAM(IDC_DEFAULT_SETTINGS, BN_CLICKED),
                       reinterpret_cast<LPARAM>(Item(dialog, IDC_DEFAULT_SETTINGS)));
}

void WindowTest::ExpectFinished(const CWnd& dialog) {
    EXPECT_TRUE(dialog.IsWindowEnabled());
    EXPECT_EQ(fw::WaitCursorCount(), 0);
    EXPECT_TRUE(Desk().cursor.empty() || !Desk().cursor.back());
    EXPECT_TRUE(Desk().awake.empty() || !Desk().awake.back());
}

} // namespace qam::test

#include "tests/support/Proof.h"

namespace qam::test {

ProofTally::~ProofTally() {
    for (const auto& [name, row] : m_rows) {
        std::printf("PROOF class=%s tried=%d passed=%d failed=%d longest_ms=%lld bound_ms=%lld%s\n",
                    name.c_str(), row.tried, row.passed, row.tried - row.passed, row.longestMs, row.boundMs,
                    row.extra.c_str());
    }
    std::fflush(stdout);
}

void ProofTally::Record(const std::string& name, bool passed, std::chrono::milliseconds took,
                        std::chrono::milliseconds bound) {
    Row& row = m_rows[name];
    ++row.tried;
    row.passed += passed ? 1 : 0;
    // The figure that matters is the run closest to its bound.
    if (bound.count() > 0 &&
        (row.boundMs == 0 || took.count() * row.boundMs > row.longestMs * bound.count())) {
        row.longestMs = took.count();
        row.boundMs = bound.count();
    }
}

int FailedParts() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i) {
        failed += result->GetTestPartResult(i).failed() ? 1 : 0;
    }
    return failed;
}

} // namespace qam::test
