// The Linux window on Qt's offscreen platform against the simulated module on COM3, worked through
// Qt's own API as an operator would: its layout, texts, states, tab order and tips, its boxes, the
// factory defaults, the file dialog, the wait cursor and the refused close during an update.
#include "framework/WaitCursor.h"
#include "tests/support/Platform.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"
#include "ui/UpdaterApp.h"
#include "update/UpdateFileWriter.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

// Qt's values in a failure as people read them.
void PrintTo(const QRect& r, std::ostream* out) {
    *out << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height();
}
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

namespace fs = std::filesystem;

// The main window, and its controls by id (the backend names each control by it).
QWidget* MainWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->findChild<QWidget*>(QStringLiteral("1006")) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

template <typename T = QWidget> T* Control(int id) {
    QWidget* window = MainWindow();
    return window == nullptr ? nullptr : window->findChild<T*>(QString::number(id));
}

QString Text(int id) {
    return Control(id)->property("text").toString();
}

template <typename T> T* Modal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// No command runs, no box is up, and the status line says status.
bool Idle(const QString& status) {
    return MainWindow() != nullptr && QApplication::activeModalWidget() == nullptr &&
           fw::WaitCursorCount() == 0 && Text(1005) == status;
}

// The box that is up, and the operator's answer to it.
void Answer(const QString& caption, const QString& text, QMessageBox::Icon icon,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton answer) {
    QMessageBox* box = Modal<QMessageBox>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(std::tuple(box->windowTitle(), box->text(), box->icon(), box->standardButtons()),
              std::tuple(caption, text, icon, buttons));
    box->button(answer)->click();
}

// Template 102 after a first search. Rectangles in DejaVu Sans at 11 px (8 points at 96 dpi), whose
// 52 letters are 353 px wide and 13 px high: a dialog unit is 7/4 px across and 13/8 px down,
// rounded as MulDiv rounds. Then the text (null: the program's), visible, enabled and the tip.
// clang-format off
const std::tuple<int, QRect, const char*, bool, bool, const char*> CONTROLS[] = {
    {1000, {292, 80, 96, 23}, "&Update", 1, 0, "download selected firmware"},
    {2, {434, 80, 96, 23}, "&Close", 1, 1, "shut down communication, close application"},
    {1002, {9, 11, 522, 28}, nullptr, 1, 1, ""},
    {1003, {151, 80, 96, 23}, "&Select File ...", 1, 1, "select firmware file for update"},
    {1005, {9, 135, 522, 16}, "ready", 1, 1, ""},
    {1004, {9, 52, 522, 16}, nullptr, 1, 1, ""},
    {1001, {149, 107, 96, 23}, "&default Settings", 0, 1, "clear current settings, use factory defaults"},
    {1006, {9, 80, 96, 23}, "Search &Module", 1, 1, "search QAM-Module on COM-ports"},
    {1072, {292, 111, 145, 16}, "&keep current Settings", 0, 1, "apply current settings to new firmware"},
};
// clang-format on

class QtWindow : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "qt_window_test";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() { application.reset(); }

    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", m_home.Path().c_str(), 1);
        ::setenv("XDG_STATE_HOME", m_home.Path().c_str(), 1);
    }

    fs::path SettingsFile() const { return m_home.Path() / "qamupdate" / "qamupdate.conf"; }
    std::string Settings() const {
        std::ifstream file(SettingsFile());
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // The operator: steps that a timer runs in whichever loop is running (the window's, a box's,
    // a command's), each once its condition holds; the program runs as it does for a person.
    void When(std::function<bool()> ready, std::function<void()> act) { m_steps.push_back({ready, act}); }

    void Run() {
        const QDeadlineTimer guard(60000);
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (guard.hasExpired()) {
                ADD_FAILURE() << "the window hangs; steps left: " << m_steps.size();
                QCoreApplication::exit(1);
            } else if (!m_steps.empty() && m_steps.front().first()) {
                // Posted: an act that opens a loop of its own (a command, a box) must leave this
                // timer free to run the next step inside it.
                QMetaObject::invokeMethod(qApp, m_steps.front().second, Qt::QueuedConnection);
                m_steps.pop_front();
            }
        });
        timer.start(10);
        CUpdaterApp app;
        fw::RunApplication(app);
        EXPECT_TRUE(m_steps.empty()) << "the window closed with steps left";
    }

    inline static std::unique_ptr<QApplication> application;
    qam::test::TempDir m_home;
    // Channels with settings (served as 40-byte blocks) to keep across an update.
    std::unique_ptr<qam::test::SimulatorControl> m_module =
        qam::test::StartSimulator(qam::sim::ParseScenario("blockReceiveLength 40"));
    std::deque<std::pair<std::function<bool()>, std::function<void()>>> m_steps;
};

