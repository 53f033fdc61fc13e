#include "tests/unit/WindowHarness.h"
#include "ui/UpdaterDialogTemplate.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using headless::RegistryValue;
using qam::test::kRegistryKey;
using qam::test::NoSearchDialog;
using qam::test::WindowTest;

// What the window holds at the end of its initialisation, before the posted search has run.
class SnapshotDialog : public NoSearchDialog {
public:
    BOOL OnInitDialog() override {
        const BOOL result = NoSearchDialog::OnInitDialog();
        m_atInit = m_search;
        m_directoryAtInit = std::string(m_lastDirectory.data());
        m_directoryEnd = m_lastDirectory[CUpdaterDialog::LAST_DIRECTORY_BYTES - 1];
        m_postedAtInit = headless::Desktop::Instance().PostedCount();
        m_keysOpenAtInit = headless::Desktop::Instance().GetRegistry().OpenHandles();
        m_repaintsAtInit = headless::Desktop::Instance().WindowOf(m_hWnd).repaints;
        return result;
    }

    SearchState m_atInit;
    std::string m_directoryAtInit;
    char m_directoryEnd = 'x';
    std::size_t m_postedAtInit = 0;
    int m_keysOpenAtInit = -1;
    int m_repaintsAtInit = -1;
};

class InitTest : public WindowTest {};

struct RegistryCase {
    const char* name;
    std::function<void(headless::Registry&)> setUp;
    int portCount;
    int preferredPort;
    std::string directory;
};

TEST_F(InitTest, ReadsTheRegistryAsItsTableSays) {
    const std::string full260(260, 'd');
    const std::vector<RegistryCase> cases = {
        {"no key: created, 4 ports from port 1", [](headless::Registry&) {}, 4, 1, ""},
        {"key without values", [](headless::Registry& r) { r.AddKey(kRegistryKey); }, 32, 1, ""},
        {"all three values",
         [](headless::Registry& r) {
             r.Put(kRegistryKey, "LastNUVDir", RegistryValue::String("C:\\fw"));
             r.Put(kRegistryKey, "LastCOM", RegistryValue::Dword(8));
             r.Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(5));
         },
         8, 5, "C:\\fw"},
        {"names without case",
         [](headless::Registry& r) {
             r.Put(kRegistryKey, "lastnuvdir", RegistryValue::String("D:"));
             r.Put(kRegistryKey, "LASTCOM", RegistryValue::Dword(6));
         },
         6, 1, "D:"},
        {"LastCOM stored as a text",
         [](headless::Registry& r) { r.Put(kRegistryKey, "LastCOM", RegistryValue::String("8")); }, 32, 1, ""},
        {"PrefCOM stored as a text",
         [](headless::Registry& r) { r.Put(kRegistryKey, "PrefCOM", RegistryValue::String("12345678")); }, 32, 1,
         ""},
        {"PrefCOM of another size",
         [](headless::Registry& r) { r.Put(kRegistryKey, "PrefCOM", RegistryValue{REG_DWORD, {7, 0}}); }, 32, 1,
         ""},
        {"LastNUVDir longer than 260 bytes",
         [](headless::Registry& r) { r.Put(kRegistryKey, "LastNUVDir", RegistryValue::String(std::string(261, 'x'), false)); },
         32, 1, ""},
        {"LastNUVDir of 260 bytes without a zero byte",
         [full260](headless::Registry& r) { r.Put(kRegistryKey, "LastNUVDir", RegistryValue::String(full260, false)); },
         32, 1, full260},
        {"LastNUVDir of 259 bytes and its zero byte",
         [](headless::Registry& r) { r.Put(kRegistryKey, "LastNUVDir", RegistryValue::String(std::string(259, 'e'))); },
         32, 1, std::string(259, 'e')},
        {"LastNUVDir ends at its first zero byte",
         [](headless::Registry& r) { r.Put(kRegistryKey, "LastNUVDir", RegistryValue{REG_SZ, {'C', ':', 0, 'x', 'y'}}); },
         32, 1, "C:"},
        {"LastNUVDir empty",
         [](headless::Registry& r) { r.Put(kRegistryKey, "LastNUVDir", RegistryValue{REG_SZ, {}}); }, 32, 1, ""},
        {"key neither creatable nor openable",
         [](headless::Registry& r) {
             r.Put(kRegistryKey, "LastCOM", RegistryValue::Dword(9));
             r.Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(9));
             r.m_failCreate = true;
         },
         4, 1, ""},
        {"values reach the scan unaltered",
         [](headless::Registry& r) {
             r.Put(kRegistryKey, "LastCOM", RegistryValue::Dword(0x80000000u));
             r.Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(0xFFFFFFFFu));
         },
         static_cast<int>(0x80000000u), -1, ""},
        {"largest preferred port",
         [](headless::Registry& r) { r.Put(kRegistryKey, "PrefCOM", RegistryValue::Dword(0x7FFFFFFF)); }, 32,
         0x7FFFFFFF, ""},
    };
    for (const RegistryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop().GetRegistry().Reset();
        c.setUp(Registry());
        SnapshotDialog dialog;
        Run(dialog, {});
        EXPECT_EQ(dialog.m_atInit.portCount, c.portCount);
        EXPECT_EQ(dialog.m_atInit.preferredPort, c.preferredPort);
        EXPECT_EQ(dialog.m_directoryAtInit, c.directory);
        EXPECT_EQ(dialog.m_directoryEnd, '\0');
        EXPECT_EQ(dialog.m_keysOpenAtInit, 0);
    }
}

