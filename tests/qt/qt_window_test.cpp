// The Linux window in-process on Qt's offscreen platform against the simulated module on COM3: the
// main window laid out from template 102, its texts, states, tab order and tips, its boxes and
// their answers, the file dialog, the wait cursor and the refused close during an update, and the
// factory defaults. Driven through Qt's own API, as an operator would work it.
#include "framework/WaitCursor.h"
#include "tests/support/SimulatorControl.h"
#include "tests/support/TestTimeouts.h"
#include "ui/UpdaterApp.h"
#include "update/UpdateFileWriter.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

// Rectangles in a failure as people read them.
void PrintTo(const QRect& rect, std::ostream* out) {
    *out << "(" << rect.x() << ", " << rect.y() << ", " << rect.width() << " x " << rect.height() << ")";
}

namespace {

namespace fs = std::filesystem;

constexpr int HANG_GUARD_MS = 60000;

// The main window, and its controls by id (the backend names each control by it).
QWidget* MainWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->findChild<QWidget*>(QStringLiteral("1006")) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

template <typename T = QWidget>
T* Control(int id) {
    QWidget* window = MainWindow();
    return window == nullptr ? nullptr : window->findChild<T*>(QString::number(id));
}

QString Text(int id) {
    if (auto* label = Control<QLabel>(id)) {
        return label->text();
    }
    return Control<QAbstractButton>(id)->text();
}

template <typename T>
T* Modal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// No command runs, no box is up, and the status line says status.
bool Idle(const QString& status) {
    return MainWindow() != nullptr && QApplication::activeModalWidget() == nullptr && fw::WaitCursorCount() == 0 &&
           Text(1005) == status;
}

void ExpectBox(const QString& caption, const QString& text, QMessageBox::Icon icon,
               QMessageBox::StandardButtons buttons) {
    QMessageBox* box = Modal<QMessageBox>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), caption);
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->icon(), icon);
    EXPECT_EQ(box->standardButtons(), buttons);
}

// A module whose channels have settings to keep across an update.
qam::sim::Scenario Module() {
    qam::sim::Scenario scenario;
    for (std::uint8_t channel = 0; channel < 2; ++channel) {
        scenario.channels[channel].settings = qam::sim::Bytes(40, channel);
        scenario.channels[channel].bls = qam::sim::Bytes(16, channel);
    }
    return scenario;
}

// The operator: steps that a timer runs in whichever loop is running (the window's, a box's, a
// command's), each once its condition holds; the program runs as it does for a person.
class Operator {
public:
    void When(std::function<bool()> ready, std::function<void()> act) { m_steps.push_back({ready, act}); }

    void Run(CWinApp& app) {
        QElapsedTimer started;
        started.start();
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (started.elapsed() > HANG_GUARD_MS) {
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
        fw::RunApplication(app);
        EXPECT_TRUE(m_steps.empty()) << "the window closed with steps left";
    }

private:
    std::deque<std::pair<std::function<bool()>, std::function<void()>>> m_steps;
};

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
        std::string pattern = fs::temp_directory_path() / "qam-qt-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_home = pattern;
        ::setenv("XDG_CONFIG_HOME", m_home.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(m_home); }

