// The window's own rules, and the exits of its commands that the fault sweep cannot produce: what
// the operator answers, how the module answers a reset, a changed tuner, a closed port, the values
// kept between runs, the title, the close request while a command runs, the reset wait.
#include "framework/MessagePump.h"
#include "module/SettingsBackups.h"
#include "tests/support/Kit.h"
#include "tests/support/Proof.h"
#include "ui/UpdaterApp.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace {
bool shortResetWrite = false;
} // namespace

// "RST0" goes out only half, and the rest never: a write the line does not complete.
extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
    static const auto next =
        reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(::dlsym(RTLD_NEXT, "write"));
    if (shortResetWrite && count == 4 && std::memcmp(buffer, "RST0", 4) == 0) {
        return next(fd, buffer, 2);
    }
    if (shortResetWrite && count == 2 && std::memcmp(buffer, "T0", 2) == 0) {
        errno = EAGAIN;
        return -1;
    }
    return next(fd, buffer, count);
}

namespace {

using namespace qam::test;
namespace sim = qam::sim;

constexpr const char* BACKUP_QUESTION = "Do You Want To Continue ?";
constexpr const char* RESET_QUESTION = "Do You Want To Reset The Modul ?";
constexpr const char* TUNER_CHANGED =
    "New Firmware Supports Other Tuner Type !\n Previous Settings will NOT Be Restored, Using Defaults.";

sim::Scenario Module() {
    sim::Scenario scenario;
    scenario.restartMs = 100;
    for (sim::ChannelContent& channel : scenario.channels) {
        channel.settings = sim::Bytes(18, 0);
        channel.bls = {0x01};
    }
    return scenario;
}

const std::string SAVED = "\nSaved Settings: <backup>";
const std::string SAVED_QUESTION =
    "Settings Saved Before A Failed Update (2001-09-09 01:46, NUV 1.16 A) Found. "
    "Restore These Instead Of The Current Settings ?";

std::string PendingBackup() {
    std::string pending;
    for (const qam::module::StoredBackup& backup : qam::module::ListBackups()) {
        pending = backup.pending ? backup.path : pending;
    }
    return pending;
}

// The texts of the boxes shown, a pending backup's file named "<backup>".
std::vector<std::string> Shown() {
    const std::string pending = PendingBackup();
    std::vector<std::string> shown;
    for (const Box& box : TestDesktop::Instance().boxes) {
        std::string text = box.text;
        if (const std::size_t at = pending.empty() ? std::string::npos : text.find(pending);
            at != std::string::npos) {
            text.replace(at, pending.size(), "<backup>");
        }
        shown.push_back(text);
    }
    return shown;
}

class WindowRulesTest : public WindowTest {
protected:
    // The ports the start-up search visited, from its status texts.
    static std::vector<std::string> Searched() {
        std::vector<std::string> ports;
        for (const std::string& text : Desk().Texts(IDC_STATUS_UPPER)) {
            if (text.rfind("searching Device on COM ", 0) == 0) {
                ports.push_back(text.substr(24, text.size() - 27));
            }
        }
        return ports;
    }
};

// What the window starts with: the values kept between runs, and the title from its version.
TEST_F(WindowRulesTest, StartUpReadsTheKeptValuesAndTheTitle) {
    struct Row {
        const char* name;
        std::function<void()> store;
        std::size_t ports; // how many the search visits (their order is PortAt's)
        std::string first;
        std::string directory;
    };
    const std::string longest(260, 'd');
    const std::vector<Row> rows = {
        {"first start: the key is made, 4 ports from port 1", [] {}, 4, "1", ""},
        {"values missing: 32 ports from port 1", [] { StoreSetting("LastNUVDir", std::string("/fw")); }, 32,
         "1", "/fw"},
        {"40 ports from port 5: the count is capped at 32",
         [] {
             StoreSetting("LastCOM", std::uint32_t{40});
             StoreSetting("PrefCOM", std::uint32_t{5});
         },
         32, "5", ""},
        {"no ports", [] { StoreSetting("LastCOM", std::uint32_t{0}); }, 0, "", ""},
        {"numbers that are no numbers, a directory one byte too long: the defaults",
         [&] {
             StoreSetting("LastCOM", std::string("4x"));
             StoreSetting("PrefCOM", std::string("99999999999"));
             StoreSetting("LastNUVDir", longest + "d");
         },
         32, "1", ""},
        {"a directory of 260 bytes is kept whole", [&] { StoreSetting("LastNUVDir", longest); }, 32, "1",
         longest},
    };
    ProofTally tally;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int failedBefore = FailedParts();
        Desk().Reset();
        ForgetSettings();
        row.store();
        const std::optional<std::string> preferred = StoredSetting("PrefCOM");
        CUpdaterDialog dialog;
        Run(dialog, {[&] {
                EXPECT_EQ(Searched().size(), row.ports);
                EXPECT_EQ(Searched().empty() ? "" : Searched().front(), row.first);
                EXPECT_EQ(Desk().Texts(IDC_STATUS_UPPER).back(), "no Device found !");
                EXPECT_EQ(std::string(dialog.m_lastDirectory.data()), row.directory);
                EXPECT_FALSE(Control(dialog, IDC_SELECT_FILE).enabled);
            }});
        // Saved at close: the directory held; the stored port kept, even one the window could not read.
        EXPECT_EQ(StoredSetting("LastNUVDir"), row.directory);
        EXPECT_EQ(StoredSetting("PrefCOM"), preferred);
        tally.Record("stored-values", FailedParts() == failedBefore);
    }

