// The fault sweep: a clean update records every exchange; then each exchange in turn meets each
// fault that fits it, and the run must end in its bound with the code, boxes and final status the
// failure at that point calls for, the window enabled, the port as the command leaves it, no
// wait cursor and no sleep guard. The same for the factory-defaults command and the search.
// make check runs a sample (every class, every kind of exchange); QAM_PROOF_FULL=1 runs them all.
#include "tests/integration/ProofTally.h"
#include "tests/integration/UpdateWindow.h"
#include "tests/support/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using headless::Box;
using qam::test::ExchangeBox;
using qam::test::ProofCase;
using qam::test::ProofTally;
namespace sim = qam::sim;
using std::chrono::milliseconds;

constexpr const char* kBackupQuestion = "Do You Want To Continue ?";
constexpr const char* kResetQuestion = "Do You Want To Reset The Modul ?";
constexpr const char* kTunerChanged =
    "New Firmware Supports Other Tuner Type !\n Previous Settings will NOT Be Restored, Using Defaults.";
// What the wrong reply is: neither "OK\r\n" nor a length that fits, and 5 bytes, so that no
// identification read takes it for a module that needs resynchronising.
constexpr const char* kWrongReply = "NO\r\nX";
constexpr int kShortBytes = 2;
// Time-outs' total constants at a fortieth: a silence costs a fortieth of its real wait, and a
// block send's wait for its command's reply (20 s in the download, 25 s in the restore) stays
// under the second after which the module gives up a block whose length word does not come.
constexpr int kScaleDenominator = 40;

int OpenDescriptors() {
    return qam::test::OpenDescriptorCount();
}

milliseconds CpuTime() {
    return milliseconds(qam::test::ProcessCpuMilliseconds());
}

const char* KindName(sim::FaultKind kind) {
    switch (kind) {
    case sim::FaultKind::Silence:
        return "silence";
    case sim::FaultKind::ShortReply:
        return "short";
    case sim::FaultKind::WrongReply:
        return "wrong";
    case sim::FaultKind::RefuseBlock:
        return "refusal";
    case sim::FaultKind::HangUp:
        return "hangup";
    default:
        return "other";
    }
}

sim::Fault FaultAt(sim::FaultKind kind, int exchange) {
    sim::Fault fault;
    fault.kind = kind;
    fault.atExchange = exchange;
    fault.bytes = kind == sim::FaultKind::ShortReply ? kShortBytes : 0;
    if (kind == sim::FaultKind::WrongReply) {
        fault.reply = sim::ToBytes(kWrongReply);
    }
    return fault;
}

// Where in a command an exchange stands: the failure tables are per step.
enum class Step { StartSearch, Backup, ClearSettings, Download, Reset, Reconnect, Restore, Defaults };

struct Exchange {
    int number;
    std::string command; // the first four bytes the module received
    Step step;
};

bool IsBlockReceive(const std::string& c) { return c == "RSTA" || c == "RBLS"; }
bool IsBlockSend(const std::string& c) {
    return c == "UPLD" || c == "UAPP" || c == "UAPD" || c == "WBLS" || c == "WPLP";
}
bool IsBlockRequest(const std::string& c) { return IsBlockReceive(c) || IsBlockSend(c) || c == "RFLT"; }
// The restore's exchanges whose results are dropped.
bool IsIgnored(const std::string& c) { return !c.empty() && (c[0] == 'i' || c[0] == 'j'); }

std::vector<sim::FaultKind> FaultsFor(const Exchange& e) {
    std::vector<sim::FaultKind> kinds{sim::FaultKind::Silence, sim::FaultKind::ShortReply, sim::FaultKind::WrongReply,
                                      sim::FaultKind::HangUp};
    if (IsBlockRequest(e.command)) {
        kinds.push_back(sim::FaultKind::RefuseBlock);
    }
    return kinds;
}