TEST_F(InitTest, FirstStartCreatesTheKey) {
    SnapshotDialog dialog;
    Run(dialog, {});
    EXPECT_TRUE(Registry().HasKey(kRegistryKey));
}

TEST_F(InitTest, SetsFlagsFoundPortAndPostsTheSearch) {
    SnapshotDialog dialog;
    dialog.m_keepSettings = 0;
    dialog.m_fileSelected = 1;
    Run(dialog, {});
    EXPECT_EQ(dialog.m_atInit.moduleFound, 0);
    EXPECT_EQ(dialog.m_atInit.settingsSupported, 0);
    EXPECT_EQ(dialog.m_atInit.foundPort, -2);
    EXPECT_EQ(dialog.m_keepSettings, 1);
    EXPECT_EQ(dialog.m_fileSelected, 0);
    // Posted, not run, by the initialisation; run once by the loop.
    EXPECT_EQ(dialog.m_postedAtInit, 1u);
    EXPECT_EQ(dialog.m_searches, 1);
    EXPECT_EQ(dialog.m_repaintsAtInit, 1);
}

TEST_F(InitTest, ThePostedSearchIsAClickOfSearchModuleWithoutAControl) {
    SnapshotDialog dialog;
    std::vector<headless::Message> commands;
    Run(dialog, {[&] {
        for (const headless::Message& m : WindowOf(dialog).messages) {
            if (m.message == WM_COMMAND) {
                commands.push_back(m);
            }
        }
    }});
    const std::vector<headless::Message> expected{{WM_COMMAND, MAKEWPARAM(IDC_SEARCH_MODULE, BN_CLICKED), 0}};
    EXPECT_EQ(commands, expected);
}

struct ControlCase {
    int id;
    const char* className;
    const char* text;
    bool visible;
    bool enabled;
};

