#pragma once

#include "common/Resource.h"
#include "framework/headless/Desktop.h"
#include "ui/UpdaterDialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The main window on the headless desktop, driven as an operator would: steps run in order once
// the window has nothing else to do; an unexpected box or an idle window fails the test.
namespace qam::test {

inline const std::string kRegistryKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Orvane\\NUV2";

// Ports that exist on neither test build (the Windows tier maps COM3 and COM9).
inline constexpr int kAbsentPreferredPort = 20;
inline constexpr int kAbsentPortCount = 4; // from 20 with a count of 4: ports 16 to 19

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Desktop().Reset();
        Desktop().SetStrictBoxes(true);
        Desktop().SetFailureHandler([](const std::string& what) { ADD_FAILURE() << what; });
    }
    void TearDown() override { Desktop().Reset(); }

    static headless::Desktop& Desktop() { return headless::Desktop::Instance(); }
    static headless::Registry& Registry() { return Desktop().GetRegistry(); }

    // A key whose scan visits only ports that do not exist.
    static void StoreAbsentPorts() {
        Registry().Put(kRegistryKey, "LastCOM", headless::RegistryValue::Dword(kAbsentPortCount));
        Registry().Put(kRegistryKey, "PrefCOM", headless::RegistryValue::Dword(kAbsentPreferredPort));
    }

    // Runs the dialog modally with these operator steps; the window is closed after the last
    // one with the Close button unless a step has ended it.
    static INT_PTR Run(CDialog& dialog, std::vector<std::function<void()>> steps, bool closeAtEnd = true) {
        for (auto& step : steps) {
            Desktop().Operate(std::move(step));
        }
        if (closeAtEnd) {
            Desktop().Operate([&dialog] { Desktop().Click(dialog.GetDlgItem(IDCANCEL).m_hWnd); });
        }
        return dialog.DoModal();
    }

    static headless::Window& Control(const CWnd& dialog, int id) {
        return Desktop().WindowOf(dialog.GetDlgItem(id).m_hWnd);
    }
    static headless::Window& WindowOf(const CWnd& window) { return Desktop().WindowOf(window.m_hWnd); }
};

// The main window with the module search replaced by a recorder: its own map entry for the
// Search Module command comes before the window's, as a derived class's map does.
class NoSearchDialog : public CUpdaterDialog {
public:
    const fw::MessageMap* GetMessageMap() const override { return &map; }

    void RecordSearch() { ++m_searches; }

    int m_searches = 0;

    static constexpr fw::MessageMapEntry entries[] = {fw::OnCommand<&NoSearchDialog::RecordSearch>(IDC_SEARCH_MODULE)};
    static inline const fw::MessageMap map{&CUpdaterDialog::messageMap, entries};
};

} // namespace qam::test
