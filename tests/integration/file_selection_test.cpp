// Select File: the open-file dialog as it is shown, the remembered directory, the ".qam" rule and
// the Update enabling rule; through the headless window with the module found by the simulator.
#include "tests/integration/UpdateWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace headless {
inline void PrintTo(const ShownFileDialog& shown, std::ostream* os) {
    std::string filter = shown.filter;
    std::replace(filter.begin(), filter.end(), '\0', '|');
    *os << "{\"" << shown.title << "\", filter \"" << filter << "\", flags " << shown.flags << ", dir \""
        << shown.initialDir << "\", ext \"" << shown.defaultExt << "\", file \"" << shown.initialFile << "\", "
        << shown.fileBytes << "/" << shown.fileTitleBytes << "}";
}
} // namespace headless

namespace {

using headless::Box;
using headless::RegistryValue;
using headless::ShownFileDialog;
using qam::test::kRegistryKey;
using qam::test::ReportBox;

class FileSelectionTest : public qam::test::UpdateWindowTest {
protected:
    void SetUp() override {
        UpdateWindowTest::SetUp();
        StartModule(Module());
    }

    static std::string LastDirectory(const CUpdaterDialog& dialog) { return dialog.m_lastDirectory.data(); }
    static void Select(const CWnd& dialog, std::optional<std::string> answer) {
        headless::Host::Instance().ScriptFileDialog(std::move(answer));
        Desktop().Click(dialog.GetDlgItem(IDC_SELECT_FILE).m_hWnd);
    }
};

TEST_F(FileSelectionTest, TheDialogIsShownWithItsTitleFilterFlagsAndTheLastDirectory) {
    Registry().Put(kRegistryKey, "LastNUVDir", RegistryValue::String("D:\\old\\fw", false));
    CUpdaterDialog dialog;
    Run(dialog, {[&] { Select(dialog, std::nullopt); },
                 [&] {
                     const ShownFileDialog expected{dialog.m_hWnd,
                                                    "Select File For Download ...",
                                                    std::string("Update-Files (.qam)\0*.qam\0\0", 27),
                                                    0x1006 | 0x80000,
                                                    "D:\\old\\fw",
                                                    "",
                                                    "",
                                                    260,
                                                    64};
                     EXPECT_EQ(headless::Host::Instance().FileDialogs(), std::vector<ShownFileDialog>{expected});
                 }});
}

struct ChoiceCase {
    const char* name;
    std::optional<std::string> answer;
    std::string directory; // the last directory afterwards
    bool accepted;
    bool box;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class FileChoiceTest : public FileSelectionTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(FileChoiceTest, RemembersTheDirectoryAcceptsOnlyQamAndSetsUpdate) {
    const ChoiceCase& c = GetParam();
    Registry().Put(kRegistryKey, "LastNUVDir", RegistryValue::String("D:\\before", false));
    if (c.box) {
        Desktop().ScriptBox("File Type not supported!", IDOK);
    }
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
                     ASSERT_EQ(dialog.m_search.moduleFound, 1);
                     // A file accepted before: every choice starts by forgetting it.
                     dialog.m_updateFilePath = "C:\\earlier\\x.qam";
                     dialog.m_fileSelected = 1;
                     Control(dialog, IDC_UPDATE).enabled = true;
                     Control(dialog, IDC_STATUS_LOWER).texts.clear();
                     Select(dialog, c.answer);
                 },
                 [&] {
                     EXPECT_EQ(LastDirectory(dialog), c.directory);
                     EXPECT_EQ(dialog.m_fileSelected, c.accepted ? 1 : 0);
                     EXPECT_EQ(dialog.m_updateFilePath, c.accepted ? *c.answer : "");
                     EXPECT_EQ(Control(dialog, IDC_UPDATE).enabled, c.accepted);
                     EXPECT_EQ(Lower(dialog), std::vector<std::string>{"ready"});
                     EXPECT_EQ(Desktop().Boxes(),
                               c.box ? std::vector<Box>{ReportBox(dialog, "File Type not supported!")} : std::vector<Box>{});
                 }});
    // The directory is saved at close whatever was chosen.
    EXPECT_EQ(Registry().Value(kRegistryKey, "LastNUVDir"), RegistryValue::String(c.directory, false));
}

INSTANTIATE_TEST_SUITE_P(
    Choices, FileChoiceTest,
    ::testing::Values(ChoiceCase{"CancelForgetsTheFileAndDisablesUpdate", std::nullopt, "D:\\before", false, false},
                      ChoiceCase{"AQamFileInADirectory", "C:\\fw\\a.qam", "C:\\fw", true, false},
                      ChoiceCase{"AQamFileInTheRootKeepsTheDriveAndColon", "C:\\a.qam", "C:", true, false},
                      ChoiceCase{"CapitalQamIsRefusedButItsDirectoryKept", "C:\\fw\\a.QAM", "C:\\fw", false, true},
                      ChoiceCase{"ABinFileIsRefusedButItsDirectoryKept", "E:\\images\\new\\a.bin", "E:\\images\\new",
                                 false, true},
                      ChoiceCase{"QamFollowedByAnotherEndingIsRefused", "C:\\fw\\a.qam.old", "C:\\fw", false, true}),
    [](const ::testing::TestParamInfo<ChoiceCase>& param) { return std::string(param.param.name); });

TEST_F(FileSelectionTest, AFileChosenBeforeAnyModuleWaitsForASearchToEnableUpdate) {
    StoreAbsentPorts();
    CUpdaterDialog dialog;
    Run(dialog, {[&] {
                     ASSERT_EQ(dialog.m_search.moduleFound, 0);
                     // Its button is disabled without a module; the command itself takes the file.
                     headless::Host::Instance().ScriptFileDialog("C:\\fw\\a.qam");
                     Desktop().PostMessage(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_SELECT_FILE, BN_CLICKED), 0);
                 },
                 [&] {
                     EXPECT_EQ(dialog.m_fileSelected, 1);
                     EXPECT_FALSE(Control(dialog, IDC_UPDATE).enabled);
                     dialog.m_search.preferredPort = m_sim->Port();
                     Desktop().Click(dialog.GetDlgItem(IDC_SEARCH_MODULE).m_hWnd);
                 },
                 [&] {
                     EXPECT_EQ(dialog.m_search.moduleFound, 1);
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     EXPECT_TRUE(Desktop().Boxes().empty());
                 }});
}

TEST_F(FileSelectionTest, TheFileIsNotOpenedWhenChosen) {
    CUpdaterDialog dialog;
    const std::string absent = (m_dir / "absent.qam").string();
    Run(dialog, {[&] { Select(dialog, absent); },
                 [&] {
                     EXPECT_EQ(dialog.m_updateFilePath, absent);
                     EXPECT_TRUE(Control(dialog, IDC_UPDATE).enabled);
                     EXPECT_TRUE(Desktop().Boxes().empty());
                 }});
}

} // namespace