TEST_F(InitTest, ControlsStartAsTheTemplateAndTheInitialisationLeaveThem) {
    const std::vector<ControlCase> cases = {
        {IDC_UPDATE, "Button", "&Update", true, false},
        {IDCANCEL, "Button", "&Close", true, true},
        {IDC_STATUS_UPPER, "Static", "", true, true},
        {IDC_SELECT_FILE, "Button", "&Select File ...", true, false},
        {IDC_STATUS_LOWER, "Static", "", true, true},
        {IDC_PROGRESS, "msctls_progress32", "Progress1", true, true},
        {IDC_DEFAULT_SETTINGS, "Button", "&default Settings", false, false},
        {IDC_SEARCH_MODULE, "Button", "Search &Module", true, true},
        {IDC_KEEP_SETTINGS, "Button", "&keep current Settings", false, true},
    };
    NoSearchDialog dialog;
    Run(dialog, {[&] {
        for (const ControlCase& c : cases) {
            SCOPED_TRACE(c.id);
            const headless::Window& control = Control(dialog, c.id);
            EXPECT_EQ(control.className, c.className);
            EXPECT_EQ(control.text, c.text);
            EXPECT_EQ(control.visible, c.visible);
            EXPECT_EQ(control.enabled, c.enabled);
        }
        EXPECT_EQ(Control(dialog, IDC_KEEP_SETTINGS).check, BST_CHECKED);
        EXPECT_EQ(Control(dialog, IDC_STATUS_UPPER).texts, std::vector<std::string>{""});
        EXPECT_EQ(Control(dialog, IDC_STATUS_LOWER).texts, std::vector<std::string>{""});
        EXPECT_TRUE(WindowOf(dialog).visible);
    }});
}

struct TemplateCase {
    int id;
    short x, y, cx, cy;
    DWORD style;
};

TEST_F(InitTest, TemplateHoldsTheNineControlsInTabOrder) {
    const fw::DialogTemplate& t = qam::ui::UpdaterDialogTemplate();
    EXPECT_EQ(t.id, 102u);
    EXPECT_STREQ(t.caption, "Firmware Update Tool 8PSK-QAM-Modul");
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 308);
    EXPECT_EQ(t.cy, 95);
    EXPECT_STREQ(t.fontName, "MS Sans Serif");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.style, static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION |
                                          WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    const std::vector<TemplateCase> cases = {
        {IDC_UPDATE, 167, 49, 55, 14, WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON},
        {IDCANCEL, 248, 49, 55, 14, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
        {IDC_STATUS_UPPER, 5, 7, 298, 17, WS_VISIBLE | WS_GROUP | SS_CENTER | SS_SUNKEN},
        {IDC_SELECT_FILE, 86, 49, 55, 14, WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {IDC_STATUS_LOWER, 5, 83, 298, 10, WS_VISIBLE | WS_GROUP | SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN},
        {IDC_PROGRESS, 5, 32, 298, 10, WS_VISIBLE | WS_BORDER | PBS_SMOOTH},
        {IDC_DEFAULT_SETTINGS, 85, 66, 55, 14, WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON},
        {IDC_SEARCH_MODULE, 5, 49, 55, 14, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {IDC_KEEP_SETTINGS, 167, 68, 83, 10, WS_TABSTOP | BS_AUTOCHECKBOX},
    };
    ASSERT_EQ(t.items.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].id);
        EXPECT_EQ(t.items[i].id, cases[i].id);
        EXPECT_EQ(t.items[i].x, cases[i].x);
        EXPECT_EQ(t.items[i].y, cases[i].y);
        EXPECT_EQ(t.items[i].cx, cases[i].cx);
        EXPECT_EQ(t.items[i].cy, cases[i].cy);
        EXPECT_EQ(t.items[i].style, cases[i].style);
    }
}

TEST_F(InitTest, TitleIconAndProxyAreWiredToTheWindow) {
    NoSearchDialog dialog;
    dialog.m_title = "Some Title V 9.99";
    Run(dialog, {[&] {
        EXPECT_EQ(WindowOf(dialog).text, "Some Title V 9.99");
        const headless::Message setIcon{WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(dialog.m_icon)};
        const auto& messages = WindowOf(dialog).messages;
        EXPECT_NE(std::find(messages.begin(), messages.end(), setIcon), messages.end());
        EXPECT_EQ(dialog.m_proxy.m_comDevice, &dialog.m_link);
        ASSERT_NE(dialog.m_proxy.m_progressBar, nullptr);
        ASSERT_NE(dialog.m_proxy.m_statusLine, nullptr);
        EXPECT_EQ(dialog.m_proxy.m_progressBar->m_hWnd, dialog.GetDlgItem(IDC_PROGRESS).m_hWnd);
        EXPECT_EQ(dialog.m_proxy.m_statusLine->m_hWnd, dialog.GetDlgItem(IDC_STATUS_LOWER).m_hWnd);
    }});
    EXPECT_EQ(Desktop().LoadedIcons(), std::vector<UINT>{IDR_MAINFRAME});
}

