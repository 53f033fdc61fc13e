// Bad input and lost lines: every malformed update file refused before the module hears anything,
// hostile registry values taken as the start-up rules say, and the module hanging up in the middle
// of a block send, a block receive, the raw bitmap read and the reset wait, each reported in
// bounded time without spinning. Through the headless window against the simulator, both builds.
#include "tests/integration/ProofTally.h"
#include "tests/integration/SearchTexts.h"
#include "tests/integration/UpdateWindow.h"
#include "tests/support/Platform.h"
#include "update/MemorySource.h"
#include "update/UpdateFileFormat.h"
#include "update/UpdateFileReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using headless::Box;
using headless::RegistryValue;
using qam::test::ProofCase;
using qam::test::ProofTally;
using qam::test::Searching;
namespace sim = qam::sim;
namespace upd = qam::update;
using std::chrono::milliseconds;

constexpr const char* kBackupQuestion = "Do You Want To Continue ?";

Box Report(HWND owner, const std::string& text) {
    return Box{owner, text, "ERROR", MB_ICONERROR | MB_OK, IDOK};
}
Box BackupQuestion(HWND owner) {
    return Box{owner, kBackupQuestion, "Can NOT Read Settings", MB_YESNO, IDNO};
}

// Where each record of a file starts, as the reader meets them.
class FrameOffsets : public CUpdateFileSink {
public:
    void OnRecord(const upd::RecordFrame& frame, std::string_view) override { offsets.push_back(frame.offset); }
    std::vector<std::uint64_t> offsets;
};

class ProofInputTest : public qam::test::UpdateWindowTest {
protected:
    void Fresh() {
        ResetForNextRun();
        Desktop().AnswerAlways(kBackupQuestion, IDNO);
    }

    struct Seen {
        std::vector<Box> boxes;
        std::vector<std::string> lower;
        std::vector<std::string> commands;
        bool updateEnabled = false;
        HWND window = nullptr;
        milliseconds took{};
        long long cpuMs = 0;
    };

    // The window found the module at start-up; the file is taken as chosen and Update pressed.
    Seen Update(const sim::Scenario& scenario, const std::string& path) {
        Fresh();
        StartModule(scenario);
        Seen seen;
        CUpdaterDialog dialog;
        std::size_t searchEnd = 0;
        auto start = std::chrono::steady_clock::now();
        long long cpuStart = 0;
        Run(dialog, {[&] {
                         ASSERT_EQ(dialog.m_search.moduleFound, 1) << "the start-up search found no module";
                         searchEnd = TraceSize();
                         dialog.m_updateFilePath = path;
                         dialog.m_fileSelected = 1;
                         Control(dialog, IDC_UPDATE).enabled = true;
                         Control(dialog, IDC_STATUS_LOWER).texts.clear();
                         start = std::chrono::steady_clock::now();
                         cpuStart = qam::test::ProcessCpuMilliseconds();
                         PressUpdate(dialog);
                     },
                     [&] {
                         seen.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
                         seen.cpuMs = qam::test::ProcessCpuMilliseconds() - cpuStart;
                         seen.boxes = Desktop().Boxes();
                         seen.lower = Lower(dialog);
                         seen.commands = CommandsAfter(searchEnd);
                         seen.updateEnabled = Control(dialog, IDC_UPDATE).enabled;
                         seen.window = dialog.m_hWnd;
                         ExpectFinished(dialog);
                         EXPECT_FALSE(headless::Host::Instance().KeptAwake());
                     }});
        return seen;
    }

    ProofTally m_tally;
};

// ---- malformed update files ----

struct BadFile {
    std::string name;
    upd::Bytes bytes;
    const char* report; // ReportError's text for the reader's code; null where the code is ours to choose
};

upd::Bytes Good() {
    return upd::BuildUpdateFile(qam::test::ThreeSections());
}

upd::Bytes Built(const std::function<void(upd::UpdateFileParts&)>& change) {
    upd::UpdateFileParts parts = qam::test::ThreeSections();
    change(parts);
    return upd::BuildUpdateFile(parts);
}