// The exchanges of one command after the start-up search, each with its step.
std::vector<Exchange> Classify(const std::vector<sim::TraceEntry>& trace, Step first) {
    std::vector<Exchange> exchanges;
    Step step = Step::StartSearch;
    int last = 0;
    for (const sim::TraceEntry& entry : trace) {
        if (entry.direction != sim::Direction::ToModule || entry.exchange == 0 || entry.exchange == last) {
            continue;
        }
        last = entry.exchange;
        const std::string command(entry.bytes.begin(), entry.bytes.begin() + std::min<std::size_t>(4, entry.bytes.size()));
        if (step == Step::StartSearch && command != "VDSP" && command != "VPLD" && command != "VTUN") {
            step = first == Step::Defaults ? Step::Defaults : Step::Backup;
        }
        if (step != Step::Defaults) {
            if (command == "CPRM") {
                step = Step::ClearSettings;
            } else if (step == Step::ClearSettings) {
                step = Step::Download;
            } else if (command == "RST0") {
                step = Step::Reset;
            } else if (step == Step::Reset) {
                step = Step::Reconnect;
            } else if (step == Step::Reconnect && command != "VDSP" && command != "VPLD" && command != "VTUN") {
                step = Step::Restore;
            }
        }
        exchanges.push_back(Exchange{entry.exchange, command, step});
    }
    return exchanges;
}

// What one 4-byte command exchange ends with under the fault, and the box text of its own box.
struct Outcome {
    ResultCode code = RESULT_OK;
    std::string received; // the reply as cut for display
};

Outcome ExchangeOutcome(sim::FaultKind kind, const std::string& normalReply) {
    switch (kind) {
    case sim::FaultKind::Silence:
    case sim::FaultKind::HangUp:
        return {ERR_NO_RESPONSE, ""};
    case sim::FaultKind::ShortReply:
        return {ERR_BAD_RESPONSE, normalReply.substr(0, kShortBytes)};
    case sim::FaultKind::WrongReply:
        return {ERR_BAD_RESPONSE, "NO"};
    default:
        return {ERR_BAD_RESPONSE, "<<"};
    }
}

std::string OwnBoxText(const Outcome& o) {
    switch (o.code) {
    case ERR_COM_WRITE:
        return "Can Not Write to COM!";
    case ERR_NO_RESPONSE:
        return "No Response!";
    default:
        return "Unexpected Response! [" + o.received + "]";
    }
}

// ReportError's text for the code, the reply area holding `replyArea` (as cut for display).
std::string ReportText(ResultCode code, const std::string& replyArea) {
    switch (code) {
    case ERR_COM_WRITE:
        return "Can Not Write To COM";
    case ERR_NO_RESPONSE:
        return "No Response";
    case ERR_BAD_RESPONSE:
        return "Invalid Response [ " + replyArea + " ]";
    default:
        return "Unknown Error";
    }
}

Box Owned(HWND owner, const std::string& text, const std::string& caption, UINT type, int answer) {
    return Box{owner, text, caption, type, answer};
}
Box ReportBox(HWND owner, const std::string& text) {
    return Owned(owner, text, "ERROR", MB_ICONERROR | MB_OK, IDOK);
}

struct Expected {
    std::vector<Box> boxes;
    std::string status;
    bool updateEnabled = false;
    // A hang-up inside a block send: the tool meets it writing a piece (ERR_COM_WRITE) or, when
    // every piece fitted the line's buffer before the module closed it, on the final reply
    // (ERR_BAD_RESPONSE). Both are the transfer's failure; which one is a race of the line.
    std::optional<std::vector<Box>> orBoxes;
};

void ExpectBoxes(const std::vector<Box>& boxes, const Expected& expected) {
    if (expected.orBoxes && boxes == *expected.orBoxes) {
        return;
    }
    EXPECT_EQ(boxes, expected.boxes);
}

