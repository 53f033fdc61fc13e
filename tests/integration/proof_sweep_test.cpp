// The fault sweep, the one source of failure rows: a clean run of a command records its
// exchanges; then each exchange in turn meets each fault that fits it, and the run must end in its
// bound with the boxes, final status, buttons and port that the failure at that step calls for,
// the window enabled, no wait cursor, the computer allowed to sleep and no descriptor left.
#include "module/SettingsBackups.h"
#include "tests/support/Kit.h"
#include "tests/support/Platform.h"
#include "tests/support/Proof.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>

namespace {

using namespace qam::test;
namespace sim = qam::sim;
using Kind = sim::FaultKind;
using std::chrono::milliseconds;

enum class Command { Update, Defaults, Search };
enum class Step { Search, Backup, Clear, Download, Reset, Reconnect, Restore, Defaults };

struct Exchange {
    int number;
    std::string command;
    Step step;
};

bool IsReceive(const std::string& c) {
    return c == "RSTA" || c == "RBLS";
}
bool IsSend(const std::string& c) {
    return c == "UPLD" || c == "UAPP" || c == "UAPD" || c == "WBLS" || c == "WPLP";
}
bool IsIdentification(const std::string& c) {
    return c == "VDSP" || c == "VPLD" || c == "VTUN";
}

// The steps of a command's clean run, by the commands that begin them.
std::vector<Exchange> Classify(const std::vector<sim::TraceEntry>& trace, Command command) {
    std::vector<Exchange> exchanges;
    Step step = Step::Search;
    int last = 0;
    for (const sim::TraceEntry& entry : trace) {
        if (entry.direction != sim::Direction::ToModule || entry.exchange == 0 || entry.exchange == last) {
            continue;
        }
        last = entry.exchange;
        const std::string c(entry.bytes.begin(),
                            entry.bytes.begin() + std::min<std::size_t>(4, entry.bytes.size()));
        if (step == Step::Search && !IsIdentification(c)) {
            step = command == Command::Defaults ? Step::Defaults : Step::Backup;
        }
        if (step == Step::Defaults) {
        } else if (c == "CPRM") {
            step = Step::Clear;
        } else if (step == Step::Clear) {
            step = Step::Download;
        } else if (c == "RST0") {
            step = Step::Reset;
        } else if (step == Step::Reset) {
            step = Step::Reconnect;
        } else if (step == Step::Reconnect && !IsIdentification(c)) {
            step = Step::Restore;
        }
        if ((command == Command::Search) == (step == Step::Search)) {
            exchanges.push_back({entry.exchange, c, step});
        }
    }
    return exchanges;
}

sim::Fault Strike(Kind kind, int exchange) {
    sim::Fault fault = FaultAt(kind, exchange);
    fault.bytes = kind == Kind::ShortReply ? 2 : 0;
    // Neither "OK\r\n" nor a length that fits, and 5 bytes: no identification takes it for a module
    // that wants resynchronising.
    fault.reply = sim::ToBytes("NO\r\nX");
    return fault;
}

// What a 4-byte command exchange ends with under the fault: its code and the reply as cut for display.
std::pair<ResultCode, std::string> ExchangeEnd(Kind kind, const std::string& reply) {
    if (kind == Kind::Silence || kind == Kind::HangUp) {
        return {ERR_NO_RESPONSE, ""};
    }
    return {ERR_BAD_RESPONSE, kind == Kind::ShortReply ? reply.substr(0, 2) : "NO"};
}

std::string OwnText(ResultCode code, const std::string& received) {
    return code == ERR_NO_RESPONSE ? "No Response!" : "Unexpected Response! [" + received + "]";
}

std::string ReportText(ResultCode code, const std::string& replyArea) {
    return code == ERR_COM_WRITE      ? "Can Not Write To COM"
           : code == ERR_NO_RESPONSE  ? "No Response"
           : code == ERR_BAD_RESPONSE ? "Invalid Response [ " + replyArea + " ]"
                                      : "Unknown Error";
}

struct Expected {
    std::vector<Box> boxes;
    std::string status;
    bool updateEnabled = false;
    bool linkOpen = false;
    std::vector<Box> orBoxes; // a hang-up that the tool may meet at either of two points
};

class SweepTest : public WindowTest, public ::testing::WithParamInterface<std::pair<Command, Kind>> {
protected:
    Box Own(const std::string& text) const {
        return {nullptr, text, "Execute Command", MB_OK | MB_ICONERROR, IDOK, false};
    }
    Box Report(const std::string& text) const {
        return {m_dialog, text + m_reportDetail, "ERROR", MB_ICONERROR | MB_OK, IDOK, true};
    }
    Box Question(const char* text, const char* caption, int answer) const {
        return {m_dialog, text, caption, MB_YESNO, answer, false};
    }