    struct Title {
        bool present;
        std::string fileVersion;
        DWORD size;
        std::string title;
    };
    const std::string fallback = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V ?.??";
    for (const Title& title :
         std::vector<Title>{{true, "1, 4, 6, 0", 0, "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V 1.46"},
                            {true, "2,10,3,0", 2047, "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V 2.103"},
                            {true, "1, 4, 6, 0", 2048, fallback},
                            {true, "", 0, fallback},
                            {false, "", 0, fallback}}) {
        SCOPED_TRACE(title.fileVersion);
        Desk().Reset();
        Desk().versionPresent = title.present;
        Desk().fileVersion = title.fileVersion;
        Desk().reportedVersionSize = title.size;
        Desk().Operate([] { Press(CWnd(Desk().runningDialog), IDCANCEL); });
        CUpdaterApp app;
        fw::RunApplication(app);
        EXPECT_EQ(Desk().Texts(0), (std::vector<std::string>{title.title}));
        EXPECT_EQ(Desk().versionFilesAsked.at(0), "QamUpdate") << "the program file, named as on Linux";
    }
}

// The tips shown on hover, the check box, the minimised icon and every close request, idle and
// while a command runs.
TEST_F(WindowRulesTest, CloseRequestsEndTheWindowOnlyWhenNoCommandRuns) {
    StartModule(Module());
    CUpdaterDialog dialog;
    Desk().Answer(RESET_QUESTION, IDNO, [&] {
        // As the box's own loop would deliver them while the factory defaults wait for the answer.
        Desk().CloseBox(dialog.m_hWnd);
        fw::PumpWaitingMessages();
        EXPECT_EQ(dialog.SendMessage(WM_QUERYENDSESSION), FALSE);
        EXPECT_EQ(dialog.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)), 0);
    });
    // Steps of its own, without Run's closing one: Escape is the last step and must close.
    for (auto& step : std::vector<std::function<void()>>{
             [&] {
                 // The six tips themselves are read from outside under Wine (tests/windows/e2e.cpp).
                 EXPECT_EQ(Desk().tools.begin()->second.size(), 6u);
                 Desk().Hover(Item(dialog, IDC_SEARCH_MODULE));
             },
             [&] {
                 EXPECT_EQ(Desk().shownTip, "search QAM-Module on COM-ports");
                 Desk().Hover(Item(dialog, IDC_STATUS_UPPER));
             },
             [&] {
                 EXPECT_EQ(Desk().shownTip, "");
                 // The hidden check box's click, as the window would get it.
                 dialog.CheckDlgButton(IDC_KEEP_SETTINGS, BST_UNCHECKED);
                 dialog.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_KEEP_SETTINGS, BN_CLICKED));
                 EXPECT_EQ(dialog.m_keepSettings, 0);
                 headless::Window& window = headless::Desktop::Instance().WindowOf(dialog.m_hWnd);
                 window.iconic = true;
                 dialog.SendMessage(WM_PAINT);
                 window.iconic = false;
                 EXPECT_EQ(dialog.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(dialog.m_icon));
                 PostDefaults(dialog);
             },
             [&] {
                 EXPECT_EQ(Lower().back(), "All Settings Set To Default!");
                 EXPECT_EQ(dialog.SendMessage(WM_QUERYENDSESSION), TRUE);
                 Desk().PressKey(Item(dialog, IDC_UPDATE), VK_ESCAPE);
             }}) {
        Desk().Operate(std::move(step));
    }
    dialog.DoModal();
    ASSERT_EQ(Desk().drawnIcons.size(), 1u);
    // Centred in the 462 x 154 pixel client area: ((462 - 32 + 1) / 2, (154 - 32 + 1) / 2).
    EXPECT_EQ(Desk().drawnIcons[0].x, 215);
    EXPECT_EQ(Desk().drawnIcons[0].y, 61);
    EXPECT_EQ(StoredSetting("PrefCOM"), "3");
}

