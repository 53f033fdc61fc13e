// One golden run per operator command against the simulator: the whole trace, the status texts in
// order, the time-out sets asked for, the progress positions, the boxes, what the module holds.
#include "module/SettingsBackups.h"
#include "tests/support/Kit.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

namespace {

using namespace qam::test;
namespace sim = qam::sim;
using Timeouts = qam::link::Timeouts;

// 20 bytes of channel 0's settings image: J 1234, I 2500, mode 0x0E, H 8192, S 1024, Q 300,
// y 1024, LNB 9, LND 10, and two bytes the write never sends.
const sim::Bytes CHANNEL0 = {0xD2, 0x04, 0xC4, 0x09, 0x0E, 0xEE, 0x00, 0x20, 0x00, 0x04,
                             0x2C, 0x01, 0xEE, 0xEE, 0x00, 0x04, 0x09, 0x0A, 0xEE, 0xEE};
// Channel 1: J 7, I 0, mode 0x00, S 5, Q 3, y 12, LNB 2, LND 16 (above 15: not sent).
const sim::Bytes CHANNEL1 = {0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
                             0x00, 0x03, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x02, 0x10};

sim::Scenario Module() {
    sim::Scenario scenario;
    scenario.restartMs = 100;
    scenario.channels[0] = {CHANNEL0, {0xB0, 0x01, 0x02}, sim::Bytes(1024, 0)};
    scenario.channels[0].filter[0] = 0x05;    // bits 0 and 2
    scenario.channels[0].filter[1023] = 0x80; // bit 8191
    scenario.channels[1] = {CHANNEL1, {0xB1}, sim::Bytes(1024, 0)};
    scenario.channels[1].filter[1] = 0x01; // bit 8
    return scenario;
}

// What the update writes back of Module()'s settings after its reset.
const std::vector<std::string> RESTORE = {
    // channel 0 restored value by value
    "c000", "LNB5", "LNDA", "WBLS", "\\x03\\x00\\x00\\x00", "\\xB0\\x01\\x02", "I002", "i500", "J001", "j234",
    "M712", "H000", "h819", "S001", "s024", "Q008", "y999", "p+\\x00\\x00", "p+\\x02\\x00", "p+\\xFF\\x1F",
    "ZAll",
    // channel 1: no H, LND 16 not sent
    "c001", "LNB2", "WBLS", "\\x01\\x00\\x00\\x00", "\\xB1", "I000", "i000", "J000", "j007", "M801", "S000",
    "s005", "Q003", "y012", "p+\\x08\\x00", "ZAll"};

std::vector<std::string> Lines(std::vector<std::string> lines) {
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

const Timeouts OPENED{100, 50, 5000, 50, 500};
const Timeouts SEARCH{100, 50, 10000, 50, 500};

class GoldenTest : public WindowTest {};

TEST_F(GoldenTest, StartUpSearchIdentifiesTheModuleAndEnablesItsButtons) {
    sim::Scenario scenario = Module();
    scenario.sync = sim::SyncMode::ShortUntilSync;
    StartModule(scenario);
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
            // Four bytes to "VDSP": one "?" and the port opened anew.
            EXPECT_EQ(SentLines(m_sim->Trace()),
                      (std::vector<std::string>{"VDSP", "?", "VDSP", "VPLD", "VTUN"}));
            EXPECT_EQ(Desk().Texts(IDC_STATUS_UPPER),
                      (std::vector<std::string>{"", "searching Device on COM 3...", "try to sync ...",
                                                "searching Device on COM 3...",
                                                "Device on COM 3\nDSP : NUV 1.16 A   PLD : PLD 2.03 B"}));
            EXPECT_EQ(Lower(), (std::vector<std::string>{"", "ready"}));
            EXPECT_EQ(AskedTimeouts(), (std::vector<Timeouts>{OPENED, SEARCH, OPENED, SEARCH}));
            EXPECT_EQ(dialog.m_search.foundPort, 3);
            EXPECT_EQ(dialog.m_search.tunerType, 1);
            EXPECT_EQ(dialog.m_proxy.m_tunerType, 1);
            EXPECT_EQ(dialog.m_proxy.m_firmwareVersion, 1.16);
            EXPECT_TRUE(dialog.m_link.IsOpen());
            EXPECT_TRUE(Control(dialog, IDC_SELECT_FILE).enabled);
            EXPECT_TRUE(Control(dialog, IDC_DEFAULT_SETTINGS).enabled);
            EXPECT_TRUE(Control(dialog, IDC_KEEP_SETTINGS).enabled);
            EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled);
            ExpectFinished(dialog);
            EXPECT_EQ(Desk().cursor, (std::vector<bool>{true, false})) << "the wait cursor for the search";
        }});
    EXPECT_TRUE(Desk().boxes.empty());
}