// The update's outcome for a fault at this exchange, from the failure tables of each step.
Expected ExpectUpdate(HWND d, const Exchange& e, sim::FaultKind kind) {
    const Box question = Owned(d, kBackupQuestion, "Can NOT Read Settings", MB_YESNO, IDNO);
    const Box tunerBox = Owned(d, kTunerChanged, "Can NOT Restore Settings", MB_ICONINFORMATION | MB_OK, IDOK);
    const bool hangUp = kind == sim::FaultKind::HangUp;
    const Expected success{{}, "Update Successful", false, std::nullopt};
    auto failed = [](std::vector<Box> boxes, bool updateEnabled) {
        return Expected{std::move(boxes), "Update Failed", updateEnabled, std::nullopt};
    };
    // A block send takes silence after its command as consent; the rest fails on its reply.
    auto blockSend = [&](const std::string& replyArea, bool enabled) {
        if (kind == sim::FaultKind::Silence) {
            return success;
        }
        Expected result = failed({ReportBox(d, ReportText(hangUp ? ERR_COM_WRITE : ERR_BAD_RESPONSE, replyArea))}, enabled);
        if (hangUp) {
            result.orBoxes = std::vector<Box>{ReportBox(d, ReportText(ERR_BAD_RESPONSE, replyArea))};
        }
        return result;
    };
    switch (e.step) {
    case Step::Backup: {
        if (e.command[0] == 'c') {
            const Outcome o = ExchangeOutcome(kind, "OK");
            return failed({ExchangeBox(OwnBoxText(o)), question, ReportBox(d, ReportText(o.code, ""))}, true);
        }
        ResultCode code = ERR_BAD_RESPONSE;
        if (hangUp && IsBlockReceive(e.command)) {
            // The module hangs up after its length word: the first data read gets nothing.
            code = ERR_COM_WRITE;
        } else if (kind == sim::FaultKind::Silence || hangUp) {
            code = ERR_NO_RESPONSE;
        } else if (kind == sim::FaultKind::RefuseBlock && IsBlockReceive(e.command)) {
            code = ERR_MODULE_REFUSED;
        }
        return failed({question, ReportBox(d, ReportText(code, ""))}, true);
    }
    case Step::ClearSettings: {
        const Outcome o = ExchangeOutcome(kind, "OK");
        return failed({ReportBox(d, ReportText(o.code, o.received))}, true);
    }
    case Step::Download: {
        if (IsBlockSend(e.command)) {
            return blockSend("OK", true);
        }
        const Outcome o = ExchangeOutcome(kind, "OK");
        return failed({ExchangeBox(OwnBoxText(o)), ReportBox(d, ReportText(o.code, "OK"))}, true);
    }
    case Step::Reset: {
        const Outcome o = ExchangeOutcome(kind, "NUVs");
        return failed({ReportBox(d, ReportText(o.code, o.received))}, false);
    }
    case Step::Reconnect:
        if (e.command == "VTUN") {
            // No tuner type: another than before, so the defaults stay and the update succeeded.
            return Expected{{tunerBox}, "Update Successful", false, std::nullopt};
        }
        return failed({ReportBox(d, "No Response")}, false);
    case Step::Restore: {
        if (IsBlockSend(e.command)) {
            return blockSend("NUVs", false);
        }
        if (IsIgnored(e.command)) {
            if (!hangUp) {
                return success;
            }
            // Dropped, but the line is gone: the next command cannot be written.
            return failed({ExchangeBox("Can Not Write to COM!"), ReportBox(d, "Can Not Write To COM")}, false);
        }
        const Outcome o = ExchangeOutcome(kind, "OK");
        return failed({ExchangeBox(OwnBoxText(o)), ReportBox(d, ReportText(o.code, "NUVs"))}, false);
    }
    default:
        return {};
    }
}

Expected ExpectDefaults(HWND d, const Exchange& e, sim::FaultKind kind) {
    if (e.command == "CPRM") {
        const Outcome o = ExchangeOutcome(kind, "OK");
        return {{ExchangeBox(OwnBoxText(o)), ReportBox(d, ReportText(o.code, o.received))}, "Error: Settings Unknown", true, std::nullopt};
    }
    const Outcome o = ExchangeOutcome(kind, "NUVs");
    return {{Owned(d, kResetQuestion, "Start New Firmware", MB_YESNO, IDYES), ReportBox(d, ReportText(o.code, o.received))},
            "Error: Settings Unknown",
            true,
            std::nullopt};
}