// How the factory defaults end by the operator's answer and the reset's reply.
TEST_F(WindowRulesTest, FactoryDefaultsEndAsTheResetAnswers) {
    struct Row {
        const char* resetReply;
        int answer;
        std::vector<std::string> commands;
        std::string report; // empty: none
        std::string status;
    };
    for (const Row& row : std::vector<Row>{
             {"OK\r\n", IDYES, {"CPRM", "RST0"}, "", "All Settings Set To Default!"},
             {"NUVx", IDYES, {"CPRM", "RST0"}, "Invalid Response [ NUVx ]", "Error: Settings Unknown"},
             // Nothing of the "OK\r\n" to "CPRM" shows behind a one-byte reply.
             {"N", IDYES, {"CPRM", "RST0"}, "Invalid Response [ N ]", "Error: Settings Unknown"},
             {"NUVs", IDNO, {"CPRM"}, "", "All Settings Set To Default!"}}) {
        SCOPED_TRACE(row.resetReply);
        Desk().Reset();
        sim::Scenario scenario = Module();
        scenario.resetReply = sim::ToBytes(row.resetReply);
        StartModule(scenario);
        Desk().Answer(RESET_QUESTION, row.answer);
        CUpdaterDialog dialog;
        std::size_t from = 0;
        Run(dialog, {[&] {
                         from = m_sim->Trace().size();
                         PostDefaults(dialog);
                     },
                     [&] { ExpectFinished(dialog); }});
        EXPECT_EQ(Commands(m_sim->Trace(), from), row.commands);
        EXPECT_EQ(Desk().boxes.back().text, row.report.empty() ? RESET_QUESTION : row.report);
        EXPECT_EQ(Lower().back(), row.status);
    }
}

struct Exit {
    const char* name;
    std::function<void(sim::Scenario&)> module;
    std::vector<std::pair<const char*, int>> answers;
    std::vector<std::string> boxes; // texts, in order
    const char* status;
    std::vector<std::string> commandsAfterReset; // from "RST0" on; empty: no reset sent
    int sleeps;
    int keepSettings = 1;
    bool shortResetWrite = false;
    bool keepBoxEnabled = true; // as the last search found the module
    bool pending = false;       // the settings saved before "CPRM" were not written back
};

