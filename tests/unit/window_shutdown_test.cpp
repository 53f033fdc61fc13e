#include "tests/unit/WindowHarness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using headless::RegistryValue;
using headless::RegistryWrite;
using qam::test::kRegistryKey;
using qam::test::NoSearchDialog;
using qam::test::WindowTest;

class ShutDownTest : public WindowTest {
protected:
    static std::vector<RegistryWrite> DirectoryOnly(const std::string& directory) {
        return {RegistryWrite{kRegistryKey, "LastNUVDir", RegistryValue::String(directory, false)}};
    }
};

TEST_F(ShutDownTest, AfterAScanThatFoundNothingOnlyTheDirectoryIsWritten) {
    StoreAbsentPorts();
    Registry().Put(kRegistryKey, "LastNUVDir", RegistryValue::String("C:\\updates"));
    CUpdaterDialog dialog;
    const INT_PTR result = Run(dialog, {[&] {
        EXPECT_EQ(dialog.m_search.foundPort, -1);
        EXPECT_EQ(Control(dialog, IDC_STATUS_UPPER).text, "no Device found !");
        EXPECT_TRUE(Registry().Writes().empty()) << "nothing is written before the close";
    }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Registry().Writes(), DirectoryOnly("C:\\updates"));
    EXPECT_EQ(Registry().Value(kRegistryKey, "PrefCOM"), RegistryValue::Dword(qam::test::kAbsentPreferredPort));
    EXPECT_EQ(Registry().OpenHandles(), 0);
    EXPECT_TRUE(Desktop().Boxes().empty());
}

TEST_F(ShutDownTest, BeforeAnySearchHasEndedOnlyTheDirectoryIsWritten) {
    NoSearchDialog dialog;
    Run(dialog, {[&] { EXPECT_EQ(dialog.m_search.foundPort, -2); }});
    EXPECT_EQ(Registry().Writes(), DirectoryOnly(""));
}

TEST_F(ShutDownTest, AFoundPortIsSavedAsThePreferredPort) {
    NoSearchDialog dialog;
    Run(dialog, {[&] {
        // As a successful search leaves it: the preferred port is the found one.
        dialog.m_search.foundPort = 7;
        dialog.m_search.preferredPort = 7;
    }});
    const std::vector<RegistryWrite> expected{
        {kRegistryKey, "LastNUVDir", RegistryValue::String("", false)},
        {kRegistryKey, "PrefCOM", RegistryValue::Dword(7)},
    };
    EXPECT_EQ(Registry().Writes(), expected);
}

TEST_F(ShutDownTest, AFullDirectoryIsWrittenBackWhole) {
    const std::string full(260, 'f');
    Registry().Put(kRegistryKey, "LastNUVDir", RegistryValue::String(full, false));
    NoSearchDialog dialog;
    Run(dialog, {});
    EXPECT_EQ(Registry().Writes(), DirectoryOnly(full));
}

TEST_F(ShutDownTest, KeyNotOpenableForWritingSavesNothingAndStillCloses) {
    StoreAbsentPorts();
    Registry().m_failOpenForWrite = true;
    CUpdaterDialog dialog;
    const INT_PTR result = Run(dialog, {[&] { dialog.m_search.foundPort = 3; }});
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(Registry().Writes().empty());
    EXPECT_TRUE(Desktop().Boxes().empty());
    EXPECT_FALSE(dialog.m_link.IsOpen());
}

TEST_F(ShutDownTest, EveryCloseRequestRunsTheSameShutDown) {
    struct CloseCase {
        const char* name;
        std::function<void(CUpdaterDialog&)> close;
    };
    const std::vector<CloseCase> cases = {
        {"Close button", [](CUpdaterDialog& d) { Desktop().Click(d.GetDlgItem(IDCANCEL).m_hWnd); }},
        {"Escape on the window", [](CUpdaterDialog& d) { Desktop().PressKey(d.m_hWnd, VK_ESCAPE); }},
        {"Escape on a control", [](CUpdaterDialog& d) { Desktop().PressKey(d.GetDlgItem(IDC_SEARCH_MODULE).m_hWnd, VK_ESCAPE); }},
        {"title bar's close box", [](CUpdaterDialog& d) { Desktop().CloseBox(d.m_hWnd); }},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        Registry().Reset();
        Registry().Put(kRegistryKey, "LastNUVDir", RegistryValue::String("E:\\x"));
        NoSearchDialog dialog;
        const INT_PTR result = Run(dialog, {[&] {
            dialog.m_search.foundPort = 5;
            dialog.m_search.preferredPort = 5;
            c.close(dialog);
        }}, false);
        EXPECT_EQ(result, IDCANCEL);
        const std::vector<RegistryWrite> expected{
            {kRegistryKey, "LastNUVDir", RegistryValue::String("E:\\x", false)},
            {kRegistryKey, "PrefCOM", RegistryValue::Dword(5)},
        };
        EXPECT_EQ(Registry().Writes(), expected);
    }
}

struct ReportCase {
    ResultCode code;
    std::vector<char> reply;
    const char* detail;
    const char* text; // nullptr: no box
};

TEST_F(ShutDownTest, ReportErrorShowsOneErrorBoxOwnedByTheWindow) {
    const std::vector<ReportCase> cases = {
        {RESULT_OK, {}, nullptr, nullptr},
        {RESULT_OK, {}, "detail", nullptr},
        {ERR_COM_WRITE, {}, nullptr, "Can Not Write To COM"},
        {ERR_NO_RESPONSE, {}, nullptr, "No Response"},
        {ERR_BAD_RESPONSE, {'A', 'B', '\r', '\n', 0, 0, 0, 0}, nullptr, "Invalid Response [ AB ]"},
        {ERR_BAD_RESPONSE, {'A', ' ', 'B', '.'}, nullptr, "Invalid Response [ A ]"},
        {ERR_BAD_RESPONSE, {'\n', 'B'}, nullptr, "Invalid Response [  ]"},
        {ERR_BAD_RESPONSE, {}, nullptr, "Invalid Response [  ]"},
        {ERR_MODULE_REFUSED, {}, nullptr, "Unknown Error"},
        {RESULT_NOT_WIRED, {}, nullptr, "Unknown Error"},
        {ERR_FILE_OPEN, {}, nullptr, "Can Not Open File"},
        {ERR_FILE_FORMAT, {}, nullptr, "Illegal File Format"},
        {ERR_FILE_TOO_BIG, {}, nullptr, "File contain to much data"},
        {ERR_FILE_READ, {}, nullptr, "Read Access Error!"},
        {ERR_FILE_TYPE, {}, nullptr, "File Type not supported!"},
        {ERR_SECTION_NOT_FOUND, {}, nullptr, "Section Not Found"},
        {ERR_NO_MEMORY, {}, nullptr, "Insufficient Memory"},
        {ERR_NO_RESPONSE, {}, "at step 3", "No Response\nat step 3"},
        {ERR_BAD_RESPONSE, {'N', 'O'}, "more", "Invalid Response [ NO ]\nmore"},
    };
    NoSearchDialog dialog;
    std::vector<headless::Box> expected;
    Run(dialog, {[&] {
        for (const ReportCase& c : cases) {
            if (c.text != nullptr) {
                Desktop().ScriptBox(c.text, IDOK);
                expected.push_back(headless::Box{dialog.m_hWnd, c.text, "ERROR", MB_ICONERROR | MB_OK, IDOK});
            }
            dialog.ReportError(c.code, c.reply, c.detail);
        }
    }});
    EXPECT_EQ(Desktop().Boxes(), expected);
}

} // namespace