// The link's own boxes, which a hang-up may or may not bring depending on when the tool meets it.
std::vector<Box> WithoutLinkBoxes(std::vector<Box> boxes) {
    std::erase_if(boxes, [](const Box& b) { return b.text == "Read Failed!" || b.text == "Write Failed!"; });
    return boxes;
}

enum class Command { Update, Defaults, Search };

// The sample make check runs: the first and last exchange of each step and command, and every
// k-th besides.
std::vector<Exchange> Sample(const std::vector<Exchange>& all, int every) {
    if (qam::test::ProofFull()) {
        return all;
    }
    std::vector<Exchange> picked;
    std::set<int> taken;
    std::map<std::pair<Step, std::string>, std::vector<const Exchange*>> byKind;
    for (const Exchange& e : all) {
        const std::string kind = e.command.substr(0, 2) == "p+" ? "p+" : e.command.substr(0, 1);
        byKind[{e.step, kind}].push_back(&e);
    }
    for (const auto& [key, list] : byKind) {
        taken.insert(list.front()->number);
        taken.insert(list.back()->number);
    }
    for (std::size_t i = 0; i < all.size(); i += static_cast<std::size_t>(every)) {
        taken.insert(all[i].number);
    }
    for (const Exchange& e : all) {
        if (taken.count(e.number) != 0) {
            picked.push_back(e);
        }
    }
    return picked;
}

// Natively the count is exact; Wine opens and closes descriptors of its own as it goes, far
// fewer than one a run would leak.
void ExpectNoDescriptorGrowth(int before, int after) {
    ASSERT_GE(before, 0);
    if (qam::test::RunningUnderWine()) {
        EXPECT_LE(after, before + 8) << "descriptors before " << before << ", after " << after;
    } else {
        EXPECT_EQ(after, before);
    }
}

class ProofSweepTest : public qam::test::UpdateWindowTest {
protected:
    void Fresh() {
        ResetForNextRun();
        Desktop().AnswerAlways(kBackupQuestion, IDNO);
        Desktop().AnswerAlways(kResetQuestion, IDYES);
    }

    struct Seen {
        std::vector<Box> boxes;
        std::string status;
        std::string upper;
        bool updateEnabled = false;
        bool windowEnabled = false;
        bool linkOpen = false;
        int cursors = -1;
        bool keptAwake = true;
        int foundPort = 0;
        TunerType tuner = TUNER_UNKNOWN;
        HWND window = nullptr;
        milliseconds took{};
        milliseconds cpu{};
    };