    Expected UpdateEnd(const Exchange& e, Kind kind) const {
        const bool hangUp = kind == Kind::HangUp;
        const bool beforeReset = e.step == Step::Backup || e.step == Step::Clear || e.step == Step::Download;
        const Expected success{{}, "Update Successful", false, false, {}};
        auto failed = [&](std::vector<Box> boxes) {
            return Expected{std::move(boxes), "Update Failed", beforeReset, false, {}};
        };
        const std::string area = beforeReset ? (e.step == Step::Backup ? "" : "OK") : "NUVs";
        const auto [code, received] = ExchangeEnd(kind, e.step == Step::Reset ? "NUVs" : "OK");
        if (IsSend(e.command)) {
            // Silence after a block command is taken as consent; anything else fails on a reply.
            if (kind == Kind::Silence) {
                return success;
            }
            Expected end = failed({Report(ReportText(hangUp ? ERR_COM_WRITE : ERR_BAD_RESPONSE, area))});
            if (hangUp) {
                end.orBoxes = {Report(ReportText(ERR_BAD_RESPONSE, area))};
            }
            return end;
        }
        const Box question = Question("Do You Want To Continue ?", "Can NOT Read Settings", IDNO);
        switch (e.step) {
        case Step::Backup: {
            if (e.command[0] == 'c') {
                return failed({Own(OwnText(code, received)), question, Report(ReportText(code, ""))});
            }
            ResultCode read = ERR_BAD_RESPONSE;
            if (hangUp && IsReceive(e.command)) {
                read = ERR_COM_WRITE; // the line goes after the length word: the data never comes
            } else if (kind == Kind::Silence || hangUp) {
                read = ERR_NO_RESPONSE;
            } else if (kind == Kind::RefuseBlock && IsReceive(e.command)) {
                read = ERR_MODULE_REFUSED;
            }
            return failed({question, Report(ReportText(read, ""))});
        }
        case Step::Clear:
        case Step::Reset:
            return failed({Report(ReportText(code, received))});
        case Step::Download:
            return failed({Own(OwnText(code, received)), Report(ReportText(code, area))});
        case Step::Reconnect:
            if (e.command == "VTUN") { // no tuner type now: another than before, so the defaults stay
                return {{{m_dialog,
                          "New Firmware Supports Other Tuner Type !\n Previous Settings will NOT Be "
                          "Restored, Using Defaults.",
                          "Can NOT Restore Settings", MB_ICONINFORMATION | MB_OK, IDOK, false}},
                        "Update Successful",
                        false,
                        false,
                        {}};
            }
            return failed({Report("No Response")});
        default: // the restore
            if (e.command[0] == 'i' || e.command[0] == 'j') {
                // Its result is dropped; only a line that is gone stops the next command.
                return hangUp ? failed({Own("Can Not Write to COM!"), Report("Can Not Write To COM")})
                              : success;
            }
            return failed({Own(OwnText(code, received)), Report(ReportText(code, area))});
        }
    }

    Expected DefaultsEnd(const Exchange& e, Kind kind) const {
        const auto [code, received] = ExchangeEnd(kind, e.command == "CPRM" ? "OK" : "NUVs");
        const Box first = e.command == "CPRM"
                              ? Own(OwnText(code, received))
                              : Question("Do You Want To Reset The Modul ?", "Start New Firmware", IDYES);
        return {{first, Report(ReportText(code, received))}, "Error: Settings Unknown", false, true, {}};
    }

    struct Seen {
        std::vector<Box> boxes;
        std::string status;
        std::string upper;
        std::string pending; // the backup the run left pending
        bool updateEnabled = false;
        bool linkOpen = false;
        milliseconds took{};
        milliseconds cpu{};
    };