std::vector<BadFile> BadFiles() {
    std::vector<BadFile> files;
    const upd::Bytes good = Good();
    FrameOffsets frames;
    CMemorySource source(good);
    CUpdateFileReader reader;
    EXPECT_EQ(reader.Read(source, frames), RESULT_OK);
    // Cut at every record boundary (the empty file included), inside each frame and inside each
    // payload: the reader runs out before STOP.
    for (std::size_t i = 0; i < frames.offsets.size(); ++i) {
        const auto at = static_cast<std::size_t>(frames.offsets[i]);
        for (std::size_t cut : {at, at + 4, at + upd::FRAME_SIZE + 1}) {
            const bool lastFrameWhole = i + 1 == frames.offsets.size() && cut >= at + upd::FRAME_SIZE;
            if (cut >= good.size() || lastFrameWhole) {
                continue; // a whole STOP frame ends the file well, whatever follows
            }
            files.push_back({"cut at " + std::to_string(cut) + " (record " + std::to_string(i) + ")",
                             upd::Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)),
                             "Read Access Error!"});
        }
    }
    files.push_back({"seven bytes", upd::Bytes(good.begin(), good.begin() + 7), "Read Access Error!"});
    files.push_back({"no STOP", Built([](upd::UpdateFileParts& p) { p.omit.insert(upd::TAG_STOP); }),
                     "Read Access Error!"});
    // A record longer than the file holds: the payload runs out.
    files.push_back({"BFN longer than the file",
                     Built([](upd::UpdateFileParts& p) {
                         p.omit = {upd::TAG_BDAT, upd::TAG_DFN, upd::TAG_DPRG, upd::TAG_DDAT, upd::TAG_STOP};
                         p.length[upd::TAG_BFN] = 4096;
                     }),
                     "Read Access Error!"});
    {
        upd::Bytes unknown = Good();
        // The first record's tag replaced by "ABCD" with the length 16.
        unknown.insert(unknown.begin(), {0x41, 0x42, 0x43, 0x44, 0x10, 0x00, 0x00, 0x00});
        files.push_back({"unknown tag first", unknown, "Illegal File Format"});
    }
    files.push_back({"unknown tag after the sections",
                     Built([](upd::UpdateFileParts& p) {
                         p.omit.insert(upd::TAG_STOP);
                         p.trailer = {0x41, 0x42, 0x43, 0x44, 0x10, 0x00, 0x00, 0x00};
                     }),
                     "Illegal File Format"});
    files.push_back({"wrong version text", Built([](upd::UpdateFileParts& p) { p.versionText = "KESTRAN UpdateFile Vers 1.00"; }),
                     "Illegal File Format"});
    files.push_back({"version text of 27 characters",
                     Built([](upd::UpdateFileParts& p) { p.versionText = std::string(upd::VERSION_TEXT.substr(0, 27)); }),
                     "Illegal File Format"});
    files.push_back({"section longer than 0x40000", Built([](upd::UpdateFileParts& p) {
                         p.appCode = upd::SectionInput{qam::test::SectionData(0x40001, 9), false, std::nullopt};
                     }),
                     "Insufficient Memory"});
    // Outside the format's limits: refused, with a code of the reader's choosing.
    files.push_back({"DATE of 7 bytes", Built([](upd::UpdateFileParts& p) { p.length[upd::TAG_DATE] = 7; }), nullptr});
    files.push_back({"section shorter than 4", Built([](upd::UpdateFileParts& p) { p.length[upd::TAG_DDAT] = 2; }), nullptr});
    files.push_back({"scrambled without DATE", Built([](upd::UpdateFileParts& p) { p.omit.insert(upd::TAG_DATE); }), nullptr});
    files.push_back({"name of 0x40000 bytes", Built([](upd::UpdateFileParts& p) { p.length[upd::TAG_BFN] = 0x40000; }), nullptr});
    files.push_back({"VERS of 0xFFFFFFFF bytes", Built([](upd::UpdateFileParts& p) { p.length[upd::TAG_VERS] = 0xFFFFFFFF; }),
                     nullptr});
    return files;
}

TEST_F(ProofInputTest, EveryMalformedFileIsRefusedBeforeAnyModuleTraffic) {
    const std::vector<BadFile> files = BadFiles();
    ASSERT_GT(files.size(), 20u);
    for (const BadFile& file : files) {
        SCOPED_TRACE(file.name);
        ProofCase proof(m_tally, "malformed");
        const Seen seen = Update(Module(), WriteFile("bad.qam", file.bytes));
        ASSERT_EQ(seen.boxes.size(), 1u);
        if (file.report != nullptr) {
            EXPECT_EQ(seen.boxes, (std::vector<Box>{Report(seen.window, file.report)}));
        } else {
            EXPECT_EQ(seen.boxes.front().caption, "ERROR");
        }
        EXPECT_EQ(seen.lower, (std::vector<std::string>{"checking update file ...", "Update Failed"}));
        EXPECT_EQ(seen.commands, std::vector<std::string>{});
        EXPECT_TRUE(seen.updateEnabled);
        const sim::ModuleState state = m_sim->State();
        EXPECT_EQ(state.settingsClears, 0);
        EXPECT_EQ(state.flashClears, (std::array<int, 3>{0, 0, 0}));
    }
    {
        ProofCase proof(m_tally, "malformed");
        const Seen seen = Update(Module(), (m_dir / "absent.qam").string());
        EXPECT_EQ(seen.boxes, (std::vector<Box>{Report(seen.window, "Can Not Open File")}));
        EXPECT_EQ(seen.commands, std::vector<std::string>{});
    }
}