TEST_F(InitTest, ConstructorLeavesTheRestForTheInitialisation) {
    NoSearchDialog dialog;
    EXPECT_TRUE(dialog.m_title.empty());
    EXPECT_FALSE(dialog.m_link.IsOpen());
    EXPECT_TRUE(dialog.m_updateFilePath.empty());
    EXPECT_EQ(dialog.m_proxy.m_comDevice, nullptr);
    EXPECT_EQ(dialog.m_proxy.m_tunerType, TUNER_UNKNOWN);
    EXPECT_EQ(dialog.m_proxy.m_firmwareVersion, 0.0);
    EXPECT_EQ(dialog.m_toolTip.GetSafeHwnd(), nullptr);
    for (const auto& entry : dialog.m_toolTips) {
        EXPECT_TRUE(entry.text.empty());
    }
    EXPECT_EQ(Desktop().LoadedIcons(), std::vector<UINT>{IDR_MAINFRAME});
}

struct TipCase {
    int id;
    const char* text;
};

TEST_F(InitTest, TooltipsAreRegisteredForTheSixControlsAndActive) {
    const std::vector<TipCase> cases = {
        {IDC_SEARCH_MODULE, "search QAM-Module on COM-ports"},
        {IDC_DEFAULT_SETTINGS, "clear current settings, use factory defaults"},
        {IDCANCEL, "shut down communication, close application"},
        {IDC_SELECT_FILE, "select firmware file for update"},
        {IDC_UPDATE, "download selected firmware"},
        {IDC_KEEP_SETTINGS, "apply current settings to new firmware"},
    };
    NoSearchDialog dialog;
    Run(dialog, {[&] {
        const headless::Window& tooltip = WindowOf(dialog.m_toolTip);
        EXPECT_EQ(tooltip.className, "tooltips_class32");
        EXPECT_EQ(tooltip.owner, dialog.m_hWnd);
        EXPECT_TRUE(tooltip.active);
        ASSERT_EQ(tooltip.tools.size(), cases.size());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].id);
            const headless::Tool& tool = tooltip.tools[i];
            EXPECT_EQ(tool.window, dialog.GetDlgItem(cases[i].id).m_hWnd);
            EXPECT_EQ(tool.id, static_cast<UINT_PTR>(cases[i].id));
            EXPECT_EQ(tool.text, cases[i].text);
            const RECT client = Control(dialog, cases[i].id).rect;
            EXPECT_EQ(tool.rect.right, client.right);
            EXPECT_EQ(tool.rect.bottom, client.bottom);
            EXPECT_GT(client.right, 0);
            EXPECT_EQ(dialog.m_toolTips[i].id, static_cast<std::uint32_t>(cases[i].id));
            EXPECT_EQ(dialog.m_toolTips[i].text, cases[i].text);
        }
        EXPECT_EQ(dialog.m_toolTips[6].id, 0u);
        EXPECT_EQ(dialog.m_toolTips[7].id, 0u);
        EXPECT_TRUE(dialog.m_toolTips[7].text.empty());
    }});
}

TEST_F(InitTest, HoveringShowsTipsOnlyOverTheButtons) {
    NoSearchDialog dialog;
    std::vector<std::string> shown;
    auto hover = [&](int id) {
        Desktop().Operate([&dialog, id] { Desktop().Hover(dialog.GetDlgItem(id).m_hWnd); });
        Desktop().Operate([&dialog, &shown] { shown.push_back(Desktop().WindowOf(dialog.m_toolTip.m_hWnd).shownTip); });
    };
    hover(IDC_SEARCH_MODULE);
    hover(IDC_STATUS_UPPER);
    hover(IDC_PROGRESS);
    hover(IDCANCEL);
    hover(IDC_STATUS_LOWER);
    Run(dialog, {});
    const std::vector<std::string> expected{"search QAM-Module on COM-ports", "", "",
                                            "shut down communication, close application", ""};
    EXPECT_EQ(shown, expected);
}