// A module out of step gets one resynchronisation a scan, of at most four "?": one that never
// answers them, and one that keeps answering "VDSP" short, are both passed by.
TEST_F(GoldenTest, SearchResynchronisesOncePerPortWithFourAttempts) {
    ScopedTimeoutScale fast(1, 40);
    for (const bool answersSync : {false, true}) {
        Desk().Reset();
        sim::Scenario scenario = Module();
        scenario.sync = answersSync ? sim::SyncMode::AlwaysShort : sim::SyncMode::ShortUntilSync;
        if (!answersSync) {
            scenario.faults = {FaultOn(sim::FaultKind::Silence, "?", 0)};
        }
        StartModule(scenario);
        StoreSetting("LastCOM", std::uint32_t{3}); // COM3, then the missing COM1 and COM2
        CUpdaterDialog dialog;
        Run(dialog, {[&] { EXPECT_EQ(Desk().Texts(IDC_STATUS_UPPER).back(), "no Device found !"); }});
        const std::vector<std::string> sent = answersSync
                                                  ? std::vector<std::string>{"VDSP", "?", "VDSP"}
                                                  : std::vector<std::string>{"VDSP", "?", "?", "?", "?"};
        EXPECT_EQ(SentLines(m_sim->Trace()), sent);
    }
}

Timeouts Set(int readConstant) {
    return Timeouts{100, 50, readConstant, 50, 500};
}

TEST_F(GoldenTest, UpdateKeepsBothChannels) {
    StartModule(Module());
    Desk().realSleepMs = 25; // nine waited seconds outlast the module's restart
    const std::string path = m_dir.Write("fw.qam", qam::update::BuildUpdateFile(ThreeSections()));
    CUpdaterDialog dialog;
    std::size_t from = 0;
    Run(dialog,
        {[&] { Choose(dialog, path); },
         [&] {
             from = m_sim->Trace().size();
             ClearAskedTimeouts();
             Press(dialog, IDC_UPDATE);
         },
         [&] {
             ExpectFinished(dialog);
             // The Update button stays off after the reset until a new search.
             EXPECT_FALSE(dialog.m_search.moduleFound);
             EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled);
             EXPECT_FALSE(dialog.m_link.IsOpen());
             Choose(dialog, path);
         },
         [&] { EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled) << "a file chosen after the reset"; }});

    EXPECT_EQ(
        SentLines(m_sim->Trace(), from),
        Lines({// the backup: both channels' image, BLS block and filter bitmap
               "c000", "RSTA", "RBLS", "RFLT", "c001", "RSTA", "RBLS", "RFLT",
               // settings cleared; each section cleared and sent from its data offset 4 on
               "CPRM", "CPLD", "UPLD", "\\x10\\x00\\x00\\x00", "[16 bytes]", "CAPP", "UAPP",
               "\\x14\\x00\\x00\\x00", "[20 bytes]", "CAPD", "UAPD", "\\x0C\\x00\\x00\\x00", "[12 bytes]",
               // reset, reconnection
               "RST0", "VDSP", "VPLD", "VTUN"}) +
            RESTORE);
    EXPECT_EQ(Lower(), (std::vector<std::string>{"",
                                                 "ready",
                                                 "ready",
                                                 "checking update file ...",
                                                 "read current settings ...",
                                                 "clear current settings ...",
                                                 "checking Version ...",
                                                 "reading Creation Date ...",
                                                 "reading BitFile ...",
                                                 "reading FPGACfg from fpga.bit ...",
                                                 "Clearing FLASH Area...",
                                                 "Downloading FPGA Configuration...",
                                                 "reading DmpFile ...",
                                                 "reading AppCode from app.dmp ...",
                                                 "Clearing FLASH Area...",
                                                 "Downloading Application Code...",
                                                 "reading AppData from app.dmp ...",
                                                 "Clearing FLASH Area...",
                                                 "Downloading Application Data...",
                                                 "reset module ...",
                                                 "reconnect ...",
                                                 "ready",
                                                 "restore settings ...",
                                                 "Update Successful",
                                                 "ready"}));
    EXPECT_EQ(AskedTimeouts(),
              (std::vector<Timeouts>{Set(10000), Set(5000), Set(20000), Set(5000), Set(20000), Set(5000),
                                     Set(20000), Set(5000), OPENED, SEARCH, Set(5000), Set(25000), Set(5000),
                                     Set(10000), Set(5000), Set(25000), Set(5000), Set(10000), Set(5000)}));
    EXPECT_EQ(Desk().Progress(), (std::vector<int>{0, 100, 0, 80, 100, 0, 100, 0}));
    const sim::ModuleState state = m_sim->State();
    const qam::update::UpdateFileParts parts = ThreeSections();
    EXPECT_EQ(state.flash[0], sim::Bytes(parts.fpga->data.begin() + 4, parts.fpga->data.end()));
    EXPECT_EQ(state.flash[2], sim::Bytes(parts.appCode->data.begin() + 4, parts.appCode->data.end()));
    EXPECT_EQ(state.flash[1], sim::Bytes(parts.appData->data.begin() + 4, parts.appData->data.end()));
    EXPECT_EQ(state.commits, 2);
    EXPECT_TRUE(Desk().boxes.empty());
    EXPECT_EQ(Desk().awake, (std::vector<bool>{true, false}));
    // The search's wait cursor, then the update's for its whole run (shown again after each message).
    std::vector<bool> cursor = Desk().cursor;
    cursor.erase(std::unique(cursor.begin(), cursor.end()), cursor.end());
    EXPECT_EQ(cursor, (std::vector<bool>{true, false, true, false}));
    const std::vector<qam::module::StoredBackup> backups = qam::module::ListBackups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_FALSE(backups[0].pending) << "written back: settled";
}