    // One command from a freshly started window against a module with these faults.
    Seen RunCommand(Command command, const std::vector<sim::Fault>& faults) {
        Fresh();
        sim::Scenario scenario = Module();
        scenario.faults = faults;
        StartModule(scenario);
        Seen seen;
        CUpdaterDialog dialog;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        milliseconds cpuStart = CpuTime();
        auto observe = [&] {
            seen.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
            seen.cpu = CpuTime() - cpuStart;
            seen.boxes = Desktop().Boxes();
            seen.status = LowerNow(dialog);
            seen.upper = Control(dialog, IDC_STATUS_UPPER).text;
            seen.updateEnabled = Control(dialog, IDC_UPDATE).enabled;
            seen.windowEnabled = WindowOf(dialog).enabled;
            seen.linkOpen = dialog.m_link.IsOpen();
            seen.cursors = fw::WaitCursorCount();
            seen.keptAwake = headless::Host::Instance().KeptAwake();
            seen.foundPort = dialog.m_search.foundPort;
            seen.tuner = dialog.m_search.tunerType;
            seen.window = dialog.m_hWnd;
        };
        std::vector<std::function<void()>> steps;
        if (command == Command::Search) {
            steps.push_back(observe);
        } else {
            const std::string path = m_path;
            steps.push_back([&, command, path] {
                ASSERT_EQ(dialog.m_search.moduleFound, 1) << "the start-up search found no module";
                if (command == Command::Update) {
                    Choose(dialog, path);
                }
            });
            steps.push_back([&, command] {
                start = std::chrono::steady_clock::now();
                cpuStart = CpuTime();
                if (command == Command::Update) {
                    PressUpdate(dialog);
                } else {
                    // The default Settings button is hidden: its command comes as the window sends it.
                    const HWND button = dialog.GetDlgItem(IDC_DEFAULT_SETTINGS).m_hWnd;
                    Desktop().PostMessage(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_DEFAULT_SETTINGS, BN_CLICKED),
                                          reinterpret_cast<LPARAM>(button));
                }
            });
            steps.push_back(observe);
        }
        Run(dialog, steps);
        return seen;
    }

    // Everything a finished command leaves behind, whatever failed.
    static void ExpectLeftClean(const Seen& seen, bool portOpen) {
        EXPECT_TRUE(seen.windowEnabled);
        EXPECT_EQ(seen.linkOpen, portOpen);
        EXPECT_EQ(seen.cursors, 0);
        EXPECT_FALSE(seen.keptAwake);
    }

    // A generous bound: twice the clean run and the longest wait one faulty exchange can add
    // (the 1024-byte bitmap read at 50 ms a byte, or a reconnect over silent ports).
    static milliseconds BoundFor(milliseconds clean, const Exchange& e) {
        const milliseconds extra = e.command == "RFLT" ? milliseconds(50 * 1024 + 10000) : milliseconds(15000);
        return 2 * clean + extra + milliseconds(5000);
    }

    void SetUp() override {
        UpdateWindowTest::SetUp();
        m_path = WriteUpdateFile();
    }

    std::string m_path;
    ProofTally m_tally;
};

struct SweepParam {
    Command command;
    sim::FaultKind kind;
};

class FaultSweepTest : public ProofSweepTest, public ::testing::WithParamInterface<SweepParam> {};