    fs::path SettingsFile() const { return m_home / "qamupdate" / "qamupdate.conf"; }
    std::string Settings() const {
        std::ifstream file(SettingsFile());
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    static std::unique_ptr<QApplication> application;
    fs::path m_home;
    std::unique_ptr<qam::test::SimulatorControl> m_module = qam::test::StartSimulator(Module());
    CUpdaterApp m_app;
    Operator m_operator;
};

std::unique_ptr<QApplication> QtWindow::application;

bool SearchDone() {
    return Idle(QStringLiteral("ready")) && Control(1003)->isEnabled();
}

TEST_F(QtWindow, FirstStart_TemplateLaidOutInDejaVuSansUnitsWithTextsStatesTipsTabOrderAndEscapeCloses) {
    m_operator.When(SearchDone, [] {
        QWidget* window = MainWindow();
        // DejaVu Sans at 11 px (8 points at 96 dpi): the 52 letters are 353 px wide and 13 px high,
        // so a dialog unit is 7/4 px across and 13/8 px down, rounded as MulDiv rounds.
        EXPECT_EQ(window->font().family(), QStringLiteral("DejaVu Sans"));
        EXPECT_EQ(window->font().pixelSize(), 11);
        EXPECT_EQ(window->size(), QSize(539, 154));
        const std::pair<int, QRect> layout[] = {
            {1000, {292, 80, 96, 23}}, {2, {434, 80, 96, 23}},    {1002, {9, 11, 522, 28}},
            {1003, {151, 80, 96, 23}}, {1005, {9, 135, 522, 16}}, {1004, {9, 52, 522, 16}},
            {1001, {149, 107, 96, 23}}, {1006, {9, 80, 96, 23}},  {1072, {292, 111, 145, 16}},
        };
        for (const auto& [id, rect] : layout) {
            EXPECT_EQ(Control(id)->geometry(), rect) << id;
        }
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Firmware Update Tool 8PSK/COFDM-QAM-Modul   V " QAM_TITLE_VERSION));
        EXPECT_FALSE(window->windowIcon().isNull());

        const std::tuple<int, QString, bool, bool, QString> controls[] = {
            {1000, "&Update", true, false, "download selected firmware"},
            {2, "&Close", true, true, "shut down communication, close application"},
            {1003, "&Select File ...", true, true, "select firmware file for update"},
            {1001, "&default Settings", false, true, "clear current settings, use factory defaults"},
            {1006, "Search &Module", true, true, "search QAM-Module on COM-ports"},
            {1072, "&keep current Settings", false, true, "apply current settings to new firmware"},
        };
        for (const auto& [id, text, visible, enabled, tip] : controls) {
            EXPECT_EQ(Text(id), text) << id;
            EXPECT_EQ(Control(id)->isVisible(), visible) << id;
            EXPECT_EQ(Control(id)->isEnabled(), enabled) << id;
            EXPECT_EQ(Control(id)->toolTip(), tip) << id;
        }
        EXPECT_TRUE(Control<QCheckBox>(1072)->isChecked());
        EXPECT_TRUE(Text(1002).startsWith(QStringLiteral("Device on COM 3\n"))) << Text(1002).toStdString();
        for (int id : {1002, 1004, 1005}) {
            EXPECT_TRUE(Control(id)->toolTip().isEmpty()) << id;
        }
        EXPECT_FALSE(Control<QProgressBar>(1004)->isTextVisible());

        // The focus starts on the first enabled tab stop; Tab follows the template's order. The
        // offscreen platform has no window manager to activate the window: the operator does.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        EXPECT_EQ(window->focusWidget(), Control(2));
        for (int id : {1003, 1006, 2}) {
            QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(window->focusWidget(), Control(id)) << id;
        }
        QTest::keyClick(window->focusWidget(), Qt::Key_Escape);
    });
    m_operator.Run(m_app);
    // Escape ran the close request: the port where the module answered is remembered.
    EXPECT_NE(Settings().find("PrefCOM=3\n"), std::string::npos) << Settings();
}

TEST_F(QtWindow, Update_WrongNameRefusedThenFileWrittenWithWaitCursorAndCloseRefused) {
    const fs::path updates = m_home / "updates";
    fs::create_directories(updates);
    fs::create_directories(SettingsFile().parent_path());
    std::ofstream(SettingsFile()) << "LastNUVDir=" << updates.string() << "\nLastCOM=4\nPrefCOM=3\n";
    qam::update::UpdateFileParts parts;
    parts.appCode = qam::update::SectionInput{qam::update::Bytes(4108, 0x5A), false, std::nullopt};
    const qam::update::Bytes file = qam::update::BuildUpdateFile(parts);
    for (const char* name : {"good.qam", "a.QAM"}) {
        std::ofstream(updates / name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                               static_cast<std::streamsize>(file.size()));
    }
    std::ofstream(updates / "notes.txt") << "not an update\n";
    qam::test::ScopedTimeoutScale faster(1, 10);

    const auto listed = [] {
        const auto* view = Modal<QFileDialog>() == nullptr ? nullptr : Modal<QFileDialog>()->findChild<QListView*>("listView");
        std::set<QString> names;
        for (int row = 0; view != nullptr && row < view->model()->rowCount(view->rootIndex()); ++row) {
            names.insert(view->model()->index(row, 0, view->rootIndex()).data().toString());
        }
        return names;
    };
    const auto choose = [](const char* name) {
        return [name] {
            auto* edit = Modal<QFileDialog>()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            edit->setText(QString::fromLatin1(name));
            QTest::keyClick(edit, Qt::Key_Return);
        };
    };
    m_operator.When(SearchDone, [] { Control<QPushButton>(1003)->click(); });
    // "*.qam" without regard to case, as on Windows: a.QAM is listed, and then refused by name.
    m_operator.When([&] { return listed().size() >= 2; }, [&, choose] {
        QFileDialog* dialog = Modal<QFileDialog>();
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select File For Download ..."));
        EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Update-Files (.qam)"));
        EXPECT_EQ(dialog->nameFilters().size(), 1);
        EXPECT_EQ(fs::path(dialog->directory().absolutePath().toStdString()), updates);
        EXPECT_EQ(listed(), (std::set<QString>{"a.QAM", "good.qam"}));
        choose("a.QAM")();
    });
    m_operator.When([] { return Modal<QMessageBox>() != nullptr; }, [] {
        ExpectBox("ERROR", "File Type not supported!", QMessageBox::Critical, QMessageBox::Ok);
        Modal<QMessageBox>()->button(QMessageBox::Ok)->click();
    });
    m_operator.When([] { return Idle("ready"); }, [] {
        EXPECT_FALSE(Control(1000)->isEnabled());
        Control<QPushButton>(1003)->click();
    });
    m_operator.When([&] { return !listed().empty(); }, choose("good.qam"));
    m_operator.When([] { return Idle("ready") && Control(1000)->isEnabled(); },
                    [] { Control<QPushButton>(1000)->click(); });
    // Inside the reset wait the window serves events: a click must not start a search, and the
    // title bar's close box must not end it.
    m_operator.When([] { return Text(1005) == "reset module ..."; }, [] {
        QTest::mouseClick(Control(1006), Qt::LeftButton);
        EXPECT_EQ(fw::WaitCursorCount(), 1);
        EXPECT_EQ(MainWindow()->cursor().shape(), Qt::WaitCursor);
        MainWindow()->close();
        EXPECT_TRUE(MainWindow() != nullptr && MainWindow()->isVisible());
    });
    m_operator.When([] { return Idle("Update Successful"); }, [&] {
        EXPECT_EQ(fw::WaitCursorCount(), 0);
        EXPECT_EQ(MainWindow()->cursor().shape(), Qt::ArrowCursor);
        const qam::sim::ModuleState state = m_module->State();
        EXPECT_EQ(state.flash[static_cast<int>(qam::sim::FlashArea::AppCode)].size(), 4104u);
        EXPECT_EQ(state.resets, 1);
        EXPECT_EQ(state.commits, 2);
        const auto trace = m_module->Trace();
        EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const auto& entry) { return entry.bytes == qam::sim::ToBytes("VDSP"); }), 2)
            << "one search at the start, one after the reset";
        MainWindow()->close();
    });
    m_operator.Run(m_app);
    EXPECT_NE(Settings().find("LastNUVDir=" + updates.string() + "\n"), std::string::npos) << Settings();
}

TEST_F(QtWindow, FactoryDefaults_QuestionAnsweredNoKeepsTheModuleThenYesResetsIt) {
    const auto question = [] { return Modal<QMessageBox>() != nullptr; };
    const auto answer = [](QMessageBox::StandardButton button) {
        return [button] {
            ExpectBox("Start New Firmware", "Do You Want To Reset The Modul ?", QMessageBox::NoIcon,
                      QMessageBox::Yes | QMessageBox::No);
            Modal<QMessageBox>()->button(button)->click();
        };
    };
    // The button stays hidden; what it runs is the same with a click from here.
    m_operator.When(SearchDone, [] { Control<QPushButton>(1001)->click(); });
    m_operator.When(question, answer(QMessageBox::No));
    m_operator.When([] { return Idle("All Settings Set To Default!"); }, [&] {
        EXPECT_EQ(m_module->State().settingsClears, 1);
        EXPECT_EQ(m_module->State().resets, 0);
        Control<QPushButton>(1001)->click();
    });
    m_operator.When(question, answer(QMessageBox::Yes));
    m_operator.When([&] { return Idle("All Settings Set To Default!") && m_module->State().resets == 1; },
                    [] { MainWindow()->close(); });
    m_operator.Run(m_app);
}

} // namespace