TEST_F(InitTest, KeepSettingsFollowsTheCheckBoxWhenClicked) {
    NoSearchDialog dialog;
    std::vector<int> keep;
    auto click = [&] {
        Desktop().Operate([&] { Desktop().Click(dialog.GetDlgItem(IDC_KEEP_SETTINGS).m_hWnd); });
        Desktop().Operate([&] { keep.push_back(dialog.m_keepSettings); });
    };
    click(); // hidden: the click cannot reach it
    Desktop().Operate([&] { dialog.GetDlgItem(IDC_KEEP_SETTINGS).ShowWindow(SW_SHOW); });
    click();
    click();
    Run(dialog, {});
    EXPECT_EQ(keep, (std::vector<int>{1, 0, 1}));
}

TEST_F(InitTest, ConfirmCommandKeepsTheFrameworksBehaviour) {
    StoreAbsentPorts();
    NoSearchDialog dialog;
    const INT_PTR result = Run(dialog, {[&] { dialog.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }}, false);
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(Registry().Writes().empty()) << "the confirm command is not the close request";
}

TEST_F(InitTest, MinimisedWindowPaintsItsIconCentred) {
    NoSearchDialog dialog;
    Run(dialog, {[&] {
        headless::Window& window = WindowOf(dialog);
        window.iconic = true;
        window.rect = RECT{0, 0, 161, 100};
        window.messages.clear();
        dialog.RedrawWindow();
        const std::vector<headless::DrawnIcon> drawn{{dialog.m_hWnd, (161 - 32 + 1) / 2, (100 - 32 + 1) / 2, dialog.m_icon}};
        EXPECT_EQ(Desktop().DrawnIcons(), drawn);
        ASSERT_EQ(window.messages.size(), 2u);
        EXPECT_EQ(window.messages[0].message, static_cast<UINT>(WM_PAINT));
        EXPECT_EQ(window.messages[1].message, static_cast<UINT>(WM_ICONERASEBKGND));
        EXPECT_NE(window.messages[1].wParam, 0u);
    }});
}

TEST_F(InitTest, NormalWindowLeavesPaintingToThePlatform) {
    NoSearchDialog dialog;
    Run(dialog, {[&] {
        const int before = WindowOf(dialog).defaultPaints;
        dialog.RedrawWindow();
        EXPECT_EQ(WindowOf(dialog).defaultPaints, before + 1);
        EXPECT_TRUE(Desktop().DrawnIcons().empty());
    }});
}

TEST_F(InitTest, QueryDragIconAnswersTheIcon) {
    NoSearchDialog dialog;
    Run(dialog, {[&] {
        EXPECT_EQ(dialog.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(dialog.m_icon));
        EXPECT_NE(dialog.m_icon, nullptr);
    }});
}

TEST_F(InitTest, MessageMapRoutesTheButtonsInOrder) {
    const fw::MessageMap& map = CUpdaterDialog::messageMap;
    const std::vector<std::pair<UINT, UINT>> expected = {
        {WM_PAINT, 0},
        {WM_QUERYDRAGICON, 0},
        {WM_COMMAND, IDC_UPDATE},
        {WM_COMMAND, IDC_DEFAULT_SETTINGS},
        {WM_COMMAND, IDC_SELECT_FILE},
        {WM_COMMAND, IDC_SEARCH_MODULE},
        {WM_COMMAND, IDC_KEEP_SETTINGS},
        // Refuses the system's shutdown while an update or the factory defaults run.
        {WM_QUERYENDSESSION, 0},
    };
    std::vector<std::pair<UINT, UINT>> entries;
    for (const fw::MessageMapEntry& e : map.entries) {
        entries.emplace_back(e.message, e.id);
    }
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(map.base, &CDialog::messageMap);
    // The confirm and cancel commands come from the framework's own map.
    EXPECT_NE(map.Find(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED)), nullptr);
    EXPECT_EQ(map.Find(WM_COMMAND, MAKEWPARAM(IDC_UPDATE, 1)), nullptr);
}

} // namespace