TEST_P(FaultSweepTest, EveryExchangeFailsAsItsStepSays) {
    const SweepParam param = GetParam();
    qam::test::ScopedTimeoutScale fast(1, kScaleDenominator);
    const Seen clean = RunCommand(param.command, {});
    // The clean run: only the reset question of the factory-defaults command, and success.
    ASSERT_EQ(clean.boxes.size(), param.command == Command::Defaults ? 1u : 0u);
    ASSERT_EQ(clean.status, param.command == Command::Update     ? "Update Successful"
                            : param.command == Command::Defaults ? "All Settings Set To Default!"
                                                                 : "ready");
    const std::vector<sim::TraceEntry> trace = m_sim->Trace();
    const Step first = param.command == Command::Defaults ? Step::Defaults : Step::StartSearch;
    std::vector<Exchange> exchanges = Classify(trace, first);
    std::erase_if(exchanges, [&](const Exchange& e) {
        return param.command == Command::Search ? e.step != Step::StartSearch : e.step == Step::StartSearch;
    });
    ASSERT_FALSE(exchanges.empty());
    // Counted after the clean run, once everything has been used a first time.
    m_sim.reset();
    const int descriptorsBefore = OpenDescriptors();
    // A silent bitmap read waits 50 ms a byte; make check leaves those two long runs to make proof.
    const bool full = qam::test::ProofFull();
    const std::string name = std::string(param.command == Command::Update     ? "sweep-update-"
                                         : param.command == Command::Defaults ? "sweep-defaults-"
                                                                              : "sweep-search-") +
                             KindName(param.kind);

    // Under Wine every run restarts the simulator command over its control port: a thinner sample.
    const int every = param.command != Command::Update ? 1 : qam::test::RunningUnderWine() ? 30 : 9;
    for (const Exchange& e : Sample(exchanges, every)) {
        const std::vector<sim::FaultKind> fitting = FaultsFor(e);
        if (std::find(fitting.begin(), fitting.end(), param.kind) == fitting.end() ||
            (!full && e.command == "RFLT" && param.kind == sim::FaultKind::Silence)) {
            continue;
        }
        SCOPED_TRACE("fault " + std::string(KindName(param.kind)) + " at exchange " + std::to_string(e.number) + " \"" +
                     e.command + "\"");
        const int failedBefore = qam::test::FailedParts();
        ProofCase proof(m_tally, name);
        const Seen seen = RunCommand(param.command, {FaultAt(param.kind, e.number)});
        proof.Timed(BoundFor(clean.took, e));
        const bool hangUp = param.kind == sim::FaultKind::HangUp;
        const std::vector<Box> boxes = hangUp ? WithoutLinkBoxes(seen.boxes) : seen.boxes;
        // No spin: a run's CPU time stays well below its wall time once it waits.
        EXPECT_LE(seen.cpu.count(), seen.took.count() / 2 + 3000) << "CPU " << seen.cpu.count() << " ms";
        switch (param.command) {
        case Command::Update: {
            const Expected expected = ExpectUpdate(seen.window, e, param.kind);
            ExpectBoxes(boxes, expected);
            EXPECT_EQ(seen.status, expected.status);
            EXPECT_EQ(seen.updateEnabled, expected.updateEnabled);
            ExpectLeftClean(seen, false);
            break;
        }
        case Command::Defaults: {
            const Expected expected = ExpectDefaults(seen.window, e, param.kind);
            ExpectBoxes(boxes, expected);
            EXPECT_EQ(seen.status, expected.status);
            EXPECT_FALSE(seen.updateEnabled) << "no file was chosen, and the command leaves Update as it was";
            // The command neither opens nor closes the port.
            ExpectLeftClean(seen, true);
            break;
        }
        case Command::Search:
            EXPECT_TRUE(boxes.empty()) << ::testing::PrintToString(boxes);
            EXPECT_EQ(seen.status, "ready");
            if (e.command == "VTUN") {
                EXPECT_EQ(seen.foundPort, m_sim->Port());
                EXPECT_EQ(seen.tuner, TUNER_UNKNOWN);
                EXPECT_EQ(seen.upper.rfind("Device on COM ", 0), 0u);
                ExpectLeftClean(seen, true);
            } else {
                EXPECT_EQ(seen.foundPort, -1);
                EXPECT_EQ(seen.upper, "no Device found !");
                ExpectLeftClean(seen, false);
            }
            break;
        }
        if (qam::test::FailedParts() != failedBefore) {
            std::string tail;
            const std::vector<sim::TraceEntry> faulted = m_sim->Trace();
            int shown = 0;
            for (const sim::TraceEntry& entry : faulted) {
                if ((entry.exchange >= e.number - 1 || entry.exchange == 0) && shown++ < 24) {
                    tail += "\n  " + std::to_string(entry.exchange) + " " + std::to_string(entry.time.count() / 1000) +
                            " ms " + sim::Describe(entry);
                }
            }
            ADD_FAILURE() << "the module's trace ends:" << tail;
        }
    }
    m_sim.reset();
    ExpectNoDescriptorGrowth(descriptorsBefore, OpenDescriptors());
    m_tally.Note(name, "fd_before=" + std::to_string(descriptorsBefore) + " fd_after=" + std::to_string(OpenDescriptors()));
}

std::vector<SweepParam> SweepParams() {
    std::vector<SweepParam> params;
    for (Command command : {Command::Update, Command::Defaults, Command::Search}) {
        for (sim::FaultKind kind : {sim::FaultKind::Silence, sim::FaultKind::ShortReply, sim::FaultKind::WrongReply,
                                    sim::FaultKind::RefuseBlock, sim::FaultKind::HangUp}) {
            if (kind == sim::FaultKind::RefuseBlock && command != Command::Update) {
                continue; // neither command asks for a block
            }
            params.push_back({command, kind});
        }
    }
    return params;
}

INSTANTIATE_TEST_SUITE_P(Sweep, FaultSweepTest, ::testing::ValuesIn(SweepParams()),
                         [](const ::testing::TestParamInfo<SweepParam>& param) {
                             const char* command = param.param.command == Command::Update     ? "Update"
                                                   : param.param.command == Command::Defaults ? "Defaults"
                                                                                             : "Search";
                             return std::string(command) + "_" + KindName(param.param.kind);
                         });

} // namespace