    // One command from a freshly started window against a module with these faults.
    Seen RunCommand(Command command, const std::vector<sim::Fault>& faults) {
        Desk().Reset();
        m_sim.reset();
        Desk().AnswerAlways("Do You Want To Continue ?", IDNO);
        Desk().AnswerAlways("Do You Want To Reset The Modul ?", IDYES);
        Desk().AnswerAlways("Read Failed!", IDOK);
        Desk().AnswerAlways("Write Failed!", IDOK);
        Desk().realSleepMs = 25;
        sim::Scenario scenario;
        scenario.restartMs = 100;
        scenario.channels[0] = {sim::Bytes(18, 1), {0xB0}, sim::Bytes(1024, 0)};
        scenario.channels[0].filter[3] = 0x81;
        scenario.channels[1] = {sim::Bytes(20, 2), {0xB1}, sim::Bytes(1024, 0)};
        scenario.faults = faults;
        StartModule(scenario);
        Seen seen;
        CUpdaterDialog dialog;
        auto start = std::chrono::steady_clock::now();
        auto cpu = ProcessCpuMilliseconds();
        auto observe = [&] {
            seen.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
            seen.cpu = milliseconds(ProcessCpuMilliseconds() - cpu);
            m_dialog = dialog.m_hWnd;
            seen.boxes = Desk().boxes;
            seen.status = Lower().back();
            seen.upper = Desk().Texts(IDC_STATUS_UPPER).back();
            seen.updateEnabled = Control(dialog, IDC_UPDATE).enabled;
            seen.linkOpen = dialog.m_link.IsOpen();
            for (const qam::module::StoredBackup& backup : qam::module::ListBackups()) {
                seen.pending = backup.pending ? backup.path : seen.pending;
            }
            ExpectFinished(dialog);
        };
        std::vector<std::function<void()>> steps;
        if (command == Command::Update) {
            steps.push_back([&] { Choose(dialog, m_path); });
        }
        if (command != Command::Search) {
            steps.push_back([&] {
                start = std::chrono::steady_clock::now();
                cpu = ProcessCpuMilliseconds();
                command == Command::Update ? Press(dialog, IDC_UPDATE) : PostDefaults(dialog);
            });
        }
        steps.push_back(observe);
        Run(dialog, steps);
        return seen;
    }

    void SetUp() override {
        WindowTest::SetUp();
        m_path = m_dir.Write("fw.qam", qam::update::BuildUpdateFile(ThreeSections()));
    }

