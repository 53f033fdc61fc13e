// The Update command as a whole: every exit of the sequence with its boxes and final status, the
// settings carried across the update, the reset wait, the sleep guard and refused close requests;
// through the headless window and the real link against the simulator, on both builds.
#include "module/ChannelSettings.h"
#include "tests/integration/UpdateWindow.h"
#include "update/UpdateSequence.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using headless::Box;
using qam::test::ExchangeBox;
using qam::test::FaultOn;
using qam::test::ReportBox;
using qam::test::WindowBox;
namespace sim = qam::sim;
using Commands = std::vector<std::string>;

const Commands BACKUP{"c000", "RSTA", "RBLS", "RFLT", "c001", "RSTA", "RBLS", "RFLT"};
// The writer's record order: BDAT (FPGA), DPRG (application code), DDAT (application data).
const Commands DOWNLOAD{"CPLD", "UPLD", "CAPP", "UAPP", "CAPD", "UAPD"};
const Commands SEARCH{"VDSP", "VPLD", "VTUN"};

Commands Join(std::initializer_list<Commands> parts) {
    Commands all;
    for (const Commands& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The restore as the settings encoding writes it from what the module served.
Commands RestoreOf(const sim::Scenario& scenario, TunerType tuner = 1, double version = 1.16) {
    Commands commands;
    for (int channel = 0; channel < 2; ++channel) {
        const sim::ChannelContent& content = scenario.channels[static_cast<std::size_t>(channel)];
        SettingsRecord settings;
        settings.length = static_cast<std::uint32_t>(content.settings.size());
        std::copy(content.settings.begin(), content.settings.end(), settings.data.begin());
        BlsBlock bls;
        bls.length = static_cast<std::uint32_t>(content.bls.size());
        std::copy(content.bls.begin(), content.bls.end(), bls.data.begin());
        for (const auto& step :
             qam::module::PlanChannelWrite(channel, &settings, content.filter.data(), &bls, tuner, version)) {
            if (step.kind != qam::module::WriteStep::Kind::Timeouts) {
                commands.emplace_back(step.command.begin(), step.command.end());
            }
        }
    }
    return commands;
}

sim::Fault Wrong(const std::string& command, const std::string& reply, int occurrence = 1) {
    sim::Fault fault = FaultOn(sim::FaultKind::WrongReply, command, occurrence);
    fault.reply = sim::ToBytes(reply);
    return fault;
}

class UpdateSequenceTest : public qam::test::UpdateWindowTest {
protected:
    // Runs the window: start-up search, the file chosen, Update pressed, then check(). The
    // commands the module received after the start-up search go to m_commands.
    void RunUpdate(CUpdaterDialog& dialog, const std::string& path, const std::function<void()>& before,
                   const std::function<void()>& check) {
        Run(dialog, {[&] {
                         ASSERT_EQ(dialog.m_search.moduleFound, 1) << "the start-up search found no module";
                         m_searchEnd = TraceSize();
                         Choose(dialog, path);
                     },
                     [&] {
                         EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                         Control(dialog, IDC_STATUS_LOWER).texts.clear();
                         PressUpdate(dialog);
                         // Runs before the click is taken; what it posts comes behind the click.
                         if (before) {
                             before();
                         }
                     },
                     [&] {
                         m_commands = CommandsAfter(m_searchEnd);
                         check();
                     }});
    }

    std::size_t m_searchEnd = 0;
    Commands m_commands;
};

struct ExitCase {
    const char* name;
    std::function<void(sim::Scenario&)> module;
    std::vector<int> answers;                               // the operator's answers to questions, in order
    std::function<std::vector<Box>(const CWnd&)> boxes;     // every box, in order
    const char* status;                                     // the lower status line at the end
    Commands commands;                                      // after the start-up search
    bool updateEnabledAfter;
    bool fast = false;                                      // a silence in it: time-outs scaled down
    int keepSettings = 1;
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<ExitCase> ExitCases() {
    const sim::Scenario module = qam::test::UpdateWindowTest::Module();
    const Commands full = Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH});
    const Commands readCh1Fails{"c000", "RSTA", "RBLS", "RFLT", "c001", "RSTA"};
    auto question = [](const CWnd& d, int answer) {
        return WindowBox(d, "Do You Want To Continue ?", "Can NOT Read Settings", MB_YESNO, answer);
    };
    return {
        {"BackupReadFailsOperatorAnswersNo",
         [](sim::Scenario& s) { s.faults.push_back(FaultOn(sim::FaultKind::Silence, "RSTA", 2)); },
         {IDNO},
         [=](const CWnd& d) { return std::vector<Box>{question(d, IDNO), ReportBox(d, "No Response")}; },
         "Update Failed", readCh1Fails, true, true},
        {"BackupReadFailsOperatorAnswersYesUpdatesWithoutRestore",
         [](sim::Scenario& s) { s.faults.push_back(FaultOn(sim::FaultKind::Silence, "RSTA", 2)); },
         {IDYES},
         [=](const CWnd& d) { return std::vector<Box>{question(d, IDYES)}; },
         "Update Successful", Join({readCh1Fails, {"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH}), false, true},
        {"ClearSettingsSilentIsNoResponse",
         [](sim::Scenario& s) { s.faults.push_back(FaultOn(sim::FaultKind::Silence, "CPRM")); },
         {},
         [](const CWnd& d) { return std::vector<Box>{ReportBox(d, "No Response")}; },
         "Update Failed", Join({BACKUP, {"CPRM"}}), true, true},
        {"ClearSettingsWrongReplyShowsItsReply",
         [](sim::Scenario& s) { s.faults.push_back(Wrong("CPRM", "NO\r\n")); },
         {},
         [](const CWnd& d) { return std::vector<Box>{ReportBox(d, "Invalid Response [ NO ]")}; },
         "Update Failed", Join({BACKUP, {"CPRM"}}), true},
        {"DownloadFailureShowsItsBoxThenTheReportWithTheClearReply",
         [](sim::Scenario& s) { s.faults.push_back(Wrong("CAPP", "NO\r\n")); },
         {},
         [](const CWnd& d) {
             return std::vector<Box>{ExchangeBox("Unexpected Response! [NO]"), ReportBox(d, "Invalid Response [ OK ]")};
         },
         "Update Failed", Join({BACKUP, {"CPRM", "CPLD", "UPLD", "CAPP"}}), true},
        {"ResetSilentIsNoResponse",
         [](sim::Scenario& s) { s.faults.push_back(FaultOn(sim::FaultKind::Silence, "RST0")); },
         {},
         [](const CWnd& d) { return std::vector<Box>{ReportBox(d, "No Response")}; },
         "Update Failed", Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}}), false, true},
        {"ResetAnsweredWithAllSixteenBytesIsASuccessAtOnce",
         [](sim::Scenario& s) { s.resetReply = sim::ToBytes("NUVs0123456789AB"); },
         {},
         [](const CWnd&) { return std::vector<Box>{}; },
         "Update Successful", Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}}), false},
        {"ShortResetReplyNotBeginningWithNuvIsABadResponse",
         [](sim::Scenario& s) { s.resetReply = sim::ToBytes("NUXs"); },
         {},
         [](const CWnd& d) { return std::vector<Box>{ReportBox(d, "Invalid Response [ NUXs ]")}; },
         "Update Failed", Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}}), false},
        {"NoModuleAfterTheWaitIsNoResponse",
         [](sim::Scenario& s) { s.restartMs = 600000; },
         {},
         [](const CWnd& d) { return std::vector<Box>{ReportBox(d, "No Response")}; },
         "Update Failed", Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}, {"VDSP"}}), false, true},
        {"TunerChangedShowsTheBoxAndKeepsTheDefaults",
         [](sim::Scenario& s) { s.afterReset.tuner = "CE6313  "; },
         {},
         [](const CWnd& d) {
             return std::vector<Box>{WindowBox(d,
                                               "New Firmware Supports Other Tuner Type !\n Previous Settings will NOT "
                                               "Be Restored, Using Defaults.",
                                               "Can NOT Restore Settings", MB_ICONINFORMATION | MB_OK, IDOK)};
         },
         "Update Successful", full, false},
        {"TunerChangedWithKeepSettingsClearStillShowsTheBox",
         [](sim::Scenario& s) { s.afterReset.tuner = "CE6313  "; },
         {},
         [](const CWnd& d) {
             return std::vector<Box>{WindowBox(d,
                                               "New Firmware Supports Other Tuner Type !\n Previous Settings will NOT "
                                               "Be Restored, Using Defaults.",
                                               "Can NOT Restore Settings", MB_ICONINFORMATION | MB_OK, IDOK)};
         },
         "Update Successful", Join({{"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH}), false, false, 0},
        {"KeepSettingsClearNeitherReadsNorRestores",
         [](sim::Scenario&) {},
         {},
         [](const CWnd&) { return std::vector<Box>{}; },
         "Update Successful", Join({{"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH}), false, false, 0},
        {"SettingsNotSupportedNeitherReadsNorAsksNorRestores",
         [](sim::Scenario& s) {
             s.identification.dsp = "XYZ 1.16 A01";
             s.afterReset.dsp = "XYZ 1.16 A01";
         },
         {},
         [](const CWnd&) { return std::vector<Box>{}; },
         "Update Successful", Join({{"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH}), false},
        {"RestoreOfChannelZeroFailingEndsWithItsCode",
         [](sim::Scenario& s) { s.faults.push_back(Wrong("ZAll", "NO\r\n", 1)); },
         {},
         [](const CWnd& d) {
             return std::vector<Box>{ExchangeBox("Unexpected Response! [NO]"), ReportBox(d, "Invalid Response [ NUVs ]")};
         },
         "Update Failed", {}, false},
        {"RestoreOfChannelOneFailingEndsWithItsCode",
         [](sim::Scenario& s) { s.faults.push_back(Wrong("ZAll", "NO\r\n", 2)); },
         {},
         [](const CWnd& d) {
             return std::vector<Box>{ExchangeBox("Unexpected Response! [NO]"), ReportBox(d, "Invalid Response [ NUVs ]")};
         },
         "Update Failed", {}, false},
    };
}

class UpdateExitTest : public UpdateSequenceTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(UpdateExitTest, EndsWithItsResultBoxesAndStatus) {
    const ExitCase& c = GetParam();
    sim::Scenario scenario = Module();
    c.module(scenario);
    StartModule(scenario);
    std::optional<qam::test::ScopedTimeoutScale> fast;
    if (c.fast) {
        fast.emplace(1, 20);
    }
    for (int answer : c.answers) {
        Desktop().ScriptBoxAnswer(answer);
    }
    const std::vector<Box> reported = c.boxes(CWnd());
    for (const Box& box : reported) {
        if (box.answer == IDOK) {
            Desktop().ScriptBox(box.text, IDOK);
        }
    }
    CUpdaterDialog dialog;
    RunUpdate(dialog, WriteUpdateFile(), [&] { dialog.m_keepSettings = c.keepSettings; }, [&] {
        EXPECT_EQ(Desktop().Boxes(), c.boxes(dialog));
        EXPECT_EQ(LowerNow(dialog), c.status);
        Commands expected = c.commands;
        if (expected.empty()) {
            // The restore cases: everything up to the failing commit.
            const Commands restore = RestoreOf(scenario);
            expected = Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH});
            int commits = 0;
            const int failing = scenario.faults.back().occurrence;
            for (const std::string& command : restore) {
                expected.push_back(command);
                if (command == "ZAll" && ++commits == failing) {
                    break;
                }
            }
        }
        EXPECT_EQ(m_commands, expected);
        EXPECT_EQ(Control(dialog, IDC_UPDATE).enabled, c.updateEnabledAfter);
        ExpectFinished(dialog);
        EXPECT_EQ(headless::Host::Instance().AwakeRequests(), (std::vector<bool>{true, false}));
    });
}

INSTANTIATE_TEST_SUITE_P(Exits, UpdateExitTest, ::testing::ValuesIn(ExitCases()),
                         [](const ::testing::TestParamInfo<ExitCase>& param) { return std::string(param.param.name); });

TEST_F(UpdateSequenceTest, AWholeUpdateWritesEverySectionAndRestoresBothChannels) {
    const sim::Scenario scenario = Module();
    StartModule(scenario);
    const qam::update::UpdateFileParts parts = qam::test::ThreeSections();
    CUpdaterDialog dialog;
    RunUpdate(dialog, WriteUpdateFile(parts), nullptr, [&] {
        EXPECT_TRUE(Desktop().Boxes().empty());
        EXPECT_EQ(m_commands, Join({BACKUP, {"CPRM"}, DOWNLOAD, {"RST0"}, SEARCH, RestoreOf(scenario)}));
        const std::vector<std::string> lower = Lower(dialog);
        const std::vector<std::string> steps{"checking update file ...", "read current settings ...",
                                             "clear current settings ...", "reset module ...", "reconnect ...",
                                             "ready", "restore settings ...", "Update Successful"};
        std::vector<std::string> shown;
        for (const std::string& text : lower) {
            if (std::find(steps.begin(), steps.end(), text) != steps.end()) {
                shown.push_back(text);
            }
        }
        EXPECT_EQ(shown, steps);
        EXPECT_EQ(lower.front(), "checking update file ...");

        const sim::ModuleState state = m_sim->State();
        EXPECT_EQ(state.flash[0], qam::test::SentPart(parts.fpga->data));
        EXPECT_EQ(state.flash[1], qam::test::SentPart(parts.appData->data));
        EXPECT_EQ(state.flash[2], qam::test::SentPart(parts.appCode->data));
        EXPECT_EQ(state.settingsClears, 1);
        EXPECT_EQ(state.resets, 1);
        EXPECT_EQ(state.commits, 2);
        for (std::size_t channel = 0; channel < 2; ++channel) {
            SCOPED_TRACE(channel);
            EXPECT_EQ(state.channels[channel].wbls, scenario.channels[channel].bls);
            std::vector<int> bits;
            for (int bit = 0; bit < 8192; ++bit) {
                if ((scenario.channels[channel].filter[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1) {
                    bits.push_back(bit);
                }
            }
            EXPECT_EQ(state.channels[channel].filterBitsAdded, bits);
        }
        EXPECT_EQ(dialog.m_search.moduleFound, 0);
        EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled);
        ExpectFinished(dialog);
    });
}

TEST_F(UpdateSequenceTest, AFileTypeOtherThanQamSendsNothing) {
    struct Case {
        const char* path;
        bool passes;
    };
    for (const Case c : {Case{"fw.QAM", true}, Case{"fw.Qam", true}, Case{"fw.qam.bak", false}, Case{"fw.qam ", false},
                         Case{"qam", false}}) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(qam::update::HasUpdateFileType(c.path), c.passes);
    }
    StartModule(Module());
    Desktop().ScriptBox("File Type not supported!", IDOK);
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
                     m_searchEnd = TraceSize();
                     dialog.m_updateFilePath = WriteUpdateFile() + " ";
                     dialog.m_fileSelected = 1;
                     Control(dialog, IDC_UPDATE).enabled = true;
                     Control(dialog, IDC_STATUS_LOWER).texts.clear();
                     PressUpdate(dialog);
                 },
                 [&] {
                     EXPECT_EQ(Desktop().Boxes(), (std::vector<Box>{ReportBox(dialog, "File Type not supported!")}));
                     EXPECT_EQ(Lower(dialog), (std::vector<std::string>{"Update Failed"}));
                     EXPECT_EQ(CommandsAfter(m_searchEnd), Commands{});
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     ExpectFinished(dialog);
                 }});
}

// Each file the download would not take to its end is refused before the module hears anything.
TEST_F(UpdateSequenceTest, ABadFileIsRefusedBeforeAnyModuleTraffic) {
    StartModule(Module());
    struct Case {
        const char* name;
        std::function<std::string()> file;
        const char* box;
    };
    const std::vector<Case> cases{
        {"wrong version text",
         [&] {
             qam::update::UpdateFileParts parts = qam::test::ThreeSections();
             parts.versionText = "NUV-Update V9.99";
             return WriteUpdateFile(parts, "version.qam");
         },
         "Illegal File Format"},
        {"ends inside the last section",
         [&] {
             qam::update::Bytes bytes = qam::update::BuildUpdateFile(qam::test::ThreeSections());
             bytes.resize(bytes.size() - 20);
             return WriteFile("short.qam", bytes);
         },
         "Read Access Error!"},
        {"no such file", [&] { return (m_dir / "absent.qam").string(); }, "Can Not Open File"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop().Reset();
        Desktop().SetStrictBoxes(true);
        Desktop().SetFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
        Desktop().SetClock([this] { return m_seconds; });
        headless::Host::Instance().Reset();
        StartModule(Module());
        Desktop().ScriptBox(c.box, IDOK);
        CUpdaterDialog dialog;
        const std::string path = c.file();
        Run(dialog, {[&] {
                         m_searchEnd = TraceSize();
                         dialog.m_updateFilePath = path;
                         dialog.m_fileSelected = 1;
                         Control(dialog, IDC_UPDATE).enabled = true;
                         Control(dialog, IDC_STATUS_LOWER).texts.clear();
                         PressUpdate(dialog);
                     },
                     [&] {
                         EXPECT_EQ(Desktop().Boxes(), (std::vector<Box>{ReportBox(dialog, c.box)}));
                         EXPECT_EQ(Lower(dialog), (std::vector<std::string>{"checking update file ...", "Update Failed"}));
                         EXPECT_EQ(CommandsAfter(m_searchEnd), Commands{});
                         const sim::ModuleState state = m_sim->State();
                         EXPECT_EQ(state.settingsClears, 0);
                         EXPECT_EQ(state.flashClears, (std::array<int, 3>{0, 0, 0}));
                         ExpectFinished(dialog);
                     }});
    }
}

TEST_F(UpdateSequenceTest, ASecondRunAfterAnEarlyFailureFindsThePortClosedUntilASearch) {
    sim::Scenario scenario = Module();
    scenario.faults.push_back(Wrong("CPRM", "NO\r\n"));
    StartModule(scenario);
    Desktop().ScriptBox("Invalid Response [ NO ]", IDOK);
    Desktop().ScriptBox("Can Not Write to COM!", IDOK);
    Desktop().ScriptBox("Do You Want To Continue ?", IDNO);
    Desktop().ScriptBox("Can Not Write To COM", IDOK);
    CUpdaterDialog dialog;
    RunUpdate(dialog, WriteUpdateFile(), nullptr, [&] {
        EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled) << "a run that ended before the reset leaves Update enabled";
        EXPECT_EQ(dialog.m_search.moduleFound, 1);
        EXPECT_FALSE(dialog.m_link.IsOpen());
        const std::size_t before = TraceSize();
        PressUpdate(dialog);
        Desktop().Operate([&, before] {
            EXPECT_EQ(CommandsAfter(before), Commands{});
            const std::vector<Box> boxes = Desktop().Boxes();
            ASSERT_EQ(boxes.size(), 4u);
            EXPECT_EQ(std::vector<Box>(boxes.begin() + 1, boxes.end()),
                      (std::vector<Box>{ExchangeBox("Can Not Write to COM!"),
                                        WindowBox(dialog, "Do You Want To Continue ?", "Can NOT Read Settings", MB_YESNO, IDNO),
                                        ReportBox(dialog, "Can Not Write To COM")}));
            EXPECT_EQ(LowerNow(dialog), "Update Failed");
            ExpectFinished(dialog);
        });
    });
}

TEST_F(UpdateSequenceTest, AfterAnUpdateAnotherFileLeavesUpdateDisabledUntilASearch) {
    StartModule(Module());
    CUpdaterDialog dialog;
    const std::string path = WriteUpdateFile();
    RunUpdate(dialog, path, [&] { dialog.m_keepSettings = 0; }, [&] {
        ASSERT_EQ(LowerNow(dialog), "Update Successful");
        EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled);
        Choose(dialog, path);
        Desktop().Operate([&] {
            EXPECT_EQ(dialog.m_fileSelected, 1);
            EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled) << "module found was cleared by the update";
            Desktop().Click(dialog.GetDlgItem(IDC_SEARCH_MODULE).m_hWnd);
        });
        Desktop().Operate([&] { EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled); });
    });
}

// The reset wait counts whole seconds of the clock and blocks between passes: a loop that polled
// would read the clock thousands of times, and a message waiting makes it go on at once.
TEST_F(UpdateSequenceTest, TheResetWaitSleepsBetweenWholeSecondsAndServesOneMessagePerPass) {
    StartModule(Module());
    // A clock that moves one millisecond per reading and, when the window waits, to the next second.
    std::int64_t milliseconds = kClockStart * 1000 + 999; // 999 ms into the start second
    int readings = 0;
    Desktop().SetClock([&] {
        ++readings;
        return ++milliseconds / 1000;
    });
    std::vector<std::int64_t> served;
    bool posted = false;
    std::int64_t firstWaitFrom = 0;
    headless::Host::Instance().SetNextSecond([&] {
        std::this_thread::sleep_for(kSecondTakes);
        if (!posted) {
            firstWaitFrom = milliseconds / 1000;
        }
        milliseconds = (milliseconds / 1000 + 1) * 1000;
        if (!posted) {
            posted = true;
            for (int i = 0; i < 3; ++i) {
                Desktop().Post([&] { served.push_back(milliseconds / 1000); });
            }
        }
    });
    CUpdaterDialog dialog;
    int readingsBefore = 0;
    RunUpdate(dialog, WriteUpdateFile(),
              [&] {
                  dialog.m_keepSettings = 0;
                  readingsBefore = readings;
              },
              [&] {
                  EXPECT_EQ(LowerNow(dialog), "Update Successful");
                  // Nine waits for the next second; the messages posted in the first are served one a
                  // pass, the waits between them ending at once.
                  EXPECT_EQ(headless::Host::Instance().SecondWaits(), 9);
                  EXPECT_EQ(headless::Host::Instance().MessageWaits(), 2);
                  const std::int64_t next = firstWaitFrom + 1;
                  EXPECT_EQ(served, (std::vector<std::int64_t>{next, next, next}));
                  // Two readings a pass (none elsewhere in the run): nine seconds and three messages.
                  EXPECT_LE(readings - readingsBefore, 2 * (9 + 3) + 2);
              });
}

TEST_F(UpdateSequenceTest, TheComputerIsKeptAwakeFromTheStartToTheEndOfTheRun) {
    StartModule(Module());
    CUpdaterDialog dialog;
    std::vector<std::pair<std::string, bool>> seen;
    RunUpdate(dialog, WriteUpdateFile(),
              [&] {
                  EXPECT_TRUE(headless::Host::Instance().AwakeRequests().empty());
                  // Runs inside the first transfer of the backup read.
                  Desktop().Post([&] { seen.emplace_back(LowerNow(dialog), headless::Host::Instance().KeptAwake()); });
              },
              [&] {
                  EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"read current settings ...", true}}));
                  EXPECT_EQ(headless::Host::Instance().AwakeRequests(), (std::vector<bool>{true, false}));
                  EXPECT_FALSE(headless::Host::Instance().KeptAwake());
              });
}