// ---- hang-ups ----

struct HangUpCase {
    const char* name;
    std::function<void(sim::Scenario&, upd::UpdateFileParts&)> set;
    std::function<std::vector<Box>(HWND)> boxes;
    bool updateEnabledAfter;
};

sim::Fault HangUpOn(const std::string& command, int bytes) {
    sim::Fault fault = qam::test::FaultOn(sim::FaultKind::HangUp, command);
    fault.bytes = bytes;
    return fault;
}

TEST_F(ProofInputTest, AHangUpIsReportedInBoundedTimeWithoutSpinning) {
    const std::vector<HangUpCase> cases{
        {"in the middle of a block send",
         [](sim::Scenario& s, upd::UpdateFileParts& p) {
             // Far more than the line's buffers hold behind the point where the module goes.
             p.appCode = upd::SectionInput{qam::test::SectionData(0x20000, 5), true, std::nullopt};
             s.faults.push_back(HangUpOn("UAPP", 4096));
         },
         [](HWND d) { return std::vector<Box>{Report(d, "Can Not Write To COM")}; }, true},
        {"in the middle of a block receive",
         [](sim::Scenario& s, upd::UpdateFileParts&) { s.faults.push_back(HangUpOn("RSTA", 10)); },
         [](HWND d) { return std::vector<Box>{BackupQuestion(d), Report(d, "Can Not Write To COM")}; }, true},
        {"in the raw bitmap read",
         [](sim::Scenario& s, upd::UpdateFileParts&) { s.faults.push_back(HangUpOn("RFLT", 100)); },
         // Part of the bitmap came: a bad response; the reply area holds nothing yet.
         [](HWND d) { return std::vector<Box>{BackupQuestion(d), Report(d, "Invalid Response [  ]")}; }, true},
        {"during the reset wait",
         [](sim::Scenario& s, upd::UpdateFileParts&) { s.faults.push_back(HangUpOn("RST0", 4)); },
         [](HWND d) { return std::vector<Box>{Report(d, "No Response")}; }, false},
    };
    qam::test::ScopedTimeoutScale fast(1, 40);
    // Counted after a clean update, once the link, the simulator and Wine have all been used.
    ASSERT_EQ(Update(Module(), WriteUpdateFile()).lower.back(), "Update Successful");
    m_sim.reset();
    const int descriptorsBefore = qam::test::OpenDescriptorCount();
    for (const HangUpCase& c : cases) {
        SCOPED_TRACE(c.name);
        ProofCase proof(m_tally, "hangup");
        sim::Scenario scenario = Module();
        upd::UpdateFileParts parts = qam::test::ThreeSections();
        c.set(scenario, parts);
        const Seen seen = Update(scenario, WriteUpdateFile(parts, "hangup.qam"));
        // The reconnect after the reset tries the four stored ports; nothing else waits long.
        proof.Timed(milliseconds(60000));
        std::vector<Box> boxes = seen.boxes;
        std::erase_if(boxes, [](const Box& b) { return b.text == "Read Failed!" || b.text == "Write Failed!"; });
        EXPECT_EQ(boxes, c.boxes(seen.window));
        EXPECT_EQ(seen.lower.back(), "Update Failed");
        EXPECT_EQ(seen.updateEnabled, c.updateEnabledAfter);
        EXPECT_TRUE(m_sim->State().hungUp);
        EXPECT_LE(seen.cpuMs, seen.took.count() / 2 + 3000) << "CPU " << seen.cpuMs << " ms in " << seen.took.count() << " ms";
    }
    m_sim.reset();
    const int descriptorsAfter = qam::test::OpenDescriptorCount();
    // Wine opens and closes descriptors of its own as it goes, far fewer than a leak a run.
    if (qam::test::RunningUnderWine()) {
        EXPECT_LE(descriptorsAfter, descriptorsBefore + 8) << "before " << descriptorsBefore;
    } else {
        EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    }
    m_tally.Note("hangup", "fd_before=" + std::to_string(descriptorsBefore) + " fd_after=" + std::to_string(descriptorsAfter));
}

// ---- repeated scans ----