// Every way an update ends that no fault of a single exchange brings about.
TEST_F(WindowRulesTest, UpdateEndsAsTheOperatorAndTheModuleDecide) {
    // A restore, once its channel is chosen, is the golden run's; here that it begins.
    const std::vector<std::string> RESTORE = {"RST0", "VDSP", "VPLD", "VTUN", "c000"};
    const std::vector<std::string> RECONNECT = {"RST0", "VDSP", "VPLD", "VTUN"};
    using Setup = std::function<void(sim::Scenario&)>;
    const Setup same = [](sim::Scenario&) {};
    const auto reply = [](const char* bytes) -> Setup {
        return [bytes](sim::Scenario& s) { s.resetReply = sim::ToBytes(bytes); };
    };
    const Setup otherTuner = [](sim::Scenario& s) { s.afterReset.tuner = "EDU10394"; };
    const Setup refused = [](sim::Scenario& s) {
        s.faults = {FaultOn(sim::FaultKind::RefuseBlock, "RSTA", 2)};
    };
    const Setup lost = [](sim::Scenario& s) {
        s.faults = {FaultOn(sim::FaultKind::HangUp, "RST0")};
        s.faults[0].bytes = 4;
    };
    const Setup noTuner = [](sim::Scenario& s) { s.afterReset.tuner = s.identification.tuner = "ABCDEFGH"; };
    const Setup noSettings = [](sim::Scenario& s) {
        s.afterReset.dsp = s.identification.dsp = "NUX 1.16 A01";
    };
    const char* const OK = "Update Successful";
    const char* const FAILED = "Update Failed";
    const std::vector<std::string> RESET = {"RST0"};
    const char* const ASK = BACKUP_QUESTION;
    const std::vector<Exit> exits = {
        {"channel 1 unreadable, Yes: no restore", refused, {{ASK, IDYES}}, {ASK}, OK, RECONNECT, 9},
        {"channel 1 unreadable, No: no clear", refused, {{ASK, IDNO}}, {ASK, "Unknown Error"}, FAILED, {}, 0},
        // Done at once without the restore: the settings saved before "CPRM" stay pending.
        {"16 reply bytes to the reset",
         reply("NUV 16 bytes ..."),
         {},
         {},
         OK,
         RESET,
         0,
         1,
         false,
         true,
         true},
        {"\"OK\\r\\n\" to the reset",
         reply("OK\r\n"),
         {},
         {"Invalid Response [ OK ]" + SAVED},
         FAILED,
         RESET,
         0},
        {"\"NUXs\" to the reset", reply("NUXs"), {}, {"Invalid Response [ NUXs ]" + SAVED}, FAILED, RESET, 0},
        // Nothing of the earlier reply shows behind a one-byte one.
        {"one byte to the reset", reply("N"), {}, {"Invalid Response [ N ]" + SAVED}, FAILED, RESET, 0},
        {"reset not written whole", same, {}, {"Can Not Write To COM" + SAVED}, FAILED, {}, 0, 1, true},
        {"line lost in the reset wait", lost, {}, {"No Response" + SAVED}, FAILED, RESET, 9, 1, false, false},
        {"another tuner after the update: its defaults", otherTuner, {}, {TUNER_CHANGED}, OK, RECONNECT, 9},
        {"another tuner, no backup in hand", otherTuner, {}, {TUNER_CHANGED}, OK, RECONNECT, 9, 0},
        {"no tuner known before or after: restored", noTuner, {}, {}, OK, RESTORE, 9},
        {"settings not supported: no backup", noSettings, {}, {}, OK, RECONNECT, 9, 1, false, false},
        {"keep settings off", same, {}, {}, OK, RECONNECT, 9, 0},
    };
    for (const Exit& exit : exits) {
        SCOPED_TRACE(exit.name);
        Desk().Reset();
        m_sim.reset();
        sim::Scenario scenario = Module();
        exit.module(scenario);
        StartModule(scenario);
        Desk().realSleepMs = 25;
        shortResetWrite = exit.shortResetWrite;
        for (const auto& [text, answer] : exit.answers) {
            Desk().Answer(text, answer);
        }
        const std::string path = m_dir.Write("fw.qam", qam::update::BuildUpdateFile(ThreeSections()));
        CUpdaterDialog dialog;
        Run(dialog, {[&] {
                         dialog.m_keepSettings = exit.keepSettings;
                         Choose(dialog, path);
                     },
                     [&] { Press(dialog, IDC_UPDATE); },
                     [&] {
                         ExpectFinished(dialog);
                         EXPECT_FALSE(dialog.m_link.IsOpen());
                         EXPECT_EQ(Control(dialog, IDC_KEEP_SETTINGS).enabled, exit.keepBoxEnabled);
                     }});
        shortResetWrite = false;
        EXPECT_EQ(Shown(), exit.boxes);
        const bool named = !exit.boxes.empty() && exit.boxes.back().ends_with(SAVED);
        EXPECT_EQ(!PendingBackup().empty(), exit.pending || named);
        EXPECT_EQ(Lower().back(), exit.status);
        const std::vector<std::string> commands = Commands(m_sim->Trace());
        const auto reset = std::find(commands.begin(), commands.end(), "RST0");
        EXPECT_EQ(
            std::vector<std::string>(reset, reset + std::min<std::ptrdiff_t>(5, commands.end() - reset)),
            exit.commandsAfterReset);
        EXPECT_EQ(Desk().sleeps, exit.sleeps);
    }
}

