#include "framework/Clock.h"
#include "framework/WinApp.h"
#include "tests/unit/WindowHarness.h"
#include "ui/UpdaterApp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qam::test::WindowTest;

const std::string kPrefix = "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V";
const std::string kFallback = kPrefix + " ?.??";

class StartupTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        StoreAbsentPorts();
    }

    // Starts the program as the framework does, reads the title of its window, closes it.
    std::string StartAndReadTitle() {
        CUpdaterApp app;
        std::string title;
        Desktop().Operate([&] {
            HWND dialog = Desktop().ActiveDialog();
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(app.m_mainWnd != nullptr ? app.m_mainWnd->m_hWnd : nullptr, dialog);
            title = Desktop().WindowOf(dialog).text;
            Desktop().Click(CWnd(dialog).GetDlgItem(IDCANCEL).m_hWnd);
        });
        m_exitCode = fw::RunApplication(app);
        EXPECT_EQ(app.m_mainWnd, nullptr);
        return title;
    }

    int m_exitCode = -1;
};

struct VersionCase {
    const char* name;
    headless::VersionResource version;
    std::string title;
};

// Built field by field: an aggregate initialiser of the resource inside the table's initialiser
// list draws a false "may be used uninitialized" from GCC 12 at -O2.
headless::VersionResource Version(bool present, const char* fileVersion, bool hasFileVersion, DWORD reportedSize) {
    headless::VersionResource version;
    version.present = present;
    version.fileVersion = fileVersion;
    version.hasFileVersion = hasFileVersion;
    version.reportedSize = reportedSize;
    return version;
}

TEST_F(StartupTest, TitleComesFromTheProgramsOwnFileVersion) {
    const std::vector<VersionCase> cases = {
        {"commas", Version(true, "1, 4, 6, 0", true, 0), kPrefix + " 1.46"},
        {"two digits", Version(true, "2, 10, 3, 0", true, 0), kPrefix + " 2.103"},
        {"the build's own", Version(true, "1, 0, 0, 0", true, 0), kPrefix + " 1.00"},
        {"points instead of commas", Version(true, "1.4.6.0", true, 0), kFallback},
        {"no version information", Version(false, "1, 4, 6, 0", true, 0), kFallback},
        {"no FileVersion text", Version(true, "1, 4, 6, 0", false, 0), kFallback},
        {"empty FileVersion text", Version(true, "", true, 0), kFallback},
        {"two numbers only", Version(true, "1, 4", true, 0), kFallback},
        {"size 2047 still read", Version(true, "1, 4, 6, 0", true, 2047), kPrefix + " 1.46"},
        {"size 2048 too large", Version(true, "1, 4, 6, 0", true, 2048), kFallback},
        {"size 1 still read", Version(true, "3, 2, 1, 0", true, 1), kPrefix + " 3.21"},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop().Version() = c.version;
        EXPECT_EQ(StartAndReadTitle(), c.title);
        EXPECT_EQ(m_exitCode, 0);
    }
}

TEST_F(StartupTest, VersionIsLookedUpUnderTheProgramsBaseName) {
    Desktop().SetProgramName("Updater2");
    StartAndReadTitle();
    const std::vector<std::string> asked{"Updater2.exe", "Updater2.exe"};
    EXPECT_EQ(Desktop().VersionFilesAsked(), asked);
}

TEST_F(StartupTest, SwitchesOnTheThreeDimensionalLookOnceAndEndsWhenTheWindowCloses) {
    StartAndReadTitle();
    EXPECT_EQ(Desktop().VisualStylesEnabled(), 1);
    EXPECT_EQ(Desktop().ActiveDialog(), nullptr);
    EXPECT_EQ(Desktop().PostedCount(), 0u);
    EXPECT_TRUE(Desktop().Failures().empty());
}

TEST_F(StartupTest, InitInstanceReportsThatNoApplicationIsLeftRunning) {
    CUpdaterApp app;
    Desktop().Operate([] { Desktop().CloseBox(Desktop().ActiveDialog()); });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(AfxGetApp(), &app);
}

} // namespace

namespace {

TEST(FrameworkClock, CountsWholeSecondsFromTheDesktopsClock) {
    headless::Desktop& desktop = headless::Desktop::Instance();
    desktop.Reset();
    std::int64_t now = 10;
    desktop.SetClock([&now] { return now; });
    std::vector<std::int64_t> read;
    for (std::int64_t at : {10, 10, 11, 19}) {
        now = at;
        read.push_back(fw::CurrentTimeSeconds());
    }
    EXPECT_EQ(read, (std::vector<std::int64_t>{10, 10, 11, 19}));
    desktop.Reset();
    // Without a clock set, the system's: some time after 2020.
    EXPECT_GT(fw::CurrentTimeSeconds(), 1577836800);
}

} // namespace