// Scans over missing ports and the module, on both builds: under Wine the descriptors are counted
// as the host sees them (Z:\\proc\\self\\fd), since GetProcessHandleCount answers 0 there.
TEST_F(ProofInputTest, RepeatedScansLeaveNoDescriptorBehind) {
    Fresh();
    m_sim = qam::test::StartSimulator(Module());
    const int module = m_sim->Port();
    Registry().Put(qam::test::kRegistryKey, "LastCOM", RegistryValue::Dword(static_cast<DWORD>(module + 1)));
    Registry().Put(qam::test::kRegistryKey, "PrefCOM", RegistryValue::Dword(1));
    const int scans = qam::test::ProofFull() ? 1000 : 50;
    const milliseconds bound(10000);
    CUpdaterDialog dialog;
    int baseline = -1;
    int latest = -1;
    auto last = std::chrono::steady_clock::now();
    std::vector<std::function<void()>> steps;
    for (int scan = 0; scan < scans; ++scan) {
        steps.push_back([&, scan] {
            {
                ProofCase proof(m_tally, "scan-repeated");
                const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - last);
                EXPECT_EQ(dialog.m_search.foundPort, module) << "scan " << scan;
                latest = qam::test::OpenDescriptorCount();
                if (scan == 1) {
                    baseline = latest; // after Wine's own first use of everything
                }
                if (scan > 1) {
                    EXPECT_LE(latest, baseline + (qam::test::RunningUnderWine() ? 8 : 0)) << "scan " << scan;
                    EXPECT_LE(took.count(), bound.count()) << "scan " << scan;
                    m_tally.Record("scan-repeated-bound", took <= bound, took, bound);
                }
            }
            // Each scan from port 1 again: the missing ports first, then the module.
            dialog.m_search.preferredPort = 1;
            last = std::chrono::steady_clock::now();
            Desktop().Click(dialog.GetDlgItem(IDC_SEARCH_MODULE).m_hWnd);
        });
    }
    Run(dialog, steps);
    EXPECT_TRUE(Desktop().Boxes().empty());
    if (!qam::test::RunningUnderWine()) {
        EXPECT_EQ(latest, baseline);
    }
    m_tally.Note("scan-repeated", "fd_before=" + std::to_string(baseline) + " fd_after=" + std::to_string(latest));
}

// ---- hostile registry values ----

struct RegistryCase {
    const char* name;
    std::vector<std::pair<const char*, RegistryValue>> values;
    std::function<void(const CUpdaterDialog&, const std::vector<std::string>& upper)> check;
};

RegistryValue Raw(DWORD type, std::vector<std::uint8_t> data) {
    RegistryValue value;
    value.type = type;
    value.data = std::move(data);
    return value;
}
RegistryValue Text(const std::string& text, bool terminated) {
    return RegistryValue::String(text, terminated);
}
std::vector<std::string> Searched(const std::vector<std::string>& upper) {
    std::vector<std::string> searched;
    for (const std::string& text : upper) {
        if (text.rfind("searching", 0) == 0) {
            searched.push_back(text);
        }
    }
    return searched;
}
std::string LastDirectory(const CUpdaterDialog& d) {
    return std::string(d.m_lastDirectory.data(), ::strnlen(d.m_lastDirectory.data(), d.m_lastDirectory.size()));
}