// A run that failed before the reset leaves the port closed: the next one cannot write until a
// new search. And the reset wait counts whole seconds from one that has just begun.
TEST_F(WindowRulesTest, SecondUpdateNeedsASearchAndTheWaitCountsWholeSeconds) {
    sim::Scenario scenario = Module();
    scenario.faults = {FaultOn(sim::FaultKind::Silence, "CPRM")};
    StartModule(scenario);
    Desk().realSleepMs = 25;
    ScopedTimeoutScale fast(1, 40);
    const std::string path = m_dir.Write("fw.qam", qam::update::BuildUpdateFile(ThreeSections()));
    Desk().Answer(SAVED_QUESTION, IDNO);
    Desk().Answer(BACKUP_QUESTION, IDNO);
    Desk().Answer(SAVED_QUESTION, IDNO);
    CUpdaterDialog dialog;
    std::int64_t resetAt = 0;
    Run(dialog, {[&] { Choose(dialog, path); }, [&] { Press(dialog, IDC_UPDATE); },
                 [&] {
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     Press(dialog, IDC_UPDATE);
                 },
                 [&] {
                     sim::Scenario silent = Module();
                     silent.faults = {FaultOn(sim::FaultKind::Silence, "VDSP", 0)};
                     m_sim->Restart(silent);
                     Press(dialog, IDC_SEARCH_MODULE);
                 },
                 [&] {
                     EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled) << "a file chosen, no module found";
                     m_sim->Restart(Module());
                     Press(dialog, IDC_SEARCH_MODULE);
                 },
                 [&] {
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     Desk().clock += 999; // the wait starts 999 ms into a second
                     resetAt = Desk().clock;
                     Desk().sleeps = 0;
                     Press(dialog, IDC_UPDATE);
                 }});
    // "CPRM" unanswered may have erased the settings: the next runs offer them.
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{"No Response" + SAVED, SAVED_QUESTION, "Can Not Write to COM!",
                                        BACKUP_QUESTION, "Can Not Write To COM", SAVED_QUESTION}));
    EXPECT_EQ(Lower().back(), "Update Successful");
    // Nine seconds' boundaries crossed: just over eight seconds from a second 999 ms old.
    EXPECT_EQ(Desk().sleeps, 9);
    EXPECT_GT(Desk().clock - resetAt, 8000);
    EXPECT_LE(Desk().clock - resetAt, 8100);
}

} // namespace