// A download refused after "CPRM" leaves the settings read before it pending; the next update,
// answered Yes, reads nothing and writes them back as a successful update does.
TEST_F(GoldenTest, RetryAfterAFailedDownloadWritesBackTheSettingsSavedBeforeIt) {
    sim::Scenario scenario = Module();
    scenario.faults = {FaultOn(sim::FaultKind::RefuseBlock, "UAPP")};
    StartModule(scenario);
    Desk().realSleepMs = 25;
    const std::string path = m_dir.Write("fw.qam", qam::update::BuildUpdateFile(ThreeSections()));
    Desk().Answer("Settings Saved Before A Failed Update (2001-09-09 01:46, NUV 1.16 A) Found. Restore These "
                  "Instead Of The Current Settings ?",
                  IDYES);
    CUpdaterDialog dialog;
    std::string pending;
    std::size_t from = 0;
    Run(dialog, {[&] { Choose(dialog, path); }, [&] { Press(dialog, IDC_UPDATE); },
                 [&] {
                     const std::vector<qam::module::StoredBackup> backups = qam::module::ListBackups();
                     ASSERT_EQ(backups.size(), 1u);
                     EXPECT_TRUE(backups[0].pending);
                     pending = backups[0].path;
                     EXPECT_EQ(Desk().boxes.back().text,
                               "Invalid Response [ OK ]\nSaved Settings: " + pending);
                     Press(dialog, IDC_SEARCH_MODULE);
                 },
                 [&] {
                     from = m_sim->Trace().size();
                     Press(dialog, IDC_UPDATE);
                 },
                 [&] { ExpectFinished(dialog); }});
    EXPECT_EQ(SentLines(m_sim->Trace(), from),
              Lines({"CPRM", "CPLD", "UPLD", "\\x10\\x00\\x00\\x00", "[16 bytes]", "CAPP", "UAPP",
                     "\\x14\\x00\\x00\\x00", "[20 bytes]", "CAPD", "UAPD", "\\x0C\\x00\\x00\\x00",
                     "[12 bytes]", "RST0", "VDSP", "VPLD", "VTUN"}) +
                  RESTORE);
    EXPECT_EQ(Lower().back(), "Update Successful");
    const std::vector<qam::module::StoredBackup> backups = qam::module::ListBackups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_FALSE(backups[0].pending) << "written back: settled";
}