// A close request met inside the flash write is refused: the port stays open under the transfer,
// nothing is saved, and the update ends as it would have. Afterwards a close works.
TEST_F(UpdateSequenceTest, ACloseRequestDuringTheDownloadIsRefused) {
    const qam::update::UpdateFileParts parts = qam::test::ThreeSections();
    StartModule(Module());
    CUpdaterDialog dialog;
    std::vector<std::string> seen;
    LRESULT endSession = -1;
    bool checked = false;
    RunUpdate(dialog, WriteUpdateFile(parts),
              [&] {
                  dialog.m_keepSettings = 0;
                  // Queued behind the click: the first messages the download's transfer serves.
                  Desktop().Post([&] {
                      seen.push_back(LowerNow(dialog));
                      Desktop().CloseBox(dialog.m_hWnd);
                      Desktop().PostMessage(dialog.m_hWnd, WM_CLOSE, 0, 0);
                      Desktop().Post([&] {
                          endSession = Desktop().Send(dialog.m_hWnd, WM_QUERYENDSESSION, 0, 0);
                          seen.push_back(dialog.m_link.IsOpen() ? "open" : "closed");
                      });
                  });
              },
              [&] {
                  checked = true;
                  EXPECT_EQ(seen, (std::vector<std::string>{"Downloading FPGA Configuration...", "open"}));
                  EXPECT_EQ(endSession, FALSE);
                  EXPECT_TRUE(Registry().Writes().empty()) << "nothing saved while the update ran";
                  EXPECT_EQ(LowerNow(dialog), "Update Successful");
                  EXPECT_TRUE(Desktop().Boxes().empty());
                  EXPECT_EQ(m_sim->State().flash[0], qam::test::SentPart(parts.fpga->data));
                  EXPECT_EQ(m_sim->State().flash[2], qam::test::SentPart(parts.appCode->data));
                  EXPECT_EQ(Desktop().Send(dialog.m_hWnd, WM_QUERYENDSESSION, 0, 0), TRUE);
                  Desktop().CloseBox(dialog.m_hWnd);
              });
    EXPECT_TRUE(checked) << "the window ended before the update did";
    EXPECT_FALSE(Registry().Writes().empty()) << "the close after the update saves as usual";
}

} // namespace