TEST_F(ProofInputTest, HostileRegistryValuesAreTakenAsTheStartUpRulesSay) {
    const std::string longText(300, 'd');
    const std::string fullText(260, 'e');
    const auto dword = [](std::int64_t v) { return RegistryValue::Dword(static_cast<DWORD>(v)); };
    const auto notFound = [](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
        EXPECT_EQ(upper.back(), "no Device found !");
        EXPECT_EQ(d.m_search.foundPort, -1);
        EXPECT_FALSE(d.m_link.IsOpen());
    };
    const std::vector<RegistryCase> cases{
        {"LastNUVDir longer than 260 bytes",
         {{"LastNUVDir", Text(longText, true)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) { EXPECT_EQ(LastDirectory(d), ""); }},
        {"LastNUVDir of 260 bytes without a zero",
         {{"LastNUVDir", Text(fullText, false)}},
         [&](const CUpdaterDialog& d, const std::vector<std::string>&) { EXPECT_EQ(LastDirectory(d), fullText); }},
        {"LastNUVDir unterminated",
         {{"LastNUVDir", Text("C:\\fw", false)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) { EXPECT_EQ(LastDirectory(d), "C:\\fw"); }},
        {"LastNUVDir with a zero inside",
         {{"LastNUVDir", Raw(REG_SZ, {'C', ':', '\\', 'a', 0, 'x', 'y'})}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) { EXPECT_EQ(LastDirectory(d), "C:\\a"); }},
        {"LastNUVDir as a number",
         {{"LastNUVDir", RegistryValue::Dword(0x41424344)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) { EXPECT_LE(LastDirectory(d).size(), 4u); }},
        {"negative PrefCOM",
         {{"LastCOM", dword(4)}, {"PrefCOM", dword(-5)}},
         [&](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
             EXPECT_EQ(Searched(upper), (std::vector<std::string>{Searching(-5), Searching(-4), Searching(-3), Searching(-2)}));
             notFound(d, upper);
         }},
        {"huge PrefCOM",
         {{"LastCOM", dword(4)}, {"PrefCOM", dword(0x7FFFFFFF)}},
         [&](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
             EXPECT_EQ(Searched(upper), (std::vector<std::string>{Searching(2147483643), Searching(2147483644),
                                                                  Searching(2147483645), Searching(2147483646)}));
             notFound(d, upper);
         }},
        {"lowest PrefCOM",
         {{"LastCOM", dword(2)}, {"PrefCOM", dword(0x80000000)}},
         [&](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
             EXPECT_EQ(Searched(upper), (std::vector<std::string>{Searching(-2147483648LL), Searching(-2147483647LL)}));
             notFound(d, upper);
         }},
        {"negative LastCOM",
         {{"LastCOM", dword(-3)}, {"PrefCOM", dword(3)}},
         [&](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
             EXPECT_TRUE(Searched(upper).empty());
             EXPECT_EQ(d.m_search.portCount, -3);
             notFound(d, upper);
         }},
        {"huge LastCOM",
         {{"LastCOM", dword(0x7FFFFFFF)}, {"PrefCOM", dword(3)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) {
             EXPECT_EQ(d.m_search.portCount, 32);
             EXPECT_EQ(d.m_search.foundPort, 3);
         }},
        {"LastCOM as text",
         {{"LastCOM", Text("4", true)}, {"PrefCOM", dword(3)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) {
             EXPECT_EQ(d.m_search.portCount, 32);
             EXPECT_EQ(d.m_search.foundPort, 3);
         }},
        {"LastCOM of two bytes",
         {{"LastCOM", Raw(REG_DWORD, {4, 0})}, {"PrefCOM", dword(3)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>&) { EXPECT_EQ(d.m_search.portCount, 32); }},
        {"PrefCOM as text",
         {{"LastCOM", dword(4)}, {"PrefCOM", Text("3", true)}},
         [](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
             EXPECT_EQ(Searched(upper), (std::vector<std::string>{Searching(1), Searching(2), Searching(3)}));
             EXPECT_EQ(d.m_search.foundPort, 3);
         }},
        {"PrefCOM as eight binary bytes",
         {{"LastCOM", dword(4)}, {"PrefCOM", Raw(REG_BINARY, {3, 0, 0, 0, 0, 0, 0, 0})}},
         [](const CUpdaterDialog& d, const std::vector<std::string>& upper) {
             EXPECT_EQ(Searched(upper).front(), Searching(1));
             EXPECT_EQ(d.m_search.foundPort, 3);
         }},
    };
    for (const RegistryCase& c : cases) {
        SCOPED_TRACE(c.name);
        ProofCase proof(m_tally, "registry");
        Fresh();
        m_sim = qam::test::StartSimulator(Module());
        ASSERT_EQ(m_sim->Port(), 3);
        Registry().AddKey(qam::test::kRegistryKey);
        // Ports beyond the module's do not exist: a scan of them ends at once.
        Registry().Put(qam::test::kRegistryKey, "LastCOM", RegistryValue::Dword(4));
        Registry().Put(qam::test::kRegistryKey, "PrefCOM", RegistryValue::Dword(4));
        for (const auto& [name, value] : c.values) {
            Registry().Put(qam::test::kRegistryKey, name, value);
        }
        const std::optional<RegistryValue> storedPreferred = Registry().Value(qam::test::kRegistryKey, "PrefCOM");
        CUpdaterDialog dialog;
        Run(dialog, {[&] {
            c.check(dialog, Control(dialog, IDC_STATUS_UPPER).texts);
            EXPECT_TRUE(Desktop().Boxes().empty());
        }});
        // At close: the preferred port is written only after the module was found.
        const std::optional<RegistryValue> preferred = Registry().Value(qam::test::kRegistryKey, "PrefCOM");
        if (dialog.m_search.foundPort > 0) {
            EXPECT_EQ(preferred, RegistryValue::Dword(static_cast<DWORD>(dialog.m_search.foundPort)));
        } else {
            EXPECT_EQ(preferred, storedPreferred);
        }
    }
}

} // namespace