bool SearchDone() {
    return Idle(QStringLiteral("ready")) && Control(1003)->isEnabled();
}

// The first start's window, then the factory defaults: the question answered No keeps the module
// as it is, Yes resets it.
TEST_F(QtWindow, FirstStart_LayoutTextsStatesTipsFocusAndTabOrder_FactoryDefaultsNoThenYes_EscapeCloses) {
    const auto answer = [](QMessageBox::StandardButton button) {
        Answer("Start New Firmware", "Do You Want To Reset The Modul ?", QMessageBox::NoIcon,
               QMessageBox::Yes | QMessageBox::No, button);
    };
    When(SearchDone, [] {
        QWidget* window = MainWindow();
        EXPECT_EQ(window->font().family(), "DejaVu Sans");
        EXPECT_EQ(window->font().pixelSize(), 11);
        EXPECT_EQ(window->size(), QSize(539, 154));
        for (const auto& [id, rect, text, visible, enabled, tip] : CONTROLS) {
            EXPECT_EQ(Control(id)->geometry(), rect) << id;
            EXPECT_TRUE(text == nullptr || Text(id) == text) << id;
            EXPECT_EQ(Control(id)->isVisible(), visible) << id;
            EXPECT_EQ(Control(id)->isEnabled(), enabled) << id;
            EXPECT_EQ(Control(id)->toolTip(), tip) << id;
        }
        EXPECT_EQ(window->windowTitle(), "Firmware Update Tool 8PSK/COFDM-QAM-Modul   V " QAM_TITLE_VERSION);
        EXPECT_FALSE(window->windowIcon().isNull());
        EXPECT_TRUE(Control<QCheckBox>(1072)->isChecked());
        EXPECT_TRUE(Text(1002).startsWith("Device on COM 3\n")) << Text(1002).toStdString();
        EXPECT_FALSE(Control<QProgressBar>(1004)->isTextVisible());

        // The first enabled tab stop has the focus before the operator activates the window (no window
        // manager here); Tab follows the template; Enter presses the focused button, not the default.
        EXPECT_EQ(window->focusWidget(), Control(2));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        for (int id : {1003, 1006, 2, 1003}) {
            QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(window->focusWidget(), Control(id)) << id;
        }
        QTest::keyClick(window->focusWidget(), Qt::Key_Return);
    });
    When(Modal<QFileDialog>, [] { Modal<QFileDialog>()->reject(); });
    // After a command the focus is back where it was. The hidden button runs the same from a click.
    When([] { return Idle("ready"); }, [] { Control<QPushButton>(1001)->click(); });
    When(Modal<QMessageBox>, [answer] { answer(QMessageBox::No); });
    When([] { return Idle("All Settings Set To Default!"); },
         [&] {
             EXPECT_EQ(MainWindow()->focusWidget(), Control(1003));
             EXPECT_EQ(m_module->State().settingsClears, 1);
             EXPECT_EQ(m_module->State().resets, 0);
             Control<QPushButton>(1001)->click();
         });
    When(Modal<QMessageBox>, [answer] { answer(QMessageBox::Yes); });
    When([&] { return Idle("All Settings Set To Default!") && m_module->State().resets == 1; },
         [] { QTest::keyClick(MainWindow()->focusWidget(), Qt::Key_Escape); });
    Run();
    // Escape ran the close request: the port where the module answered is remembered.
    EXPECT_NE(Settings().find("PrefCOM=3\n"), std::string::npos) << Settings();
}