TEST_F(GoldenTest, FactoryDefaultsClearAndResetOnYes) {
    StartModule(Module());
    CUpdaterDialog dialog;
    std::size_t from = 0;
    Desk().Answer("Do You Want To Reset The Modul ?", IDYES);
    Run(dialog, {[&] {
                     from = m_sim->Trace().size();
                     ClearAskedTimeouts();
                     PostDefaults(dialog);
                 },
                 [&] {
                     ExpectFinished(dialog);
                     EXPECT_TRUE(dialog.m_link.IsOpen());
                     EXPECT_EQ(Desk().boxes,
                               (std::vector<Box>{{dialog.m_hWnd, "Do You Want To Reset The Modul ?",
                                                  "Start New Firmware", MB_YESNO, IDYES, false}}));
                 }});
    EXPECT_EQ(SentLines(m_sim->Trace(), from), (std::vector<std::string>{"CPRM", "RST0"}));
    EXPECT_EQ(Lower(), (std::vector<std::string>{"", "ready", "Clearing FLASH Area...", "",
                                                 "Reseting Module ...", "All Settings Set To Default!"}));
    EXPECT_EQ(AskedTimeouts(), (std::vector<Timeouts>{Set(10000)}));
    EXPECT_EQ(Desk().cursor, (std::vector<bool>{true, false, true, false})) << "the search's, the command's";
    EXPECT_EQ(std::string(dialog.m_lastResetReply.data(), 4), "NUVs");
}

// The file-choice rules in one run: accepted, refused by its name, cancelled; the directory is
// remembered each time a file is chosen and saved at close with the found port.
TEST_F(GoldenTest, FileChoiceRemembersTheDirectoryAndAcceptsOnlyQamNames) {
    StartModule(Module());
    StoreSetting("PrefCOM", std::uint32_t{2}); // the module is found on the next port
    const std::string directory = (m_dir.Path() / "fw").string();
    const std::string other = (m_dir.Path() / "other").string();
    const std::string accepted = (m_dir.Path() / "fw" / "a.qam").string();
    CUpdaterDialog dialog;
    Run(dialog, {[&] { Choose(dialog, accepted); },
                 [&] {
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     EXPECT_EQ(dialog.m_updateFilePath, accepted);
                     Choose(dialog, (m_dir.Path() / "other" / "b.QAM").string());
                 },
                 [&] {
                     EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled);
                     EXPECT_EQ(dialog.m_updateFilePath, "");
                     Desk().ChooseFile(std::nullopt);
                     Press(dialog, IDC_SELECT_FILE);
                 }});
    const std::string filter("Update-Files (.qam)\0*.qam\0\0", 27);
    ASSERT_EQ(Desk().fileDialogs.size(), 3u);
    EXPECT_EQ(Desk().fileDialogs[0].title, "Select File For Download ...");
    EXPECT_EQ(Desk().fileDialogs[0].filter, filter);
    EXPECT_EQ(Desk().fileDialogs[0].flags, 0x81006u);
    EXPECT_EQ(Desk().fileDialogs[0].initialDir, "");
    EXPECT_EQ(Desk().fileDialogs[0].owner, Desk().boxes.at(0).owner);
    EXPECT_EQ(Desk().fileDialogs[1].initialDir, directory);
    EXPECT_EQ(Desk().fileDialogs[2].initialDir, other);
    EXPECT_EQ(Desk().boxes, (std::vector<Box>{{Desk().boxes.at(0).owner, "File Type not supported!", "ERROR",
                                               MB_ICONERROR | MB_OK, IDOK, true}}));
    EXPECT_EQ(Lower(), (std::vector<std::string>{"", "ready", "ready", "ready", "ready"}));
    EXPECT_EQ(StoredSetting("LastNUVDir"), other);
    EXPECT_EQ(StoredSetting("PrefCOM"), "3");
}

} // namespace