    HWND m_dialog = nullptr;
    std::string m_reportDetail; // the error box's line that names a pending backup
    std::string m_path;
    ProofTally m_tally;
};

// make check's sample: the first and last exchange of each kind in each step, and every k-th.
std::vector<Exchange> Sample(const std::vector<Exchange>& all, std::size_t every) {
    if (ProofFull()) {
        return all;
    }
    std::set<int> taken;
    std::map<std::pair<Step, std::string>, std::vector<int>> byKind;
    for (std::size_t i = 0; i < all.size(); ++i) {
        byKind[{all[i].step, all[i].command.substr(0, all[i].command.rfind("p+", 0) == 0 ? 2 : 1)}].push_back(
            all[i].number);
        if (i % every == 0) {
            taken.insert(all[i].number);
        }
    }
    for (const auto& [kind, numbers] : byKind) {
        taken.insert(numbers.front());
        taken.insert(numbers.back());
    }
    std::vector<Exchange> picked;
    std::copy_if(all.begin(), all.end(), std::back_inserter(picked),
                 [&](const Exchange& e) { return taken.count(e.number) != 0; });
    return picked;
}

const char* Name(Kind kind) {
    return kind == Kind::Silence       ? "silence"
           : kind == Kind::ShortReply  ? "short"
           : kind == Kind::WrongReply  ? "wrong"
           : kind == Kind::RefuseBlock ? "refusal"
                                       : "hangup";
}

TEST_P(SweepTest, EveryExchangeFailsAsItsStepSays) {
    const auto [command, kind] = GetParam();
    ScopedTimeoutScale fast(1, 40);
    const Seen clean = RunCommand(command, {});
    ASSERT_EQ(clean.status, command == Command::Update     ? "Update Successful"
                            : command == Command::Defaults ? "All Settings Set To Default!"
                                                           : "ready");
    const std::vector<Exchange> exchanges = Classify(m_sim->Trace(), command);
    ASSERT_FALSE(exchanges.empty());
    m_sim.reset();
    const int descriptors = OpenDescriptorCount();
    const std::string name = std::string("sweep-") +
                             (command == Command::Update     ? "update-"
                              : command == Command::Defaults ? "defaults-"
                                                             : "search-") +
                             Name(kind);
    // Under Wine every run restarts the simulator command over its control port: a thinner sample.
    const std::size_t every = command != Command::Update ? 1 : RunningUnderWine() ? 30 : 9;
    for (const Exchange& e : Sample(exchanges, every)) {
        const bool block = IsReceive(e.command) || IsSend(e.command) || e.command == "RFLT";
        if (kind == Kind::RefuseBlock && !block) {
            continue;
        }
        SCOPED_TRACE(std::string(Name(kind)) + " at exchange " + std::to_string(e.number) + " \"" +
                     e.command + "\"");
        const int failedBefore = FailedParts();
        const Seen seen = RunCommand(command, {Strike(kind, e.number)});
        // A bitmap read at 50 ms a byte, or a reconnection over silent ports, on top of twice the clean run.
        const milliseconds bound = 2 * clean.took + milliseconds(e.command == "RFLT" ? 61200 : 20000);
        EXPECT_LE(seen.took, bound);
        EXPECT_LE(seen.cpu.count(), seen.took.count() / 2 + 3000) << "a wait that spins";
        std::vector<Box> boxes = seen.boxes;
        // Whether a hang-up brings the link's own box depends on when the tool meets it.
        std::erase_if(boxes,
                      [](const Box& b) { return b.text == "Read Failed!" || b.text == "Write Failed!"; });
        if (command == Command::Search) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(seen.status, "ready");
            EXPECT_EQ(seen.linkOpen, e.command == "VTUN") << "found without a tuner, or not found";
            EXPECT_EQ(seen.upper.rfind(e.command == "VTUN" ? "Device on COM 3\n" : "no Device found !", 0),
                      0u);
        } else {
            // An update that failed once "CPRM" went out keeps its backup pending and names it.
            m_reportDetail.clear();
            const bool leftPending =
                command == Command::Update && UpdateEnd(e, kind).status == "Update Failed" &&
                e.step != Step::Backup &&
                !(e.step == Step::Clear && ExchangeEnd(kind, "OK").first == ERR_COM_WRITE);
            EXPECT_EQ(!seen.pending.empty(), leftPending);
            m_reportDetail = leftPending ? "\nSaved Settings: " + seen.pending : "";
            const Expected expected = command == Command::Update ? UpdateEnd(e, kind) : DefaultsEnd(e, kind);
            if (expected.orBoxes.empty() || boxes != expected.orBoxes) {
                EXPECT_EQ(boxes, expected.boxes);
            }
            EXPECT_EQ(seen.status, expected.status);
            EXPECT_EQ(seen.updateEnabled, expected.updateEnabled);
            EXPECT_EQ(seen.linkOpen, expected.linkOpen);
        }
        if (FailedParts() != failedBefore) {
            ADD_FAILURE() << "what the tool sent: " << ::testing::PrintToString(SentLines(m_sim->Trace()));
        }
        m_tally.Record(name, FailedParts() == failedBefore, seen.took, bound);
    }
    m_sim.reset();
    // Natively the count is exact; Wine opens and closes a few of its own as it goes.
    EXPECT_LE(OpenDescriptorCount(), descriptors + (RunningUnderWine() ? 8 : 0));
    m_tally.Note(name, "fd_before=" + std::to_string(descriptors) +
                           " fd_after=" + std::to_string(OpenDescriptorCount()));
}

std::vector<std::pair<Command, Kind>> Params() {
    std::vector<std::pair<Command, Kind>> params;
    for (Command command : {Command::Update, Command::Defaults, Command::Search}) {
        for (Kind kind :
             {Kind::Silence, Kind::ShortReply, Kind::WrongReply, Kind::RefuseBlock, Kind::HangUp}) {
            if (kind != Kind::RefuseBlock || command == Command::Update) { // only the update asks for blocks
                params.emplace_back(command, kind);
            }
        }
    }
    return params;
}

INSTANTIATE_TEST_SUITE_P(Sweep, SweepTest, ::testing::ValuesIn(Params()), [](const auto& param) {
    const Command command = param.param.first;
    return std::string(command == Command::Update     ? "Update_"
                       : command == Command::Defaults ? "Defaults_"
                                                      : "Search_") +
           Name(param.param.second);
});

} // namespace