TEST_F(QtWindow, Update_WrongNameRefusedThenFileWrittenWithWaitCursorAndCloseRefused) {
    const fs::path updates = m_home.Path() / "updates";
    fs::create_directories(updates);
    fs::create_directories(SettingsFile().parent_path());
    std::ofstream(SettingsFile()) << "LastNUVDir=" << updates.string() << "\nLastCOM=4\nPrefCOM=3\n";
    qam::update::UpdateFileParts parts;
    parts.appCode = qam::update::SectionInput{qam::update::Bytes(4108, 0x5A), false, std::nullopt};
    const qam::update::Bytes file = qam::update::BuildUpdateFile(parts);
    for (const char* name : {"good.qam", "a.QAM", "notes.txt"}) {
        std::ofstream(updates / name).write(reinterpret_cast<const char*>(file.data()), std::ssize(file));
    }
    qam::test::ScopedTimeoutScale faster(1, 10);

    const auto listed = [] {
        const auto* view =
            Modal<QFileDialog>() ? Modal<QFileDialog>()->findChild<QListView*>("listView") : nullptr;
        std::set<QString> names;
        for (int row = 0; view != nullptr && row < view->model()->rowCount(view->rootIndex()); ++row) {
            names.insert(view->model()->index(row, 0, view->rootIndex()).data().toString());
        }
        return names;
    };
    const auto choose = [](const char* name) {
        auto* edit = Modal<QFileDialog>()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        edit->setText(QString::fromLatin1(name));
        QTest::keyClick(edit, Qt::Key_Return);
    };
    When(SearchDone, [] { Control<QPushButton>(1003)->click(); });
    // "*.qam" without regard to case, as on Windows: a.QAM is listed, and then refused by name.
    When([&] { return listed().size() >= 2; },
         [&, choose] {
             QFileDialog* dialog = Modal<QFileDialog>();
             EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select File For Download ..."));
             EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Update-Files (.qam)"));
             EXPECT_EQ(fs::path(dialog->directory().absolutePath().toStdString()), updates);
             EXPECT_EQ(listed(), (std::set<QString>{"a.QAM", "good.qam"}));
             choose("a.QAM");
         });
    When(Modal<QMessageBox>, [] {
        Answer("ERROR", "File Type not supported!", QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok);
    });
    When([] { return Idle("ready"); },
         [] {
             EXPECT_FALSE(Control(1000)->isEnabled());
             Control<QPushButton>(1003)->click();
         });
    When([&] { return !listed().empty(); }, [choose] { choose("good.qam"); });
    When([] { return Idle("ready") && Control(1000)->isEnabled(); },
         [] { Control<QPushButton>(1000)->click(); });
    // Inside the reset wait the window serves events: a click must not start a search, and the
    // title bar's close box must not end it. The wait sleeps between events.
    long long cpuAtReset = 0;
    When([] { return Text(1005) == "reset module ..."; },
         [&] {
             cpuAtReset = qam::test::ProcessCpuMilliseconds();
             QTest::mouseClick(Control(1006), Qt::LeftButton);
             EXPECT_EQ(MainWindow()->cursor().shape(), Qt::WaitCursor);
             MainWindow()->close();
             EXPECT_TRUE(MainWindow() != nullptr && MainWindow()->isVisible());
         });
    When([] { return Idle("Update Successful"); },
         [&] {
             EXPECT_EQ(MainWindow()->cursor().shape(), Qt::ArrowCursor);
             EXPECT_LT(qam::test::ProcessCpuMilliseconds() - cpuAtReset, 3000) << "the reset wait spins";
             const qam::sim::ModuleState state = m_module->State();
             EXPECT_EQ(state.flash[static_cast<int>(qam::sim::FlashArea::AppCode)].size(), 4104u);
             EXPECT_EQ(state.resets, 1);
             EXPECT_EQ(state.commits, 2);
             EXPECT_EQ(std::ranges::count(m_module->Trace(), qam::sim::ToBytes("VDSP"),
                                          &qam::sim::TraceEntry::bytes),
                       2)
                 << "one search at the start, one after the reset";
             MainWindow()->close();
         });
    Run();
    EXPECT_NE(Settings().find("LastNUVDir=" + updates.string() + "\n"), std::string::npos) << Settings();
}

} // namespace
